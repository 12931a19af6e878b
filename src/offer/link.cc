#include "offer/offer.h"

namespace talvenplan {

int ShowOffer(const char*, const CgiEnv&, std::span<char>, Output&) {
  return 0;
}

}  // namespace talvenplan
