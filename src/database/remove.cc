#include "database/commands.h"

namespace talvenplan {

int RunRemove(const Request&, Output&) { return 0; }

}  // namespace talvenplan
