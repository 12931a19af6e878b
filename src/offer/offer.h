// Offers: staging an offer text, and showing it once through an offer link.
#ifndef TALVENPLAN_OFFER_OFFER_H_
#define TALVENPLAN_OFFER_OFFER_H_

#include <span>

#include "request/confine.h"
#include "request/front.h"
#include "request/output.h"
#include "request/request.h"

namespace talvenplan {

// s: writes the text to a new uniquely named file and answers its name.
int RunStore(const Request& request, Output& out);

// An offer link: `encoded` is the query string after "TALVENPLAN_FILE=".
// `buffer` holds kLineBufferSize bytes.
// `root` is the site's root, if any, that the link's directory must lie in.
int ShowOffer(const char* encoded, const CgiEnv& env, const Root& root,
              std::span<char> buffer, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_OFFER_OFFER_H_
