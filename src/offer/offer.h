// Offers: staging an offer text, and showing it once through an offer link.
#ifndef TALVENPLAN_OFFER_OFFER_H_
#define TALVENPLAN_OFFER_OFFER_H_

#include "io/context.h"
#include "io/output.h"
#include "protocol/request.h"

namespace talvenplan {

// s: writes the text to a new uniquely named file, marked as an offer, and
// answers its name.
int RunStore(const Request& request, const Context& context, Output& out);

// Shows the offer file `name` (of the offer form, in the working directory)
// inside the offer page and deletes it; a HEAD request (`head`) leaves it in
// place. Without a root only a file that store marked is shown. Returns the
// process's exit status.
int ShowOffer(const char* name, bool head, const Context& context, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_OFFER_OFFER_H_
