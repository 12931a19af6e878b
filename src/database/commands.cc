// Create, get, put, remove and list.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "database/database.h"
#include "database/key.h"
#include "io/beneath.h"
#include "io/fd.h"
#include "io/file.h"
#include "io/line_reader.h"
#include "protocol/messages.h"
#include "protocol/wire.h"

namespace talvenplan {
namespace {

// A new database after its key line: no factors, header lines "0" and "\"\"",
// no prices, two trailing lines.
constexpr std::string_view kNewDatabaseTail = "\n0\n0\n\"\"\n0\n0\n0\n";

int Done(Output& out) {
  out.Write(kDone);
  return 0;
}

int Refuse(Output& out) {
  out.Write(kRefused);
  return 0;
}

// A file's place: the directory that holds it, open so that names can be
// made and synced there, and the file's name in it.
struct Place {
  Fd directory;
  const char* name = nullptr;

  int dir() const { return directory.get(); }
};

// Splits `path` into its directory, opened (under a root, from the root's
// descriptor, staying inside), and its last component. A path with a slash
// under a root is one that every link was followed in. False when the
// directory cannot be opened (a directory the program may not read cannot
// be synced either) or its name is too long.
bool FindPlace(const Request& request, const char* path, Place& place) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    place.directory = OpenDirectory(".");
    place.name = path;
    return static_cast<bool>(place.directory);
  }
  // The directory part, "/" for a file in the root directory.
  std::size_t size = slash == path ? 1 : static_cast<std::size_t>(slash - path);
  char directory[PATH_MAX];
  if (size >= sizeof directory) return false;
  std::memcpy(directory, path, size);
  directory[size] = '\0';
  place.directory =
      request.root != nullptr
          ? OpenResolved(request.root, directory, O_RDONLY | O_DIRECTORY)
          : OpenDirectory(directory);
  place.name = slash + 1;
  return static_cast<bool>(place.directory);
}

// Makes a new file beside `place` holding `parts`, whole and on disk, and
// leaves its name in `temp_name` (at least sizeof kPutTemplate bytes), with
// the permission bits `mode` (kDefaultMode: 0666 less the umask). Returns
// kWritten, or answers `cant_create` when the file cannot be made, or "can't
// write on database" when it cannot be written whole, and returns the exit
// status; then nothing is left behind.
constexpr mode_t kDefaultMode = static_cast<mode_t>(-1);

constexpr int kWritten = -1;

int WriteBeside(const Place& place, char* temp_name, mode_t mode,
                std::initializer_list<std::string_view> parts,
                Message cant_create, Output& out) {
  std::memcpy(temp_name, kPutTemplate, sizeof kPutTemplate);
  UniqueFile temp = CreateUniqueFile(place.dir(), temp_name);
  if (!temp.fd) return Fail(out, cant_create);
  if (mode != kDefaultMode && ::fchmod(temp.fd.get(), mode) != 0) {
    temp.fd.Close();
    ::unlinkat(place.dir(), temp_name, 0);
    return Fail(out, cant_create);
  }
  if (!WriteDurably(temp.fd, place.dir(), temp_name, parts)) {
    return Fail(out, Message::kCantWriteOnDatabase);
  }
  return kWritten;
}

// Gives the whole new file `temp_name` the name `place.name`, unless that is
// taken: no other file is ever replaced. Returns 0 when done, EEXIST when
// the name is taken, or another errno value; the temporary name is gone
// either way.
int LinkNew(const Place& place, const char* temp_name) {
  int dir = place.dir();
  int error = 0;
  if (::renameat2(dir, temp_name, dir, place.name, RENAME_NOREPLACE) == 0) {
    return 0;
  }
  error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // A file system without the no-replace rename (NFS, some others): a hard
    // link is made exclusively too.
    error = ::linkat(dir, temp_name, dir, place.name, 0) == 0 ? 0 : errno;
  }
  ::unlinkat(dir, temp_name, 0);
  return error;
}

// The new file has its name; syncing the directory makes the name last
// through a power cut before the answer says "s".
int SyncAndAnswer(const Place& place, Output& out) {
  if (!SyncDirectory(place.dir())) {
    return Fail(out, Message::kCantWriteOnDatabase);
  }
  return Done(out);
}

}  // namespace

