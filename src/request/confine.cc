#include "request/confine.h"

#include <stdlib.h>
#include <unistd.h>

namespace talvenplan {

void ResolveRoot(const char* root_text, Root& root) {
  root.confined = root_text != nullptr;
  root.path[0] = '\0';
  if (root.confined && ::realpath(root_text, root.path) == nullptr) {
    root.path[0] = '\0';
  }
}

bool PathWithin(std::string_view path, std::string_view root) {
  if (root.empty() || path.empty() || path[0] != '/') return false;
  if (root == "/") return true;
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || path[root.size()] == '/';
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
