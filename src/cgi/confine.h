// Confinement of requests to a site's data root (TALVEN_ROOT).
#ifndef TALVENPLAN_CGI_CONFINE_H_
#define TALVENPLAN_CGI_CONFINE_H_

#include "io/beneath.h"

namespace talvenplan {

// Resolves `root_text` (TALVEN_ROOT, or nullptr when it is not set) and
// opens the root directory.
void ResolveRoot(const char* root_text, Root& root);

// Changes to `directory` and, when the request is confined, checks that the
// kernel's resolved working directory lies within the root. False when
// either fails.
bool EnterDirectory(const char* directory, const Root& root);

}  // namespace talvenplan

#endif  // TALVENPLAN_CGI_CONFINE_H_
