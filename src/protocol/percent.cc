#include "protocol/percent.h"

#include <cstring>

#include "protocol/wire.h"

namespace talvenplan {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool KeptAsIs(char c) {
  return IsNameAlphabet(c) || (c != '\0' && std::strchr("-_.!~*'()", c));
}

bool IsUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t PercentEncode(std::string_view value, char* out) {
  char* at = out;
  for (char c : value) {
    if (KeptAsIs(c)) {
      *at++ = c;
    } else {
      auto byte = static_cast<unsigned char>(c);
      *at++ = '%';
      *at++ = kHex[byte >> 4];
      *at++ = kHex[byte & 15];
    }
  }
  return static_cast<std::size_t>(at - out);
}

bool IsPercentEncoded(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (KeptAsIs(text[i])) continue;
    if (text[i] != '%' || i + 2 >= text.size() || !IsUpperHex(text[i + 1]) ||
        !IsUpperHex(text[i + 2])) {
      return false;
    }
    i += 2;
  }
  return true;
}

}  // namespace talvenplan
