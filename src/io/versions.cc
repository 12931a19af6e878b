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

// The versions directory `.versions` beside the file at `place`, made when
// it is not there yet.
Fd OpenTop(const Fd& here) {
  return here ? OpenOrMake(here.get(), kVersionsDir) : Fd();
}

// The versions in `dir`, oldest first, into `stamps`. Other names are
// passed over. False when the directory could not be read whole.
bool Stamps(int dir, std::vector<std::int64_t>& stamps) {
  stamps.clear();
  if (::lseek(dir, 0, SEEK_SET) != 0) return false;
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
  return size == 0;
}

std::int64_t Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The stamp for one more version after `stamps`: now, or just after the
// newest when the clock stands behind it (stepped back, or two versions in
// one microsecond), so that names keep the order versions were made in.
std::int64_t NextStamp(const std::vector<std::int64_t>& stamps) {
  std::int64_t micros = Now();
  if (!stamps.empty() && stamps.back() >= micros) micros = stamps.back() + 1;
  return micros;
}

// Removes all but the newest `keep` of `stamps` from `dir`.
void Prune(int dir, const std::vector<std::int64_t>& stamps, int keep) {
  for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < stamps.size();
       ++i) {
    char stamp[kStampSize + 1];
    FormatStamp(stamps[i], stamp);
    ::unlinkat(dir, stamp, 0);
  }
}

// A shelf's name: the file's name, a space and the stamp of `micros`. A
// name too long to take both keeps its beginning.
void ShelfName(const char* name, std::int64_t micros,
               char (&shelf)[NAME_MAX + 1]) {
  std::size_t size = std::min(std::strlen(name), NAME_MAX - kStampSize - 1);
  std::memcpy(shelf, name, size);
  shelf[size] = ' ';
  char stamp[kStampSize + 1];
  FormatStamp(micros, stamp);
  std::memcpy(shelf + size + 1, stamp, sizeof stamp);
}

