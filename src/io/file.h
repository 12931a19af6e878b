// Files that appear whole or not at all.
//
// A new file is made under a name nobody else has, in one step: the name is
// chosen and the file created together (exclusive creation), so no other
// process can take the name in between. Its content is written, synced and
// closed before anyone relies on it, and removed again on any failure.
#ifndef TALVENPLAN_IO_FILE_H_
#define TALVENPLAN_IO_FILE_H_

#include <fcntl.h>
#include <sys/types.h>

#include <initializer_list>
#include <string_view>

#include "io/fd.h"

namespace talvenplan {

// A unique name ends in this many random characters, each one of
// kNameAlphabet.
inline constexpr std::size_t kRandomChars = 6;
inline constexpr std::string_view kNameAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
static_assert(kNameAlphabet.size() == 62);

struct UniqueFile {
  Fd fd;  // open for writing; invalid on failure
  // On failure: true when every name tried was taken (no name could be made),
  // false when the file could not be created for another reason.
  bool names_exhausted = false;
};

// `name` ends in kRandomChars 'X' bytes; they are replaced with characters of
// kNameAlphabet until a name is free in the directory `dir` (a descriptor,
// or AT_FDCWD), and the file is created there with the default permissions
// (0666 less the umask). On success `name` holds the file's name.
UniqueFile CreateUniqueFile(int dir, char* name);

// Writes every part to `file` in turn, syncs and closes it. On any failure
// (a short write, a full disk, a failed sync or close) the file `name` in
// `dir` is removed, so nothing half-made stays, and the result is false.
bool WriteDurably(Fd& file, int dir, const char* name,
                  std::initializer_list<std::string_view> parts);

// Which file a name stood for: a rename or a new file under the name changes
// it, a write in place does not.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// A regular file open for reading. On failure `fd` is invalid and `error`
// holds the errno value.
struct OpenFile {
  Fd fd;
  FileId id;
  mode_t mode = 0;         // the permission bits
  bool directory = false;  // a directory, let through (see OpenRegular)
  int error = 0;
};

// The one way a file the program reads is opened: `name` in the directory
// `dir` (a descriptor, or AT_FDCWD), read-only with `flags` added (such as
// O_NOFOLLOW). A FIFO or a device cannot hold the open up (O_NONBLOCK, which
// reads of a regular file ignore), and anything but a regular file or a
// directory fails with ENXIO, as a file that cannot be opened. A directory
// never blocks: it opens, marked as one, and a read of it fails (EISDIR), so
// a database's name that holds one is a file that cannot be read.
OpenFile OpenRegular(int dir, const char* name, int flags = 0);

// On a shared file system (NFS, GlusterFS), a file that another host renames
// a new version over between the lookup of its name and the open answers
// ESTALE, though the name is fine: it now leads to the new file. The kernel
// tries once more; a further put can beat that try, so the opens above try
// up to this many times before they report the error.
inline constexpr int kStaleTries = 4;

// The same for a descriptor `fd` already opened that way (by another route):
// kept when it is a regular file.
OpenFile KeepRegular(Fd fd);

// Sets the extended attribute `name` to `value` on the open file `fd`, or
// tells whether it holds exactly that value. A file system without extended
// attributes (ENOTSUP) has no mark, and cannot be given one.
bool SetMark(int fd, const char* name, std::string_view value);
bool HasMark(int fd, const char* name, std::string_view value);

// Opens the directory `path` ("." for the working one) so that the names in
// it can be synced. That needs read permission: a directory the program may
// not read cannot be synced, so a writer opens it before it changes
// anything there, and changes nothing when it cannot.
Fd OpenDirectory(const char* path);

// Syncs the directory open on `dir`, so that names made, renamed or removed
// in it survive a power cut as the files' bytes do.
bool SyncDirectory(int dir);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_FILE_H_
