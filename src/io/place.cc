#include "io/place.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cassert>
#include <cstring>

namespace talvenplan {
namespace {

OpenFile Failed(int error) {
  OpenFile file;
  file.error = error;
  return file;
}

// The directory at `place` opened for reading, so that it can be synced. A
// directory the program may not read cannot be, so every change needs this
// before it begins.
Fd SyncableDirectory(const Place& place) {
  return Fd(::openat(place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FileError Synced(int dir) {
  return SyncDirectory(dir) ? FileError::kNone : FileError::kCantSync;
}

}  // namespace

bool Holds(int dir, const char* name, FileId expected) {
  struct stat info {};
  return ::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         FileId{info.st_dev, info.st_ino} == expected;
}

int FindParent(const Root& root, const char* path, Place& place) {
  const char* slash = std::strrchr(path, '/');
  constexpr int kFlags = O_PATH | O_DIRECTORY;
  if (slash == nullptr) {
    place.directory = OpenBeneath(root, ".", kFlags);
    place.name = path;
  } else {
    // The directory part, "/" for a file in the root directory.
    std::size_t size =
        slash == path ? 1 : static_cast<std::size_t>(slash - path);
    char directory[PATH_MAX];
    if (size >= sizeof directory) return ENAMETOOLONG;
    std::memcpy(directory, path, size);
    directory[size] = '\0';
    place.directory = OpenResolved(root, directory, kFlags);
    place.name = slash + 1;
  }
  return place.directory ? 0 : errno;
}

OpenFile OpenAtPlace(const Root& root, const char* path, Place& place) {
  if (int error = FindParent(root, path, place)) return Failed(error);
  OpenFile file = OpenRegular(place.dir(), place.name, O_NOFOLLOW);
  if (file.fd || file.error != ELOOP) return file;

  // The last component is a symbolic link. Where its chain ends is found
  // once; from then on only that directory and that name are used.
  if (::realpath(path, place.resolved) == nullptr) return Failed(errno);
  if (root.confined && !PathWithin(place.resolved, root.path)) {
    return Failed(EACCES);
  }
  if (int error = FindParent(root, place.resolved, place)) {
    return Failed(error);
  }
  return OpenRegular(place.dir(), place.name, O_NOFOLLOW);
}

NewNameWay NewNameWayFor(int dir) {
  struct statfs info {};
  if (::fstatfs(dir, &info) != 0) return NewNameWay::kLink;
  return NewNameWayForType(static_cast<unsigned long>(info.f_type));
}

NewNameWay NewNameWayForType(unsigned long type) {
  switch (type) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC: return NewNameWay::kRenameNoReplace;
    default: return NewNameWay::kLink;
  }
}

int LinkNew(int dir, const char* temp_name, const char* name, NewNameWay way) {
  int error = 0;
  if (way == NewNameWay::kRenameNoReplace) {
    if (::renameat2(dir, temp_name, dir, name, RENAME_NOREPLACE) == 0) {
      return 0;
    }
    error = errno;
    // A kernel or a container that lacks the call is taken at its word:
    // the link below is safe everywhere.
    if (error != EINVAL && error != ENOSYS && error != EPERM) {
      ::unlinkat(dir, temp_name, 0);
      return error;
    }
  }
  error = ::linkat(dir, temp_name, dir, name, 0) == 0 ? 0 : errno;
  // EOPNOTSUPP is ENOTSUP on Linux.
  if (way == NewNameWay::kLink && (error == EPERM || error == EOPNOTSUPP)) {
    if (::renameat2(dir, temp_name, dir, name, RENAME_NOREPLACE) == 0) {
      return 0;
    }
    error = errno;
  }
  ::unlinkat(dir, temp_name, 0);
  return error;
}

NewFile::~NewFile() {
  if (name[0] != '\0') ::unlinkat(directory.get(), name, 0);
}

bool MayWrite(const Place& place) {
  return ::faccessat(place.dir(), place.name, W_OK, AT_EACCESS) == 0;
}

FileError WriteBeside(const Place& place, const char* temp_name,
                      std::optional<mode_t> mode,
                      std::initializer_list<std::string_view> parts,
                      NewFile& file, Mark mark) {
  file.directory = SyncableDirectory(place);
  if (!file.directory) return FileError::kCantCreate;
  int dir = file.directory.get();
  char name[sizeof file.name];
  std::size_t size = std::strlen(temp_name) + 1;
  assert(size <= sizeof name);
  std::memcpy(name, temp_name, size);
  UniqueFile unique = CreateUniqueFile(dir, name);
  if (!unique.fd) return FileError::kCantCreate;
  // Before the permission bits: a file whose bits forbid writing takes no
  // user attribute, even through a descriptor open for writing.
  // A file system that keeps no user attributes, or refuses them, costs the
  // mark and not the write; a full or failing disk fails it.
  if (mark.name != nullptr &&
      !SetMark(unique.fd.get(), mark.name, mark.value) && errno != ENOTSUP &&
      errno != EPERM && errno != EACCES) {
    unique.fd.Close();
    ::unlinkat(dir, name, 0);
    return FileError::kCantWrite;
  }
  if (mode && ::fchmod(unique.fd.get(), *mode) != 0) {
    unique.fd.Close();
    ::unlinkat(dir, name, 0);
    return FileError::kCantCreate;
  }
  if (!WriteDurably(unique.fd, dir, name, parts)) return FileError::kCantWrite;
  std::memcpy(file.name, name, size);
  return FileError::kNone;
}

FileError CreateNew(const Place& place, const char* temp_name,
                    std::initializer_list<std::string_view> parts, Mark mark) {
  // A name that cannot be made is known before anything is written.
  if (*place.name == '\0') return FileError::kCantName;
  NewFile file;
  if (FileError error =
          WriteBeside(place, temp_name, std::nullopt, parts, file, mark);
      error != FileError::kNone) {
    return error;
  }
  int dir = file.directory.get();
  int error = LinkNew(dir, file.name, place.name, NewNameWayFor(dir));
  file.name[0] = '\0';  // gone either way
  if (error == EEXIST) return FileError::kTaken;
  if (error != 0) return FileError::kCantName;
  return Synced(dir);
}

FileError RenameOver(NewFile& file, const char* name, FileId expected) {
  int dir = file.directory.get();
  // Checked last, right before the rename: the file under the name is still
  // the one whose content the caller judged.
  if (!Holds(dir, name, expected)) return FileError::kChanged;
  if (::renameat(dir, file.name, dir, name) != 0) return FileError::kCantName;
  file.name[0] = '\0';
  return Synced(dir);
}

FileError Remove(const Place& place, FileId expected) {
  Fd dir = SyncableDirectory(place);
  if (!dir) return FileError::kCantName;
  if (!Holds(dir.get(), place.name, expected)) return FileError::kChanged;
  if (::unlinkat(dir.get(), place.name, 0) != 0) return FileError::kCantName;
  return Synced(dir.get());
}

}  // namespace talvenplan
