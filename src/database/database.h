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

int RunCreate(const Request& request, const Context& context, Output& out);  // c
int RunGet(const Request& request, const Context& context, Output& out);     // g
int RunList(const Request& request, const Context& context, Output& out);    // l
int RunPut(const Request& request, const Context& context, Output& out);     // p
int RunQuery(const Request& request, const Context& context, Output& out);   // q
int RunRemove(const Request& request, const Context& context, Output& out);  // r

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_DATABASE_H_
