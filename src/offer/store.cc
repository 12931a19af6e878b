#include <unistd.h>

#include <string_view>

#include "offer/offer.h"
#include "request/fd.h"
#include "request/unique_file.h"

namespace talvenplan {
int RunStore(const Request& request, Output& out) {
  // The name is chosen and the file created in one step, so no other request
  // can take the name in between. A leading "." keeps the file out of
  // listings.
  char name[] = ".XXXXXX";
  UniqueFile file = CreateUniqueFile(name);
  if (!file.fd) {
    // Store's failures end the process normally: the client reads the
    // message and decides.
    Fail(out, file.names_exhausted ? "can't create temporary file"
                                   : "can't open temporary file");
    return 0;
  }

  // The text goes in whole, NUL bytes included. Only a file that holds all
  // of it is an offer: an empty text, a short write or a failed close leave
  // no file behind.
  bool stored = !request.text.empty() &&
                WriteAll(file.fd.get(), request.text) &&
                ::fsync(file.fd.get()) == 0;
  if (!file.fd.Close()) stored = false;
  if (!stored) {
    ::unlink(name);
    Fail(out, "can't write temporary file");
    return 0;
  }

  out.Write('s');
  out.Write(std::string_view(name));
  return 0;
}

}  // namespace talvenplan
