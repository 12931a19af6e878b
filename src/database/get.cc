#include "database/commands.h"

namespace talvenplan {

int RunGet(const Request&, Output&) { return 0; }

}  // namespace talvenplan
