// Confinement of requests to a site's data root (TALVEN_ROOT).
#ifndef TALVENPLAN_REQUEST_CONFINE_H_
#define TALVENPLAN_REQUEST_CONFINE_H_

#include <limits.h>

#include <string_view>

namespace talvenplan {

// The site's root as the program found it at start, before any change of
// directory: a relative TALVEN_ROOT means the same for every request.
struct Root {
  bool confined = false;  // TALVEN_ROOT is set
  // The root with every symbolic link followed; empty when it cannot be
  // resolved, and then no directory lies below it.
  char path[PATH_MAX];
};

// Resolves `root_text` (TALVEN_ROOT, or nullptr when it is not set).
void ResolveRoot(const char* root_text, Root& root);

// True when `path` is `root` or lies below it, compared by whole path
// components ("/data" holds "/data/x" but not "/data2"). Both are absolute
// paths without "." or ".." components and without a trailing slash, except
// for the root directory "/" itself.
bool PathWithin(std::string_view path, std::string_view root);

// Changes to `directory` and, when the request is confined, checks that the
// kernel's resolved working directory lies within the root. False when
// either fails.
bool EnterDirectory(const char* directory, const Root& root);

}  // namespace talvenplan

#endif  // TALVENPLAN_REQUEST_CONFINE_H_
