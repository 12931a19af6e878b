// Confinement of requests to a site's data root (TALVEN_ROOT).
#ifndef TALVENPLAN_REQUEST_CONFINE_H_
#define TALVENPLAN_REQUEST_CONFINE_H_

#include <string_view>

namespace talvenplan {

// True when `path` is `root` or lies below it, compared by whole path
// components ("/data" holds "/data/x" but not "/data2"). Both are absolute
// paths without "." or ".." components and without a trailing slash, except
// for the root directory "/" itself.
bool PathWithin(std::string_view path, std::string_view root);

// True when the working directory, with every symbolic link followed, is
// `root` (also resolved) or lies below it. False when either cannot be
// resolved.
bool WorkingDirectoryWithin(const char* root);

}  // namespace talvenplan

#endif  // TALVENPLAN_REQUEST_CONFINE_H_
