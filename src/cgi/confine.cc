#include "cgi/confine.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace talvenplan {

void ResolveRoot(const char* root_text, Root& root) {
  root.confined = root_text != nullptr;
  root.path[0] = '\0';
  if (!root.confined) return;
  if (::realpath(root_text, root.path) == nullptr) {
    root.path[0] = '\0';
    return;
  }
  root.fd = Fd(::open(root.path, O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root.fd) root.path[0] = '\0';
}

bool EnterDirectory(const char* directory, const Root& root) {
  if (::chdir(directory) != 0) return false;
  if (!root.confined) return true;
  // getcwd reports the directory the kernel resolved, symbolic links
  // followed, whatever path led there.
  char here[PATH_MAX];
  return ::getcwd(here, sizeof here) != nullptr && PathWithin(here, root.path);
}

}  // namespace talvenplan
