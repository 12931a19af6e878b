#include "database/commands.h"

namespace talvenplan {

int RunPut(const Request&, Output&) { return 0; }

}  // namespace talvenplan
