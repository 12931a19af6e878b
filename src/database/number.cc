#include "database/number.h"

#include <bit>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace talvenplan {
namespace {

// isspace in the POSIX locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The C library itself, for every text the fast ways do not take. strtod
// needs a C string, so the text is copied: the caller's bytes need not be
// NUL-terminated, and they may not be written to.
[[gnu::noinline]] double StrtodCopy(const char* begin, const char* end) {
  char copy[kMaxNumberText + 1];
  std::size_t size = static_cast<std::size_t>(end - begin);
  if (size > kMaxNumberText) size = kMaxNumberText;
  std::memcpy(copy, begin, size);
  copy[size] = '\0';
  return std::strtod(copy, nullptr);
}

__extension__ typedef unsigned __int128 Uint128;

// "00", "01", ... "99".
constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334"
    "3536373839404142434445464748495051525354555657585960616263646566676869"
    "707172737475767778798081828384858687888990919293949596979899";

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                   1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                   1e14, 1e15, 1e16, 1e17, 1e18, 1e19};

}  // namespace

int ParseInt(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // strtol: the magnitude saturates at the end of long's range.
  const unsigned long limit =
      negative ? static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
  unsigned long magnitude = 0;
  for (; p < end && IsDigit(*p); ++p) {
    unsigned long digit = static_cast<unsigned long>(*p - '0');
    magnitude =
        magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  // atoi narrows strtol's long to int; both conversions wrap modulo 2^n.
  unsigned long bits = negative ? 0 - magnitude : magnitude;
  return static_cast<int>(static_cast<long>(bits));
}

double ParseDouble(std::string_view text) {
  // No scan below passes a NUL byte (it is neither blank nor digit), and
  // strtod stops at it in the copy: the text ends there for both.
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && IsSpace(*p)) ++p;
  if (p == end) return 0.0;
  const char* const number = p;

  // The fast way takes plain decimals only: a sign, digits with at most one
  // point, at least one digit, and no exponent after them. strtod would read
  // exactly these bytes.
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    return StrtodCopy(number, end);  // hexadecimal
  }
  std::uint64_t mantissa = 0;
  int digit_count = 0;
  for (; p < end && IsDigit(*p); ++p, ++digit_count) {
    mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
  }
  int decimals = 0;
  if (p < end && *p == '.') {
    for (++p; p < end && IsDigit(*p); ++p, ++decimals) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    }
  }
  digit_count += decimals;
  if (digit_count == 0) return StrtodCopy(number, end);  // inf, nan, none

  const bool exponent = p < end && (*p == 'e' || *p == 'E');
  if (!exponent && digit_count <= 19 && mantissa <= (std::uint64_t{1} << 53)) {
    // The digits fit 64 bits and are an exact double; so is the power of
    // ten (decimals <= 19). One division then rounds correctly: the value
    // strtod gives (Clinger's fast path).
    double value = static_cast<double>(mantissa) / kPowersOfTen[decimals];
    return negative ? -value : value;
  }
  // Exponents, long digit strings and mantissas beyond 2^53 are rare in
  // price lists: the C library reads them.
  return StrtodCopy(number, end);
}

std::size_t FormatFixed(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  char* p = out;

  if (exponent == 0x7ff) {  // printf: "inf", "-inf", "nan", "-nan"
    if (negative) *p++ = '-';
    std::memcpy(p, fraction == 0 ? "inf" : "nan", 3);
    return static_cast<std::size_t>(p + 3 - out);
  }

  // value = mantissa * 2^-shift exactly. Below 2^43 (shift >= 10) the value
  // in millionths, mantissa * 10^6 * 2^-shift, is found exactly in 128 bits
  // and rounded half to even as printf rounds; it then fits 64 bits.
  const std::uint64_t mantissa =
      exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int shift = exponent == 0 ? 1074 : 1075 - exponent;
  if (shift < 10) {
    std::to_chars_result result = std::to_chars(out, out + kMaxFixedText, value,
                                                std::chars_format::fixed, 6);
    return static_cast<std::size_t>(result.ptr - out);
  }
  std::uint64_t millionths = 0;
  if (shift < 74) {  // from 74 on the value is below 2^-21: it rounds to 0
    const Uint128 scaled = static_cast<Uint128>(mantissa) * 1000000;
    const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
    const Uint128 rest = scaled & ((half << 1) - 1);
    millionths = static_cast<std::uint64_t>(scaled >> shift);
    if (rest > half || (rest == half && (millionths & 1) != 0)) ++millionths;
  }

  if (negative) *p++ = '-';
  p = std::to_chars(p, p + 20, millionths / 1000000).ptr;
  *p++ = '.';
  unsigned decimals = static_cast<unsigned>(millionths % 1000000);
  std::memcpy(p, kDigitPairs + 2 * (decimals / 10000), 2);
  std::memcpy(p + 2, kDigitPairs + 2 * (decimals / 100 % 100), 2);
  std::memcpy(p + 4, kDigitPairs + 2 * (decimals % 100), 2);
  return static_cast<std::size_t>(p + 6 - out);
}

}  // namespace talvenplan
