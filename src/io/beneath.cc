#include "io/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace talvenplan {
namespace {

long OpenAt2(int dir, const char* path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<unsigned>(flags);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return ::syscall(SYS_openat2, dir, path, &how, sizeof how);
}

Fd Refused() {
  errno = EACCES;
  return Fd();
}

// openat2 cannot be used: the kernel lacks it (ENOSYS), or a container's
// system call filter refuses it (EPERM). Resolve the path and check it,
// then open it. A link swapped in between the two is not caught.
bool WithoutOpenat2(int error) { return error == ENOSYS || error == EPERM; }

Fd OpenChecked(const Root& root, const char* name, int flags, mode_t mode) {
  char resolved[PATH_MAX];
  if (::realpath(name, resolved) == nullptr) return Fd();
  if (!PathWithin(resolved, root.path)) return Refused();
  return Fd(::open(resolved, flags | O_NOFOLLOW, mode));
}

}  // namespace

bool PathWithin(std::string_view path, std::string_view root) {
  if (root.empty() || path.empty() || path[0] != '/') return false;
  if (root == "/") return true;
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

Fd OpenResolved(const Root* root, const char* resolved, int flags,
                mode_t mode) {
  flags |= O_CLOEXEC;
  if (root == nullptr) return Fd(::open(resolved, flags, mode));
  if (!PathWithin(resolved, root->path)) return Refused();
  const char* inside = resolved + std::strlen(root->path);
  while (*inside == '/') ++inside;
  if (*inside == '\0') inside = ".";
  long fd = OpenAt2(root->fd.get(), inside, flags, mode);
  if (fd < 0 && WithoutOpenat2(errno)) {
    return Fd(::open(resolved, flags | O_NOFOLLOW, mode));
  }
  if (fd < 0 && errno == EXDEV) return Refused();
  return Fd(static_cast<int>(fd));
}

Fd OpenBeneath(const Root* root, const char* name, int flags, mode_t mode) {
  flags |= O_CLOEXEC;
  if (root == nullptr) return Fd(::open(name, flags, mode));
  if (!root->fd) return Refused();

  // Most names stay in the working directory, which lies inside the root:
  // a plain file, or a link to a neighbour.
  long fd = OpenAt2(AT_FDCWD, name, flags, mode);
  if (fd >= 0) return Fd(static_cast<int>(fd));
  if (WithoutOpenat2(errno)) return OpenChecked(*root, name, flags, mode);
  if (errno != EXDEV && errno != EAGAIN) return Fd();

  // The name leads out of the working directory: through a link elsewhere
  // inside the root, or out of it. (EAGAIN: a link through ".." met a
  // rename somewhere on the system while it was resolved; the resolved path
  // has no "..".) The resolved path is opened from the
  // root, again refusing to leave it, so that a link swapped in meanwhile
  // cannot lead out either.
  char resolved[PATH_MAX];
  if (::realpath(name, resolved) == nullptr) return Refused();
  return OpenResolved(root, resolved, flags, mode);
}

}  // namespace talvenplan