// Renames the history `name` in `top` to a shelf of its own, named into
// `shelf`. ENOENT when there is no history to shelve.
int Shelve(int top, const char* name, char (&shelf)[NAME_MAX + 1]) {
  for (std::int64_t micros = Now(), tries = 0; tries < kStampTries;
       ++micros, ++tries) {
    ShelfName(name, micros, shelf);
    if (::renameat2(top, name, top, shelf, RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    // Where the flag is refused (FUSE, NFS), a directory renamed onto a
    // name taken by a directory still fails unless that one is empty, and
    // a shelf is never empty.
    if (error == EINVAL || error == ENOSYS || error == EPERM) {
      struct stat taken {};
      if (::fstatat(top, shelf, &taken, AT_SYMLINK_NOFOLLOW) == 0) continue;
      if (::renameat(top, name, top, shelf) == 0) return 0;
      error = errno;
    }
    if (error != EEXIST && error != ENOTEMPTY) return error;
  }
  return EEXIST;
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

std::optional<bool> InsideVersions(int dir, const Root& root) {
  struct stat here {
  }, top{};
  if (::fstat(dir, &here) != 0) return std::nullopt;
  if (root.confined && (!root.fd || ::fstat(root.fd.get(), &top) != 0)) {
    return std::nullopt;
  }
  auto same = [](const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  };
  Fd parent;
  for (int at = dir;;) {
    if (root.confined && same(here, top)) return false;
    parent = Fd(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat up {
    }, named{};
    if (!parent || ::fstat(parent.get(), &up) != 0) return std::nullopt;
    if (same(up, here)) return false;  // the file system's root
    if (::fstatat(parent.get(), kVersionsDir, &named, AT_SYMLINK_NOFOLLOW) ==
            0 &&
        same(named, here)) {
      return true;
    }
    here = up;
    at = parent.get();
  }
}

FileError KeepVersion(const Place& place, FileId expected, KeptVersion& kept) {
  kept.stamp[0] = '\0';
  Fd here = Readable(place);
  Fd top = OpenTop(here);
  kept.dir = top ? OpenOrMake(top.get(), place.name) : Fd();
  if (!kept.dir && (errno == ENOTDIR || errno == ELOOP)) {
    // Something not the program's has the history's name: it is set aside
    // under a shelf's name, never removed, and the history starts anew.
    char aside[NAME_MAX + 1];
    if (Shelve(top.get(), place.name, aside) == 0) {
      kept.dir = OpenOrMake(top.get(), place.name);
    }
  }
  if (!kept.dir) return FileError::kCantCreate;
  int dir = kept.dir.get();
  if (!Stamps(dir, kept.stamps)) return FileError::kCantCreate;
  std::int64_t micros = NextStamp(kept.stamps);
  char stamp[kStampSize + 1];
  for (int tries = 0;; ++tries, ++micros) {
    if (tries == kStampTries || micros > kLastStamp) {
      return FileError::kCantCreate;
    }
    FormatStamp(micros, stamp);
    if (::linkat(place.dir(), place.name, dir, stamp, 0) == 0) break;
    if (errno == ENOENT) return FileError::kChanged;
    if (errno != EEXIST) return FileError::kCantCreate;
  }
  std::memcpy(kept.stamp, stamp, sizeof stamp);
  // The name was the file the caller checked, or the version goes again:
  // the caller judges the file now there, and keeps that one.
  if (!Holds(dir, kept.stamp, expected)) {
    DropVersion(kept);
    return FileError::kChanged;
  }
  kept.stamps.push_back(micros);
  return FileError::kNone;
}

void DropVersion(KeptVersion& kept) {
  if (kept.dir && kept.stamp[0] != '\0') {
    ::unlinkat(kept.dir.get(), kept.stamp, 0);
  }
  kept.stamp[0] = '\0';
}

void PruneVersions(KeptVersion& kept, int keep) {
  // The newest is this put's own, named after every other one.
  Prune(kept.dir.get(), kept.stamps, keep);
}

FileError ShelveHistory(const Place& place) {
  Fd here = Readable(place);
  if (!here) return FileError::kCantName;
  Fd top(::openat(here.get(), kVersionsDir, kDirectoryFlags));
  if (!top) return errno == ENOENT ? FileError::kNone : FileError::kCantName;
  struct stat history {};
  if (::fstatat(top.get(), place.name, &history, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? FileError::kNone : FileError::kCantName;
  }
  char shelf[NAME_MAX + 1];
  if (Shelve(top.get(), place.name, shelf) != 0) return FileError::kCantName;
  return SyncDirectory(top.get()) ? FileError::kNone : FileError::kCantSync;
}

FileError MoveToVersions(const Place& place, FileId expected, int keep) {
  Fd here = Readable(place);
  Fd top = OpenTop(here);
  if (!top) return FileError::kCantName;
  if (!Holds(place.dir(), place.name, expected)) return FileError::kChanged;

  // The history goes onto its shelf first, then the file in after it: a
  // crash between the two leaves the file in place, its history shelved,
  // and nothing lost.
  char shelf[NAME_MAX + 1];
  struct stat history {};
  int shelved = ENOENT;
  if (::fstatat(top.get(), place.name, &history, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return FileError::kCantName;
  } else {
    shelved = Shelve(top.get(), place.name, shelf);
    // Something not the program's had the history's name: it stays aside,
    // and the removed file gets a shelf of its own.
    if (shelved == 0 && !S_ISDIR(history.st_mode)) shelved = ENOENT;
  }
  if (shelved == ENOENT) {
    std::int64_t micros = Now();
    for (int tries = 0;; ++tries, ++micros) {
      ShelfName(place.name, micros, shelf);
      if (::mkdirat(top.get(), shelf, 0777) == 0) break;
      if (errno != EEXIST || tries == kStampTries) return FileError::kCantName;
    }
    if (!SyncDirectory(top.get())) {
      ::unlinkat(top.get(), shelf, AT_REMOVEDIR);
      return FileError::kCantName;
    }
  } else if (shelved != 0) {
    return FileError::kCantName;
  }
  Fd versions(::openat(top.get(), shelf, kDirectoryFlags));
  // Undoes the shelving when the file cannot follow: its history stays
  // where its later puts will look for it.
  auto put_back = [&](FileError error) {
    if (shelved == 0) {
      ::renameat2(top.get(), shelf, top.get(), place.name, RENAME_NOREPLACE);
    } else {
      ::unlinkat(top.get(), shelf, AT_REMOVEDIR);
    }
    return error;
  };
  if (!versions) return put_back(FileError::kCantName);
  int dir = versions.get();

  // A rename that will not replace a version made in the same microsecond
  // moves whatever the name holds at that moment, so nothing another
  // request put there in between is lost: it is moved back. Where that
  // rename cannot be trusted, a link takes the version's name and the
  // database's name goes after it.
  bool renamed = NewNameWayFor(dir) == NewNameWay::kRenameNoReplace;
  std::vector<std::int64_t> stamps;
  if (!Stamps(dir, stamps)) return put_back(FileError::kCantName);
  std::int64_t micros = NextStamp(stamps);
  char stamp[kStampSize + 1];
  for (int tries = 0;; ++tries, ++micros) {
    if (tries == kStampTries || micros > kLastStamp) {
      return put_back(FileError::kCantName);
    }
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
    if (errno == ENOENT) return put_back(FileError::kChanged);
    if (errno != EEXIST) return put_back(FileError::kCantName);
  }
  if (!Holds(dir, stamp, expected)) {
    if (renamed) {
      ::renameat2(dir, stamp, place.dir(), place.name, RENAME_NOREPLACE);
    } else {
      ::unlinkat(dir, stamp, 0);
    }
    return put_back(FileError::kChanged);
  }
  if (!renamed && ::unlinkat(place.dir(), place.name, 0) != 0) {
    ::unlinkat(dir, stamp, 0);
    return put_back(FileError::kCantName);
  }
  stamps.push_back(micros);
  Prune(dir, stamps, keep);
  return SyncDirectory(dir) && SyncDirectory(top.get()) &&
                 SyncDirectory(here.get())
             ? FileError::kNone
             : FileError::kCantSync;
}

}  // namespace talvenplan
