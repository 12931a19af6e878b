#include "io/versions.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/file.h"

namespace talvenplan {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// How many stamps a version tries after the one it wanted was taken by a
// version made in the same microsecond.
constexpr int kStampTries = 1000;

// Opens the directory `name` in `parent`, making it first when it is not
// there. A directory made is synced into `parent` (open for reading) before
// anything is put in it. A link in its place is not followed.
Fd OpenOrMake(int parent, const char* name) {
  Fd dir(::openat(parent, name, kDirectoryFlags));
  if (dir || errno != ENOENT) return dir;
  if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST) return Fd();
  if (!SyncDirectory(parent)) return Fd();
  return Fd(::openat(parent, name, kDirectoryFlags));
}

// The directory at `place` open for reading, so that it can be synced.
Fd Readable(const Place& place) {
  return Fd(::openat(place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The versions directory of the file at `place`, open for reading, made
// when it is not there yet.
Fd OpenVersions(const Place& place) {
  Fd here = Readable(place);
  if (!here) return Fd();
  Fd top = OpenOrMake(here.get(), kVersionsDir);
  return top ? OpenOrMake(top.get(), place.name) : Fd();
}

// The versions in `dir`, oldest first. Other names are passed over.
std::vector<std::int64_t> Stamps(int dir) {
  std::vector<std::int64_t> stamps;
  if (::lseek(dir, 0, SEEK_SET) != 0) return stamps;
  alignas(dirent64) char records[8 * 1024];
  ssize_t size;
  while ((size = ::getdents64(dir, records, sizeof records)) > 0) {
    for (ssize_t at = 0; at < size;) {
      const auto* entry = reinterpret_cast<const dirent64*>(records + at);
      at += entry->d_reclen;
      std::int64_t stamp = ParseStamp(entry->d_name);
      if (stamp >= 0) stamps.push_back(stamp);
    }
  }
  std::sort(stamps.begin(), stamps.end());
  return stamps;
}

// Makes room for one more version among the newest `keep`, removing the
// oldest, and returns the stamp for it: now, or just after the newest when
// the clock stands behind it (stepped back, or two versions in one
// microsecond), so that names keep the order versions were made in. The
// removals are synced with the new version's name.
std::int64_t MakeRoom(int dir, int keep) {
  std::vector<std::int64_t> stamps = Stamps(dir);
  for (std::size_t i = 0; i + static_cast<std::size_t>(keep) <= stamps.size();
       ++i) {
    char stamp[kStampSize + 1];
    FormatStamp(stamps[i], stamp);
    ::unlinkat(dir, stamp, 0);
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::int64_t micros =
      static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  if (!stamps.empty() && stamps.back() >= micros) micros = stamps.back() + 1;
  return micros;
}

}  // namespace

void FormatStamp(std::int64_t micros, char (&stamp)[kStampSize + 1]) {
  time_t seconds = static_cast<time_t>(micros / 1000000);
  tm utc{};
  ::gmtime_r(&seconds, &utc);
  char* at = stamp;
  auto digits = [&at](long value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10) {
      at[i] = static_cast<char>('0' + value % 10);
    }
    at += count;
  };
  digits(utc.tm_year + 1900L, 4);
  digits(utc.tm_mon + 1, 2);
  digits(utc.tm_mday, 2);
  *at++ = 'T';
  digits(utc.tm_hour, 2);
  digits(utc.tm_min, 2);
  digits(utc.tm_sec, 2);
  *at++ = '.';
  digits(static_cast<long>(micros % 1000000), 6);
  *at++ = 'Z';
  *at = '\0';
}

std::int64_t ParseStamp(std::string_view stamp) {
  if (stamp.size() != kStampSize || stamp[8] != 'T' || stamp[15] != '.' ||
      stamp[22] != 'Z') {
    return -1;
  }
  auto number = [&](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') return -1;
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  tm utc{};
  utc.tm_year = number(0, 4) - 1900;
  utc.tm_mon = number(4, 2) - 1;
  utc.tm_mday = number(6, 2);
  utc.tm_hour = number(9, 2);
  utc.tm_min = number(11, 2);
  utc.tm_sec = number(13, 2);
  int micros = number(16, 6);
  if (micros < 0 || utc.tm_year < 70 || utc.tm_mon < 0 || utc.tm_mday < 0 ||
      utc.tm_hour < 0 || utc.tm_min < 0 || utc.tm_sec < 0) {
    return -1;
  }
  std::int64_t value =
      static_cast<std::int64_t>(::timegm(&utc)) * 1000000 + micros;
  // Only the one spelling of a time: a 30 February or a second 60 is not a
  // version's name.
  char again[kStampSize + 1];
  FormatStamp(value, again);
  return stamp == again ? value : -1;
}

FileError KeepVersion(const Place& place, FileId expected, int keep,
                      Fd& versions) {
  versions = OpenVersions(place);
  if (!versions) return FileError::kCantCreate;
  int dir = versions.get();
  std::int64_t micros = MakeRoom(dir, keep);
  char stamp[kStampSize + 1];
  for (int tries = 0;; ++tries, ++micros) {
    if (tries == kStampTries) return FileError::kCantCreate;
    FormatStamp(micros, stamp);
    if (::linkat(place.dir(), place.name, dir, stamp, 0) == 0) break;
    if (errno == ENOENT) return FileError::kChanged;
    if (errno != EEXIST) return FileError::kCantCreate;
  }
  // The name was the file the caller checked, or the version goes again:
  // the caller judges the file now there, and keeps that one.
  if (!Holds(dir, stamp, expected)) {
    ::unlinkat(dir, stamp, 0);
    return FileError::kChanged;
  }
  return FileError::kNone;
}

FileError MoveToVersions(const Place& place, FileId expected, int keep) {
  Fd here = Readable(place);
  Fd versions = OpenVersions(place);
  if (!here || !versions) return FileError::kCantName;
  int dir = versions.get();
  if (!Holds(place.dir(), place.name, expected)) return FileError::kChanged;

  // A rename that will not replace a version made in the same microsecond
  // moves whatever the name holds at that moment, so nothing another
  // request put there in between is lost: it is moved back. Where that
  // rename cannot be trusted, a link takes the version's name and the
  // database's name goes after it.
  bool renamed = NewNameWayFor(dir) == NewNameWay::kRenameNoReplace;
  std::int64_t micros = MakeRoom(dir, keep);
  char stamp[kStampSize + 1];
  for (int tries = 0;; ++tries, ++micros) {
    if (tries == kStampTries) return FileError::kCantName;
    FormatStamp(micros, stamp);
    int done = renamed ? ::renameat2(place.dir(), place.name, dir, stamp,
                                     RENAME_NOREPLACE)
                       : ::linkat(place.dir(), place.name, dir, stamp, 0);
    if (done == 0) break;
    if (renamed && (errno == EINVAL || errno == ENOSYS || errno == EPERM)) {
      renamed = false;
      --micros;
      continue;
    }
    if (errno == ENOENT) return FileError::kChanged;
    if (errno != EEXIST) return FileError::kCantName;
  }
  if (!Holds(dir, stamp, expected)) {
    if (renamed) {
      ::renameat2(dir, stamp, place.dir(), place.name, RENAME_NOREPLACE);
    } else {
      ::unlinkat(dir, stamp, 0);
    }
    return FileError::kChanged;
  }
  if (!renamed && ::unlinkat(place.dir(), place.name, 0) != 0) {
    return FileError::kCantName;
  }
  return SyncDirectory(dir) && SyncDirectory(here.get()) ? FileError::kNone
                                                         : FileError::kCantSync;
}

}  // namespace talvenplan