int RunCreate(const Request& request, Output& out) {
  // Offer links show and delete any file of the offer form without a key,
  // and the clean-up deletes old files of a put's temporary form: no
  // database may be given either name.
  if (IsOfferName(request.name) || IsPutTempName(request.name)) {
    return Refuse(out);
  }
  if (NameLeavesDirectory(request)) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  // Whatever already has the name (a database, any other file, a directory,
  // a dangling link) is left alone.
  struct stat existing {};
  if (::fstatat(AT_FDCWD, request.name.data(), &existing,
                AT_SYMLINK_NOFOLLOW) == 0) {
    return Refuse(out);
  }
  // The new database is written whole beside its name, then given the name
  // in one step that fails when the name is taken: a crash leaves no
  // half-made database, and of two creators racing for one name only one
  // succeeds. The key goes in in full, though the key check reads back at
  // most its first bytes.
  Place place;
  if (!FindPlace(request, request.name.data(), place)) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  char temp_name[sizeof kPutTemplate];
  int status = WriteBeside(place, temp_name, kDefaultMode,
                           {request.key, kNewDatabaseTail},
                           Message::kCantOpenDatabase, out);
  if (status != kWritten) return status;
  int error = LinkNew(place, temp_name);
  if (error == EEXIST) return Refuse(out);
  // The name itself cannot be made (an empty name, a name too long): as
  // when a file by that name cannot be opened for writing.
  if (error != 0) return Fail(out, Message::kCantOpenDatabase);
  return SyncAndAnswer(place, out);
}

int RunGet(const Request& request, Output& out) {
  KeyedDatabase db;
  int status = OpenKeyed(request, WhenMissing::kRefuse, db, out);
  if (status != kKeyMatched) return status;
  out.Write(kDone);
  out.Write(db.check.stored_key());
  out.Write('\n');
  // The rest of the file goes out byte for byte. A read error cuts the
  // answer short after it has begun; the exit status tells the server.
  return db.reader.CopyRestTo(out) ? 0 : 1;
}

int RunPut(const Request& request, Output& out) {
  // Demonstration databases are never written, and the client is not told.
  if (request.name.starts_with("DEMO_")) return Done(out);

  KeyedDatabase db;
  int status = OpenKeyed(request, WhenMissing::kFail, db, out);
  if (status != kKeyMatched) return status;
  struct stat old {};
  if (::fstat(db.file.get(), &old) != 0) {
    return Fail(out, Message::kCantWriteDatabase);
  }
  db.file.Close();

  // A link is followed, so that the link stays and its target gets the new
  // content. A database this process may not write stays as it is, as it
  // would if it were overwritten in place.
  const char* path = request.name.data();
  char resolved[PATH_MAX];
  struct stat link {};
  if (::lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
    if (::realpath(path, resolved) == nullptr) {
      return Fail(out, Message::kCantWriteDatabase);
    }
    path = resolved;
  }
  Place place;
  if (!FindPlace(request, path, place) ||
      ::faccessat(place.dir(), place.name, W_OK, AT_EACCESS) != 0) {
    return Fail(out, Message::kCantWriteDatabase);
  }
  // The whole text, on disk, before the old content goes: a failure at any
  // step leaves the database as it was.
  char temp_name[sizeof kPutTemplate];
  status = WriteBeside(place, temp_name, old.st_mode & 0777, {request.text},
                       Message::kCantWriteDatabase, out);
  if (status != kWritten) return status;
  if (::renameat(place.dir(), temp_name, place.dir(), place.name) != 0) {
    ::unlinkat(place.dir(), temp_name, 0);
    return Fail(out, Message::kCantWriteOnDatabase);
  }
  return SyncAndAnswer(place, out);
}

int RunRemove(const Request& request, Output& out) {
  KeyedDatabase db;
  int status = OpenKeyed(request, WhenMissing::kFail, db, out);
  if (status != kKeyMatched) return status;
  db.file.Close();
  // The removal, too, must survive a power cut before "s".
  Place place;
  if (!FindPlace(request, request.name.data(), place) ||
      ::unlinkat(place.dir(), place.name, 0) != 0 ||
      !SyncDirectory(place.dir())) {
    return Fail(out, Message::kCantRemoveDatabase);
  }
  return Done(out);
}

int RunList(const Request& request, Output& out) {
  Fd directory = OpenDirectory(".");
  if (!directory) return Fail(out, Message::kCantOpenDirectory);
  out.Write(kDone);

  // Entries come in the directory's own order; names that begin with "."
  // (".", "..", hidden files, pending offers and puts) are passed over.
  // getdents64 lays its records out with 8-byte alignment from the start of
  // the buffer, so the buffer must be 8-byte aligned too.
  char* entries = request.line_buffer.data();
  assert(reinterpret_cast<std::uintptr_t>(entries) % alignof(dirent64) == 0);
  bool listed_any = false;
  ssize_t size;
  while ((size = ::getdents64(directory.get(), entries,
                              request.line_buffer.size())) > 0) {
    for (ssize_t at = 0; at < size;) {
      const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
      at += entry->d_reclen;
      if (entry->d_name[0] == '.') continue;
      out.Write(std::string_view(entry->d_name));
      out.Write('\n');
      listed_any = true;
    }
  }
  if (!listed_any) out.Write('\n');
  // A read error cuts the list short after it has begun; the exit status
  // tells the server.
  return size < 0 ? 1 : 0;
}

}  // namespace talvenplan
