#include "request/unique_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace talvenplan {
namespace {

constexpr char kNameBytes[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
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

UniqueFile CreateUniqueFile(char* path) {
  char* name = path + std::strlen(path) - 6;
  std::uint64_t state = Seed();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // splitmix64: a fresh, well-mixed value per attempt.
    state += 0x9e3779b97f4a7c15u;
    std::uint64_t bits = state;
    bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9u;
    bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebu;
    bits ^= bits >> 31;
    for (int i = 0; i < 6; ++i) {
      name[i] = kNameBytes[bits % 62];
      bits /= 62;
    }
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    0666);
    if (fd >= 0) return {Fd(fd), false};
    if (errno != EEXIST) return {Fd(), false};
  }
  return {Fd(), true};
}

}  // namespace talvenplan
