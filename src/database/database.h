// The commands that work on database files and on the request's directory.
// Each runs after the server has cut the fields and changed to the request's
// directory, writes its status word and payload, and returns the process's
// exit status.
#ifndef TALVENPLAN_DATABASE_DATABASE_H_
#define TALVENPLAN_DATABASE_DATABASE_H_

#include "io/context.h"
#include "io/output.h"
#include "protocol/request.h"

namespace talvenplan {

// The letters c, g, l, p, q and r.
int RunCreate(const Request& request, const Context& context, Output& out);
int RunGet(const Request& request, const Context& context, Output& out);
int RunList(const Request& request, const Context& context, Output& out);
int RunPut(const Request& request, const Context& context, Output& out);
int RunQuery(const Request& request, const Context& context, Output& out);
int RunRemove(const Request& request, const Context& context, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_DATABASE_H_
