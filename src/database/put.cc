#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "database/commands.h"
#include "database/key_check.h"
#include "database/open.h"
#include "request/fd.h"
#include "request/line_reader.h"
#include "request/unique_file.h"

namespace talvenplan {
namespace {

// The new content is written under this name, next to the database, and
// then renamed over it. The leading "." keeps it out of listings.
constexpr std::string_view kTempName = ".put-XXXXXX";

// Writes the temporary file's name pattern for `target` into `path`: the
// directory part of `target` (up to its last '/'), then kTempName. False
// when it does not fit.
bool MakeTempPattern(std::string_view target, char (&path)[PATH_MAX]) {
  std::size_t slash = target.rfind('/');
  std::size_t directory = slash == std::string_view::npos ? 0 : slash + 1;
  if (directory + kTempName.size() >= sizeof path) return false;
  std::memcpy(path, target.data(), directory);
  std::memcpy(path + directory, kTempName.data(), kTempName.size());
  path[directory + kTempName.size()] = '\0';
  return true;
}

}  // namespace

int RunPut(const Request& request, Output& out) {
  // Demonstration databases are never written, and the client is not told.
  if (request.name.starts_with("DEMO_")) {
    out.Write('s');
    return 0;
  }

  Fd file = OpenDatabase(request, O_RDONLY);
  if (!file) return Fail(out, "can't open database on server");
  LineReader reader(file.get(), request.line_buffer);
  KeyCheckResult check = CheckKey(reader, request.key);
  if (check.outcome != KeyCheck::kMatch) return RefuseKey(check, out);
  struct stat old {};
  if (::fstat(file.get(), &old) != 0) {
    return Fail(out, "can't write database on server");
  }
  file.Close();

  // A link is followed, so that the link stays and its target gets the new
  // content. A database this process may not write stays as it is, as it
  // would if it were overwritten in place.
  char resolved[PATH_MAX];
  const char* target = request.name.data();
  struct stat link {};
  if (::lstat(target, &link) == 0 && S_ISLNK(link.st_mode)) {
    if (::realpath(target, resolved) == nullptr) {
      return Fail(out, "can't write database on server");
    }
    target = resolved;
  }
  char temp_path[PATH_MAX];
  if (::faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) != 0 ||
      !MakeTempPattern(target, temp_path)) {
    return Fail(out, "can't write database on server");
  }
  UniqueFile temp = CreateUniqueFile(temp_path);
  if (!temp.fd) return Fail(out, "can't write database on server");

  // The whole text, on disk, before the old content goes: a failure at any
  // step leaves the database as it was.
  int fd = temp.fd.get();
  bool written = ::fchmod(fd, old.st_mode & 0777) == 0 &&
                 WriteAll(fd, request.text) && ::fsync(fd) == 0;
  bool closed = temp.fd.Close();
  if (!written || !closed || ::rename(temp_path, target) != 0) {
    ::unlink(temp_path);
    return Fail(out, "can't write on database");
  }
  out.Write('s');
  return 0;
}

}  // namespace talvenplan
