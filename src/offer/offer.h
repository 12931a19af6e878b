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

// Whether the request's name is an offer's or a withdrawn offer's, which
// only RunOfferCommand answers for the letters g, p, q and r.
bool NamesOffer(const Request& request);

// g, p, q and r on an offer. With the key of the offer's first line (see
// protocol/offer_line.h), g answers "s" alone while the offer waits, and r
// withdraws it; everything else is refused. Nothing ever reads or rewrites
// an offer's content through a command.
int RunOfferCommand(const Request& request, const Context& context,
                    Output& out);

// Shows the offer file `name` (of the offer form, in the working directory)
// inside the offer page, without its offer line, and deletes it; a HEAD
// request (`head`) leaves it in place. A withdrawn offer's link says so.
// Without a root only a file that store marked is shown. Returns the process's
// exit status.
int ShowOffer(const char* name, bool head, const Context& context, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_OFFER_OFFER_H_
