// The offer line: the first line the workbench and the client give an offer,
// as an HTML comment the customer never sees.
//
//   <!--talvenplan-offer key=KEY until=YYYY-MM-DD answer=1-->
//
// KEY, 16 to 64 letters, digits, '_' or '-', is the offer's own and is kept
// only by whoever staged it: with it a get learns that the offer still waits
// and a remove withdraws it; no other key reads, changes or removes an
// offer. until= (the offer's last valid day, optional) is for the clean-up
// and bounds the customer's answer. answer=1 (optional) asks store for an
// answer slot: the customer may then answer the offer once. The offer
// link's page leaves the line out.
#ifndef TALVENPLAN_PROTOCOL_OFFER_LINE_H_
#define TALVENPLAN_PROTOCOL_OFFER_LINE_H_

#include <cstddef>
#include <string_view>

namespace talvenplan {

inline constexpr std::string_view kOfferLineStart = "<!--talvenplan-offer key=";
inline constexpr std::string_view kOfferLineEnd = "-->";
inline constexpr std::size_t kOfferKeyMin = 16;
inline constexpr std::size_t kOfferKeyMax = 64;
// Start, key, " until=YYYY-MM-DD", " answer=1", end and newline, with room
// to spare.
inline constexpr std::size_t kOfferLineMax = 160;

struct OfferLine {
  std::string_view key;    // empty: `line` is no offer line
  std::string_view until;  // "YYYY-MM-DD", or empty
  bool answer = false;
};

// What `line` (a whole first line, its newline included) says; an empty key
// when it is not an offer line.
OfferLine ReadOfferLine(std::string_view line);

// The key of `line`, or an empty view when it is not an offer line.
inline std::string_view OfferLineKey(std::string_view line) {
  return ReadOfferLine(line).key;
}

// A withdrawn offer keeps its bytes under its name and this suffix, so that
// its link can say it was withdrawn rather than used.
inline constexpr std::string_view kWithdrawnSuffix = ".withdrawn";

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_OFFER_LINE_H_
