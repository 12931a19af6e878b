// Percent-encoding of values that the server records beside a file: every
// byte but letters, digits and - _ . ! ~ * ' ( ) as %HH, as JavaScript's
// encodeURIComponent writes it. An encoded value holds no space, tab or line
// end, so it never breaks the line or the field it is written into, and the
// page reads it back with decodeURIComponent.
#ifndef TALVENPLAN_PROTOCOL_PERCENT_H_
#define TALVENPLAN_PROTOCOL_PERCENT_H_

#include <cstddef>
#include <string_view>

namespace talvenplan {

// An encoded byte takes at most this many.
inline constexpr std::size_t kPercentWidth = 3;

// Encodes `value` into `out`, which has room for kPercentWidth bytes for
// each of `value`'s; returns how many it wrote.
std::size_t PercentEncode(std::string_view value, char* out);

// The value of the hex digit `c`, in either case, or -1 for another byte.
int HexValue(char c);

// Whether `text` holds only what PercentEncode writes, each % followed by
// two upper-case hex digits.
bool IsPercentEncoded(std::string_view text);

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_PERCENT_H_
