// Keeping the content a put replaces, and the database a remove takes away,
// as versions beside it.
//
// Beside a file NAME, the directory .versions/NAME holds its versions, each
// a file named by when it was replaced: a UTC time to the microsecond, such
// as 20261209T045512.123456Z, so that names sort oldest first. A version is
// the replaced file itself, hard-linked under that name before the rename
// that replaces it: no byte is copied, and the key line travels with it.
// Clients read versions as they read databases, with the request directory
// DIR/.versions/NAME and the version's own key.
#ifndef TALVENPLAN_IO_VERSIONS_H_
#define TALVENPLAN_IO_VERSIONS_H_

#include <cstdint>
#include <string_view>

#include "io/fd.h"
#include "io/place.h"

namespace talvenplan {

inline constexpr char kVersionsDir[] = ".versions";

// A version's name: "YYYYMMDDTHHMMSS.uuuuuuZ".
inline constexpr std::size_t kStampSize = 23;

// Microseconds since 1970 in UTC as a version's name, and back. Parse
// returns -1 for anything not of the form.
void FormatStamp(std::int64_t micros, char (&stamp)[kStampSize + 1]);
std::int64_t ParseStamp(std::string_view stamp);

// Hard-links the file at `place`, which must still be `expected`, into its
// versions directory as the newest version, after removing the oldest
// beyond the newest `keep` (at least 1), and leaves that directory open in
// `versions`: the caller syncs it before anything replaces the file (the
// directories made for it are synced already). kChanged when the name holds
// another file now; kCantCreate when no version could be made.
FileError KeepVersion(const Place& place, FileId expected, int keep,
                      Fd& versions);

// Moves the file at `place`, which must still be `expected`, into its
// versions directory as the newest version, as KeepVersion keeps one, and
// syncs both directories.
FileError MoveToVersions(const Place& place, FileId expected, int keep);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_VERSIONS_H_
