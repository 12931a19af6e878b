// Changing what a name in a directory holds, so that nothing is ever
// half-done.
//
// A file is never written in place. Its new content goes to a new file
// beside the name, which is synced and closed, then given the name in one
// step: a rename over the old file, or, for a file that must not replace
// another, a step that fails when the name is taken. The directory is synced
// last, so that the name lasts through a power cut as the bytes do.
//
// Every step works on one directory descriptor and one name in it, found
// once: a symbolic link swapped in meanwhile cannot send a later step to
// another file. What a name is replaced or removed over is checked to be the
// very file that was opened before.
#ifndef TALVENPLAN_IO_PLACE_H_
#define TALVENPLAN_IO_PLACE_H_

#include <limits.h>
#include <sys/types.h>

#include <initializer_list>
#include <optional>
#include <string_view>

#include "io/beneath.h"
#include "io/fd.h"
#include "io/file.h"

namespace talvenplan {

// A file's place: the directory that holds it, and its name there (no
// slash). The directory is open for finding names only (O_PATH), so that a
// directory the program may search but not read still has places; the steps
// that sync it open it for reading themselves.
struct Place {
  Fd directory;
  const char* name = "";
  char resolved[PATH_MAX] = "";  // storage for a name a link led to

  int dir() const { return directory.get(); }
};

// Opens the directory part of `path` (relative to the working directory;
// "." when it has no slash) and points `place.name` at its last component,
// inside `path`. Under a root the directory part must be an absolute path
// with every link followed, and is opened from the root, staying inside.
// Returns 0 or the errno value.
int FindParent(const Root& root, const char* path, Place& place);

// Opens the regular file that `path` names for reading, as OpenRegular does,
// and finds its place. A symbolic link in the last component is followed to
// the end of its chain, once: the place is then the directory the link led
// to and the file's own name there. The file is opened at its place without
// following any link, so whatever a link leads to afterwards, the file open
// is the one at the place. Under a root the place must lie inside it (EACCES
// otherwise).
OpenFile OpenAtPlace(const Root& root, const char* path, Place& place);

enum class FileError {
  kNone,
  kCantCreate,  // no new file could be made beside the name, or the old one
                // may not be written
  kCantWrite,   // the new file could not be written whole and synced
  kTaken,       // the name is taken
  kChanged,     // the name no longer holds the file that was opened
  kCantName,    // the name could not be given to the new file, or removed
  kCantSync,    // the change is made, but the directory could not be synced
};

// A new file written whole beside a name, waiting to be given the name. It
// is removed when it goes out of scope without having been given it.
struct NewFile {
  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  Fd directory;                  // the place's, open so that it can be synced
  char name[NAME_MAX + 1] = "";  // empty when there is no such file
};

// Whether the name `name` in `dir` is the file `expected`, itself and not a
// link to it.
bool Holds(int dir, const char* name, FileId expected);

// Whether this process may write the file at `place`.
bool MayWrite(const Place& place);

// Writes a new file holding `parts` beside the name at `place`, under a
// name made from `temp_name` (which ends in kRandomChars 'X' bytes), whole
// and synced, with the permission bits `mode` (none: 0666 less the umask).
// A `mark` with a name is set on it first as an extended attribute; a file
// system that keeps none, or refuses it, goes without. On failure nothing is
// left behind.
struct Mark {
  const char* name = nullptr;
  std::string_view value;
};
FileError WriteBeside(const Place& place, const char* temp_name,
                      std::optional<mode_t> mode,
                      std::initializer_list<std::string_view> parts,
                      NewFile& file, Mark mark = {});

// Makes `place.name` a new file holding `parts`, unless the name is taken;
// another file is never replaced. On any error but kCantSync nothing is
// left behind.
FileError CreateNew(const Place& place, const char* temp_name,
                    std::initializer_list<std::string_view> parts,
                    Mark mark = {});

// Renames `file` over `name` in its directory when that name still holds
// the file `expected`, and syncs the directory. On kChanged the new file
// waits on, for the caller to judge the file now under the name and try
// again.
FileError RenameOver(NewFile& file, const char* name, FileId expected);

// Removes the name at `place` when it is still the file `expected`, and
// syncs the directory.
FileError Remove(const Place& place, FileId expected);

// How a new file gets its name without replacing another. A no-replace
// rename is one step, but a file system may refuse the flag (NFS,
// GlusterFS and other FUSE file systems) or, worse, ignore it and replace
// the file (ceph-fuse before late 2023). A hard link fails when the name is
// taken on every POSIX file system; the temporary name is removed after it.
enum class NewNameWay { kRenameNoReplace, kLink };

// The no-replace rename only on file systems known to honour it: ext2/3/4,
// XFS, Btrfs and tmpfs, told by the statfs type `type`; for the file system
// of `dir`.
NewNameWay NewNameWayForType(unsigned long type);
NewNameWay NewNameWayFor(int dir);

// Gives the file `temp_name` in `dir` the name `name`, unless that is taken,
// the way `way` says. Where a file system has no hard links (vfat, exFAT,
// some FUSE and SMB mounts refuse them with EPERM or EOPNOTSUPP), the
// no-replace rename is tried after all: there it is the only way. Returns 0,
// EEXIST when the name is taken, or another errno value; `temp_name` is gone
// afterwards in every case.
int LinkNew(int dir, const char* temp_name, const char* name, NewNameWay way);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_PLACE_H_
