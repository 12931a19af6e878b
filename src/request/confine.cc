#include "request/confine.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace talvenplan {

bool PathWithin(std::string_view path, std::string_view root) {
  if (root == "/") return !path.empty() && path[0] == '/';
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

bool WorkingDirectoryWithin(const char* root) {
  // getcwd reports the directory the kernel resolved, symbolic links
  // followed; realpath does the same for the configured root.
  char here[PATH_MAX];
  char resolved_root[PATH_MAX];
  if (::getcwd(here, sizeof here) == nullptr) return false;
  if (::realpath(root, resolved_root) == nullptr) return false;
  return PathWithin(here, resolved_root);
}

}  // namespace talvenplan
