#include "io/file.h"

#include <errno.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cassert>
#include <cstdint>
#include <cstring>
#include <utility>

namespace talvenplan {
namespace {

constexpr int kAttempts = 100;

std::uint64_t Seed() {
  std::uint64_t seed = 0;
  if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) == sizeof seed) {
    return seed;
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_nsec) ^
         (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
         (static_cast<std::uint64_t>(::getpid()) << 40);
}

}  // namespace

UniqueFile CreateUniqueFile(int dir, char* name) {
  std::size_t length = std::strlen(name);
  assert(length >= kRandomChars &&
         std::strcmp(name + length - kRandomChars, "XXXXXX") == 0);
  char* random = name + length - kRandomChars;
  std::uint64_t state = Seed();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // splitmix64: a fresh, well-mixed value per attempt.
    state += 0x9e3779b97f4a7c15u;
    std::uint64_t bits = state;
    bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9u;
    bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebu;
    bits ^= bits >> 31;
    for (std::size_t i = 0; i < kRandomChars; ++i) {
      random[i] = kNameAlphabet[bits % kNameAlphabet.size()];
      bits /= kNameAlphabet.size();
    }
    int fd = ::openat(
        dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return {Fd(fd), false};
    if (errno != EEXIST) return {Fd(), false};
  }
  return {Fd(), true};
}

bool WriteDurably(Fd& file, int dir, const char* name,
                  std::initializer_list<std::string_view> parts) {
  bool written = true;
  for (std::string_view part : parts) {
    written = written && WriteAll(file.get(), part);
  }
  written = written && ::fsync(file.get()) == 0;
  if (!file.Close() || !written) {
    ::unlinkat(dir, name, 0);
    return false;
  }
  return true;
}

OpenFile KeepRegular(Fd fd) {
  OpenFile file;
  struct stat info {};
  if (!fd) {
    file.error = errno;
  } else if (::fstat(fd.get(), &info) != 0) {
    file.error = errno;
  } else if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    file.error = ENXIO;
  } else {
    file.directory = S_ISDIR(info.st_mode);
    file.fd = std::move(fd);
    file.id = {info.st_dev, info.st_ino};
    file.mode = info.st_mode & 0777;
  }
  return file;
}

OpenFile OpenRegular(int dir, const char* name, int flags) {
  int fd = -1;
  for (int tries = 0; tries < kStaleTries; ++tries) {
    fd = ::openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd >= 0 || errno != ESTALE) break;
  }
  return KeepRegular(Fd(fd));
}

bool SetMark(int fd, const char* name, std::string_view value) {
  return ::fsetxattr(fd, name, value.data(), value.size(), 0) == 0;
}

bool HasMark(int fd, const char* name, std::string_view value) {
  char held[16];
  if (value.size() > sizeof held) return false;
  ssize_t size = ::fgetxattr(fd, name, held, sizeof held);
  return size >= 0 &&
         std::string_view(held, static_cast<std::size_t>(size)) == value;
}

Fd OpenDirectory(const char* path) {
  return Fd(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool SyncDirectory(int dir) { return ::fsync(dir) == 0; }

}  // namespace talvenplan
