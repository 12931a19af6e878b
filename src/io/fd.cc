#include "io/fd.h"

#include <errno.h>
#include <unistd.h>

namespace talvenplan {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

Fd::~Fd() { Close(); }

int Fd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

bool Fd::Close() {
  if (fd_ < 0) return true;
  // On Linux the descriptor is gone even when close reports EINTR, so it is
  // never retried.
  int result = ::close(Release());
  return result == 0;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

long ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace talvenplan
