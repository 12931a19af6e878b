#include "database/commands.h"

namespace talvenplan {

int RunCreate(const Request&, Output&) { return 0; }

}  // namespace talvenplan
