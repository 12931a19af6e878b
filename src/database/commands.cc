// Create, get, put, remove and list: which answer for which outcome. How
// files are made, replaced and removed is io/place.h's.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "database/database.h"
#include "database/key.h"
#include "io/fd.h"
#include "io/file.h"
#include "io/place.h"
#include "io/versions.h"
#include "protocol/messages.h"
#include "protocol/percent.h"
#include "protocol/request.h"
#include "protocol/wire.h"

namespace talvenplan {
namespace {

// A new database after its key line: no factors, header lines "0" and "\"\"",
// no prices, two trailing lines.
constexpr std::string_view kNewDatabaseTail = "\n0\n0\n\"\"\n0\n0\n0\n";

// Who saves a new database's content: the request's login, as the mark the
// file carries (none without a login). `text` holds the encoded login.
Mark SavedBy(const Context& context, char (&text)[kLoginMost * kPercentWidth]) {
  if (context.login.empty()) return {};
  return {kSavedByName, {text, PercentEncode(context.login, text)}};
}

// Demonstration databases are never written, and the client is not told.
bool IsDemoName(std::string_view name) { return name.starts_with("DEMO_"); }

// How often a put or remove takes another look when other requests keep
// replacing the database under it.
constexpr int kTries = 8;

// Another request replaced the database at `place` after its key was
// checked. The file now there is judged by its own key, as if this request
// had come after that one: its answer when that file is missing or guarded
// by another key, and otherwise none, with `db` holding that file. After
// kTries, the answer is that of another key: the database the key was
// checked on is gone.
Answered JudgeAgain(const Request& request, const Context& context,
                    const Place& place, int tries, KeyedDatabase& db,
                    Output& out) {
  if (tries + 1 == kTries) return Refuse(out);
  db.file = OpenRegular(place.dir(), place.name, O_NOFOLLOW);
  if (!db.file.fd) return Fail(out, Message::kCantOpenDatabase);
  if (Answered answered = CheckRequestKey(request, context, db, out)) {
    return answered;
  }
  db.file.fd.Close();
  return std::nullopt;
}

// Whether the name at `place` is a symbolic link that leads, by one step, to
// a name that does not exist and is a demonstration database's: a put there
// is answered as a put to that name is.
bool DanglesToDemo(const Place& place) {
  char target[PATH_MAX];
  ssize_t size = ::readlinkat(place.dir(), place.name, target, sizeof target);
  if (size <= 0 || static_cast<std::size_t>(size) >= sizeof target) {
    return false;
  }
  target[size] = '\0';
  const char* slash = std::strrchr(target, '/');
  return IsDemoName(slash == nullptr ? target : slash + 1);
}

// Refuses a write in a versions directory, which only the program writes,
// and fails with `cant` when where `dir` lies cannot be told.
Answered GuardVersions(int dir, const Context& context, Message cant,
                       Output& out) {
  std::optional<bool> inside = InsideVersions(dir, context.root);
  if (!inside) return Fail(out, cant);
  if (*inside) return Refuse(out);
  return std::nullopt;
}

// Refuses a put that would change what only the program writes: a version,
// or an offer, reached by the request's name or by a link on the way.
Answered GuardPut(const Request& request, const Context& context,
                  const Place& place, Output& out) {
  if (IsOfferName(place.name) || IsWithdrawnName(place.name) ||
      IsAnswerFileName(place.name)) {
    return Refuse(out);
  }
  constexpr Message kCant = Message::kCantWriteDatabase;
  if (Answered answered = GuardVersions(place.dir(), context, kCant, out)) {
    return answered;
  }
  if (place.resolved[0] == '\0') return std::nullopt;
  Place own;
  if (FindParent(context.root, request.name.data(), own) != 0) {
    return Fail(out, kCant);
  }
  return GuardVersions(own.dir(), context, kCant, out);
}

// One try at a remove: its answer, or none when the name was swapped for
// another link or file meanwhile and the remove starts again.
Answered RemoveOnce(const Request& request, const Context& context, int tries,
                    Output& out) {
  if (NameLeavesDirectory(request, context.root)) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  // A name that is a symbolic link is removed itself, after the key of the
  // file it leads to was checked; that file stays, as other names may lead
  // to it too. The link is known by its own device and inode, taken before
  // the file was opened: a link is never changed in place, so one swapped
  // in meanwhile is another inode, and is left alone.
  Place own;
  if (FindParent(context.root, request.name.data(), own) != 0) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  if (Answered answered = GuardVersions(own.dir(), context,
                                        Message::kCantRemoveDatabase, out)) {
    return answered;
  }
  struct stat seen {};
  bool link = ::fstatat(own.dir(), own.name, &seen, AT_SYMLINK_NOFOLLOW) == 0 &&
              S_ISLNK(seen.st_mode);

  Place place;
  KeyedDatabase db;
  db.file = OpenDatabaseAt(request, context, place);
  if (!db.file.fd) return Fail(out, Message::kCantOpenDatabase);
  if (Answered answered = CheckRequestKey(request, context, db, out)) {
    return answered;
  }
  db.file.fd.Close();
  bool followed = place.resolved[0] != '\0';
  FileError error;
  if (link) {
    // No data goes with a link, so no version of it is kept.
    error = Remove(own, {seen.st_dev, seen.st_ino});
  } else if (followed) {
    error = FileError::kChanged;  // a link came in after the name was seen
  } else {
    // The removal, too, must survive a power cut before "s". With versions
    // kept, the database moves in among its versions instead, as the newest:
    // a removed list can be brought back.
    while ((error = context.versions > 0
                        ? MoveToVersions(place, db.file.id, context.versions)
                        : Remove(place, db.file.id)) == FileError::kChanged) {
      if (Answered answered =
              JudgeAgain(request, context, place, tries++, db, out)) {
        return answered;
      }
    }
  }
  if (error != FileError::kChanged) {
    return error == FileError::kNone ? Done(out)
                                     : Fail(out, Message::kCantRemoveDatabase);
  }
  // As a put that keeps meeting another file: the database whose key was
  // checked is gone.
  if (tries + 1 >= kTries) return Refuse(out);
  return std::nullopt;
}

}  // namespace

int RunCreate(const Request& request, const Context& context, Output& out) {
  // Offer links show and delete any file of the offer form without a key,
  // and the clean-up deletes old files of a put's temporary form: no
  // database may be given either name.
  // Nor the name of the directory that keeps the versions.
  std::string_view last = request.name.substr(request.name.rfind('/') + 1);
  if (IsOfferName(last) || IsWithdrawnName(last) || IsAnswerFileName(last) ||
      IsPutTempName(last) || last == kVersionsDir) {
    return Refuse(out);
  }
  if (NameLeavesDirectory(request, context.root)) {
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
  if (FindParent(context.root, request.name.data(), place) != 0) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  if (Answered answered = GuardVersions(place.dir(), context,
                                        Message::kCantOpenDatabase, out)) {
    return *answered;
  }
  // A history left under the name belongs to the list that had it: the new
  // list must not prune it, nor take it for its own.
  if (ShelveHistory(place) != FileError::kNone) {
    return Fail(out, Message::kCantOpenDatabase);
  }
  char login[kLoginMost * kPercentWidth];
  switch (CreateNew(place, kPutTemplate, {request.key, kNewDatabaseTail},
                    SavedBy(context, login))) {
    case FileError::kNone: return Done(out);
    case FileError::kTaken: return Refuse(out);
    // The name itself cannot be made (an empty name, a name too long): as
    // when a file by that name cannot be opened for writing.
    case FileError::kCantCreate:
    case FileError::kCantName: return Fail(out, Message::kCantOpenDatabase);
    case FileError::kCantWrite:
    case FileError::kChanged:
    case FileError::kCantSync: break;
  }
  return Fail(out, Message::kCantWriteOnDatabase);
}

int RunGet(const Request& request, const Context& context, Output& out) {
  KeyedDatabase db;
  db.file = OpenDatabase(request, context);
  if (!db.file.fd) return Refuse(out);
  if (Answered answered = CheckRequestKey(request, context, db, out)) {
    return *answered;
  }
  Done(out);
  out.Write(db.check.stored_key());
  out.Write('\n');
  // The rest of the file goes out byte for byte. A read error cuts the
  // answer short after it has begun; the exit status tells the server.
  return db.reader.CopyRestTo(out) ? 0 : 1;
}

int RunPut(const Request& request, const Context& context, Output& out) {
  if (IsDemoName(request.name)) return Done(out);

  // A link is followed: the link stays, and the file it leads to gets the
  // new content, if that is the file whose key matched.
  Place place;
  KeyedDatabase db;
  db.file = OpenDatabaseAt(request, context, place);
  if (!db.file.fd) {
    if (db.file.error == ENOENT && DanglesToDemo(place)) return Done(out);
    return Fail(out, Message::kCantOpenDatabase);
  }
  if (IsDemoName(place.name)) return Done(out);
  if (Answered answered = GuardPut(request, context, place, out)) {
    return *answered;
  }
  if (Answered answered = CheckRequestKey(request, context, db, out)) {
    return *answered;
  }
  db.file.fd.Close();

  // The whole text, on disk, before the old content goes: a failure at any
  // step leaves the database as it was. A database this process may not
  // write stays as it is, as it would if it were overwritten in place.
  // With versions kept, the old content is linked in as the newest version
  // first, and that name is synced before the rename: a crash leaves the
  // old content in place, or the new one with the old among the versions.
  // Linked before the new file is written, the versions directory's sync
  // rides on that file's on a journaling file system.
  NewFile text;
  char login[kLoginMost * kPercentWidth];
  Mark saved_by = SavedBy(context, login);
  FileError error = MayWrite(place) ? FileError::kNone : FileError::kCantCreate;
  KeptVersion kept;
  for (int tries = 0; error == FileError::kNone; ++tries) {
    if (context.versions > 0) {
      error = KeepVersion(place, db.file.id, kept);
    }
    if (error == FileError::kNone && text.name[0] == '\0') {
      error = WriteBeside(place, kPutTemplate, db.file.mode, {request.text},
                          text, saved_by);
    }
    if (error == FileError::kNone && kept.dir &&
        !SyncDirectory(kept.dir.get())) {
      error = FileError::kCantWrite;
    }
    if (error == FileError::kNone) {
      error = RenameOver(text, place.name, db.file.id);
    }
    // A put that did not replace the file keeps no version of it. Once
    // renamed (kCantSync included) the version is the old content's only
    // name, and stays.
    if (error == FileError::kNone || error == FileError::kCantSync) break;
    DropVersion(kept);
    if (error != FileError::kChanged) break;
    if (Answered answered =
            JudgeAgain(request, context, place, tries, db, out)) {
      return *answered;
    }
    error = FileError::kNone;
  }
  // Only now that the new content has the name may old versions go.
  if (error == FileError::kNone && kept.dir) {
    PruneVersions(kept, context.versions);
  }
  switch (error) {
    case FileError::kNone: return Done(out);
    case FileError::kCantCreate: return Fail(out, Message::kCantWriteDatabase);
    default: return Fail(out, Message::kCantWriteOnDatabase);
  }
}

int RunRemove(const Request& request, const Context& context, Output& out) {
  for (int tries = 0;; ++tries) {
    if (Answered answered = RemoveOnce(request, context, tries, out)) {
      return *answered;
    }
  }
}

// After a listed name, with the logins asked for: a tab and the login the
// entry records, or nothing after the tab. The name is everything before the
// last tab: an encoded login holds none. The working directory is the one
// listed, and the link itself is asked, never what it leads to.
void WriteSavedBy(const char* name, Output& out) {
  char login[kLoginMost * kPercentWidth];
  ssize_t size = ::lgetxattr(name, kSavedByName, login, sizeof login);
  out.Write('\t');
  // Anyone who may write the file may set the attribute: only what a put
  // records is passed on.
  if (size > 0) {
    std::string_view value(login, static_cast<std::size_t>(size));
    if (IsPercentEncoded(value)) out.Write(value);
  }
}

int RunList(const Request& request, const Context&, Output& out) {
  Fd directory = OpenDirectory(".");
  if (!directory) return Fail(out, Message::kCantOpenDirectory);
  Done(out);

  // Entries come in the directory's own order; names that begin with "."
  // (".", "..", hidden files, pending offers and puts) are passed over.
  // getdents64 lays its records out with their own alignment from the start
  // of the buffer.
  alignas(dirent64) char records[32 * 1024];
  bool listed_any = false;
  ssize_t size;
  while ((size = ::getdents64(directory.get(), records, sizeof records)) > 0) {
    for (ssize_t at = 0; at < size;) {
      const auto* entry = reinterpret_cast<const dirent64*>(records + at);
      at += entry->d_reclen;
      if (entry->d_name[0] == '.') continue;
      out.Write(std::string_view(entry->d_name));
      if (request.logins) WriteSavedBy(entry->d_name, out);
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
