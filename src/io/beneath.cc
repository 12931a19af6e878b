#include "io/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace talvenplan {
namespace {

long OpenAt2(int dir, const char* path, int flags) {
  open_how how{};
  how.flags = static_cast<unsigned>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return ::syscall(SYS_openat2, dir, path, &how, sizeof how);
}

Fd Refused() {
  errno = EACCES;
  return Fd();
}

// openat2 cannot be used: the kernel lacks it (ENOSYS), or a container's
// system call filter refuses it (EPERM). Then a resolved path that was
// checked is opened as it is, and a link swapped in between the check and
// the open is not caught.
bool WithoutOpenat2(int error) { return error == ENOSYS || error == EPERM; }

}  // namespace

bool PathWithin(std::string_view path, std::string_view root) {
  if (root.empty() || path.empty() || path[0] != '/') return false;
  if (root == "/") return true;
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

Fd OpenResolved(const Root& root, const char* resolved, int flags) {
  flags |= O_CLOEXEC;
  if (!root.confined) return Fd(::open(resolved, flags));
  if (!PathWithin(resolved, root.path)) return Refused();
  const char* inside = resolved + std::strlen(root.path);
  while (*inside == '/') ++inside;
  if (*inside == '\0') inside = ".";
  long fd = OpenAt2(root.fd.get(), inside, flags);
  if (fd >= 0) return Fd(static_cast<int>(fd));
  if (WithoutOpenat2(errno)) return Fd(::open(resolved, flags | O_NOFOLLOW));
  return errno == EXDEV ? Refused() : Fd();
}

Fd OpenBeneath(const Root& root, const char* name, int flags) {
  flags |= O_CLOEXEC;
  if (!root.confined) return Fd(::open(name, flags));
  if (!root.fd) return Refused();

  // Most names stay in the working directory, which lies inside the root:
  // a plain file, or a link to a neighbour.
  long fd = OpenAt2(AT_FDCWD, name, flags);
  if (fd >= 0) return Fd(static_cast<int>(fd));

  // The name leads out of the working directory (EXDEV): through a link
  // elsewhere inside the root, or out of it. Or a link through ".." met a
  // rename somewhere on the system while it was resolved (EAGAIN), or
  // openat2 cannot be used. The resolved path, which has no link and no
  // "..", is opened from the root, again refusing to leave it, so that a
  // link swapped in meanwhile cannot lead out either.
  if (errno != EXDEV && errno != EAGAIN && !WithoutOpenat2(errno)) {
    return Fd();
  }
  char resolved[PATH_MAX];
  if (::realpath(name, resolved) == nullptr) return Fd();
  return OpenResolved(root, resolved, flags);
}

OpenFile OpenRegularBeneath(const Root& root, const char* name) {
  Fd fd;
  for (int tries = 0; tries < kStaleTries; ++tries) {
    fd = OpenBeneath(root, name, O_RDONLY | O_NONBLOCK);
    if (fd || errno != ESTALE) break;
  }
  return KeepRegular(std::move(fd));
}

}  // namespace talvenplan
