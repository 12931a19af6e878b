// Number conversions that give exactly what the C library gives in the POSIX
// locale: `atoi` for counts, `atof` for factors, counts and prices, and
// printf's "%f" for repriced prices. Stored files and their clients rely on
// these bytes, so a faster way is taken only where it cannot differ.
#ifndef TALVENPLAN_DATABASE_NUMBER_H_
#define TALVENPLAN_DATABASE_NUMBER_H_

#include <cstddef>
#include <string_view>

namespace talvenplan {

// What atoi gives for `text` read as a C string (it ends at the first NUL
// byte, if any): (int)strtol(text, nullptr, 10), so values beyond the range
// of long stick at its ends and are then narrowed to int.
int ParseInt(std::string_view text);

// What atof (strtod) gives for `text` read as a C string: leading white
// space, a sign, decimal or hexadecimal floating point, "inf", "infinity",
// "nan" and "nan(...)" in any case; no number reads as 0. `text` holds at
// most kMaxNumberText bytes before its first NUL byte.
double ParseDouble(std::string_view text);
inline constexpr std::size_t kMaxNumberText = 59999;

// The longest text FormatFixed writes: a sign, 309 integer digits, the point
// and six decimals.
inline constexpr std::size_t kMaxFixedText = 317;

// Writes `value` the way printf's "%f" does ("inf", "-nan", "-0.000000" and
// all) into `out`, which has room for kMaxFixedText bytes; returns the
// length. Writes no NUL.
std::size_t FormatFixed(double value, char* out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_NUMBER_H_
