#include "offer/offer.h"

namespace talvenplan {

int RunStore(const Request&, Output&) { return 0; }

}  // namespace talvenplan
