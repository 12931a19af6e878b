// Opening the database file a request names.
#ifndef TALVENPLAN_DATABASE_OPEN_H_
#define TALVENPLAN_DATABASE_OPEN_H_

#include <sys/types.h>

#include "request/fd.h"
#include "request/request.h"

namespace talvenplan {

// Opens the request's file name, relative to the request's directory, with
// `flags` (O_CLOEXEC is added). When the request is confined to a site's
// root, a name holding "/" could lead out of the directory that was checked,
// so it fails like a file that cannot be opened (errno EACCES).
Fd OpenDatabase(const Request& request, int flags, mode_t mode = 0);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_OPEN_H_
