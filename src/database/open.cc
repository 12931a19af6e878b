#include "database/open.h"

#include <errno.h>
#include <fcntl.h>

namespace talvenplan {

Fd OpenDatabase(const Request& request, int flags, mode_t mode) {
  if (request.confined && request.name.find('/') != std::string_view::npos) {
    errno = EACCES;
    return Fd();
  }
  return Fd(::open(request.name.data(), flags | O_CLOEXEC, mode));
}

}  // namespace talvenplan
