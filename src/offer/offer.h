// Offers: staging an offer text, and showing it once through an offer link.
#ifndef TALVENPLAN_OFFER_OFFER_H_
#define TALVENPLAN_OFFER_OFFER_H_

#include <span>

#include "io/output.h"
#include "protocol/request.h"

namespace talvenplan {

// s: writes the text to a new uniquely named file and answers its name.
int RunStore(const Request& request, Output& out);

// Shows the offer file `name` (of the offer form, in the working directory)
// inside the offer page and deletes it; a HEAD request (`head`) leaves it in
// place. `buffer` is scratch storage of kLineBufferSize bytes. Returns the
// process's exit status.
int ShowOffer(const char* name, bool head, std::span<char> buffer, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_OFFER_OFFER_H_
