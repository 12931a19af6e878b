// Keeping the content a put replaces, and the database a remove takes away,
// as versions beside it.
//
// Beside a file NAME, the directory .versions/NAME holds its versions, each
// a file named by when it was replaced: a UTC time to the microsecond, such
// as 20261209T045512.123456Z, so that names sort oldest first. A version is
// the replaced file itself, hard-linked under that name before the rename
// that replaces it: no byte is copied, and the key line travels with it.
// Clients read versions as they read databases, with the request directory
// DIR/.versions/NAME and the version's own key. A removed list's history is
// DIR/.versions/"NAME STAMP": a list name never holds a space.
#ifndef TALVENPLAN_IO_VERSIONS_H_
#define TALVENPLAN_IO_VERSIONS_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "io/fd.h"
#include "io/place.h"

namespace talvenplan {

inline constexpr char kVersionsDir[] = ".versions";

// A version's name: "YYYYMMDDTHHMMSS.uuuuuuZ".
inline constexpr std::size_t kStampSize = 23;

// Microseconds since 1970 in UTC as a version's name, and back. Parse
// returns -1 for anything not of the form. Names stop at the last
// microsecond of the year 9999: past it there is no stamp of four-digit
// years, and a version is refused rather than named out of order.
void FormatStamp(std::int64_t micros, char (&stamp)[kStampSize + 1]);
std::int64_t ParseStamp(std::string_view stamp);
inline constexpr std::int64_t kLastStamp = 253402300799999999;

// Whether the directory `dir` is a versions directory, or lies below one:
// versions are the program's own, and no request writes there. Under a root
// only the directories inside it are looked at. None when the directories
// above cannot be looked at.
std::optional<bool> InsideVersions(int dir, const Root& root);

// A version a put has made of the file it replaces: kept once the new
// content has the name, dropped when the put fails.
struct KeptVersion {
  Fd dir;  // the file's versions directory, open for reading
  char stamp[kStampSize + 1] = "";
  std::vector<std::int64_t> stamps;  // every version there, this one too
};

// Hard-links the file at `place`, which must still be `expected`, into its
// versions directory as the newest version, into `kept`. The caller syncs
// `kept.dir` before anything replaces the file (the directories made for
// it are synced already). Nothing older is removed yet. kChanged when the
// name holds another file now; kCantCreate when no version could be made.
FileError KeepVersion(const Place& place, FileId expected, KeptVersion& kept);

// Takes back a version made for a put that failed.
void DropVersion(KeptVersion& kept);

// Removes the oldest versions beyond the newest `keep`, once the put they
// were kept for has succeeded. Only names of the stamp form are touched.
void PruneVersions(KeptVersion& kept, int keep);

// Moves the file at `place`, which must still be `expected`, out of the
// directory: its history (.versions/NAME) is shelved as "NAME STAMP", the
// stamp telling when it was removed, and the file goes in as the newest
// version there, the oldest beyond `keep` pruned after. Both directories
// are synced. A list made later under the same name starts a history of
// its own, and never prunes the removed one's.
FileError MoveToVersions(const Place& place, FileId expected, int keep);

// Shelves the history that a file at `place` left behind (a removal from
// before shelves existed, or one a crash cut short) before a new file is
// made under its name. kNone when there is none.
FileError ShelveHistory(const Place& place);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_VERSIONS_H_
