#include "database/commands.h"

namespace talvenplan {

int RunQuery(const Request&, Output&) { return 0; }

}  // namespace talvenplan
