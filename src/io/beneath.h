// Opening files so that they resolve inside a site's root.
//
// A site that sets a root (TALVEN_ROOT) keeps every file a request opens,
// creates, renames or removes inside it, whatever symbolic links lie on the
// way. The kernel enforces this (openat2 with RESOLVE_BENEATH), so a link
// swapped in at any moment cannot lead out. On a kernel without openat2 the
// same answers come from resolving the path first and checking it, which a
// link swapped in between the check and the open can defeat.
#ifndef TALVENPLAN_IO_BENEATH_H_
#define TALVENPLAN_IO_BENEATH_H_

#include <limits.h>

#include <string_view>

#include "io/fd.h"
#include "io/file.h"

namespace talvenplan {

// The site's root. Without one (`confined` false) names are used as they
// are.
struct Root {
  bool confined = false;  // a root is set
  // The root with every symbolic link followed, and the directory opened;
  // empty and invalid when it cannot be resolved, and then nothing lies
  // inside it.
  char path[PATH_MAX] = "";
  Fd fd;
};

// True when `path` is `root` or lies below it, compared by whole path
// components ("/data" holds "/data/x" but not "/data2"). Both are absolute
// paths without "." or ".." components and without a trailing slash, except
// for the root directory "/" itself.
bool PathWithin(std::string_view path, std::string_view root);

// Opens `name`, relative to the working directory, with `flags` (O_CLOEXEC
// is added; nothing is created). Without a root it is a plain open. Under a
// root the working directory must lie inside it, and the file must resolve
// inside it too; one that does not fails with EACCES, like a file that may
// not be opened.
Fd OpenBeneath(const Root& root, const char* name, int flags);

// Opens `resolved`, an absolute path with every link already followed, the
// same way: under a root it is opened from the root's descriptor, and must
// stay inside.
Fd OpenResolved(const Root& root, const char* resolved, int flags);

// Opens the regular file `name` for reading as OpenRegular does, resolved as
// OpenBeneath resolves it.
OpenFile OpenRegularBeneath(const Root& root, const char* name);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_BENEATH_H_
