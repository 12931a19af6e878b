#include "client/secret.h"

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "io/fd.h"

namespace talvenplan::client {

std::string ReadSecret(const std::string& path, std::string_view what,
                       std::string& secret) {
  const bool standard_input = path == "-";
  const std::string source = standard_input ? "standard input" : path;
  Fd file;
  int fd = 0;
  if (!standard_input) {
    file = Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return "can't open " + path + ": " + ::strerror(errno);
    fd = file.get();
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IROTH) != 0) {
      ::warnx("warning: every user can read the %.*s in %s (chmod o-r %s)",
              static_cast<int>(what.size()), what.data(), path.c_str(),
              path.c_str());
    }
  }
  // A byte at a time: whatever follows the line on standard input is not
  // ours to take.
  std::string line;
  for (char c;;) {
    long got = ReadSome(fd, &c, 1);
    if (got < 0) return "can't read " + source + ": " + ::strerror(errno);
    if (got == 0 || c == '\n') break;
    if (line.size() == kSecretMost) {
      return "the first line of " + source + " is longer than " +
             std::to_string(kSecretMost) + " bytes: it holds no " +
             std::string(what);
    }
    line += c;
  }
  if (line.ends_with('\r')) line.pop_back();
  if (line.empty()) {
    return "no " + std::string(what) + " in " + source +
           ": its first line is empty";
  }
  secret = std::move(line);
  return {};
}

}  // namespace talvenplan::client
