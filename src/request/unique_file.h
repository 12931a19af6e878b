// Makes a new file under a name nobody else has, in one step: the name is
// chosen and the file created together (exclusive creation), so no other
// process can take the name in between.
#ifndef TALVENPLAN_REQUEST_UNIQUE_FILE_H_
#define TALVENPLAN_REQUEST_UNIQUE_FILE_H_

#include "request/fd.h"

namespace talvenplan {

struct UniqueFile {
  Fd fd;  // open for writing; invalid on failure
  // On failure: true when every name tried was taken (no name could be made),
  // false when the file could not be created for another reason.
  bool names_exhausted = false;
};

// `path` ends in "XXXXXX"; those six bytes are replaced with letters and
// digits (A-Z, a-z, 0-9) until a name is free, and the file is created with
// the default permissions (0666 less the umask). On success `path` holds the
// file's name.
UniqueFile CreateUniqueFile(char* path);

}  // namespace talvenplan

#endif  // TALVENPLAN_REQUEST_UNIQUE_FILE_H_
