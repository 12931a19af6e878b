#include "offer/letter_pair.h"

namespace talvenplan {

DecodedName DecodeLetterPairs(const char* text, std::span<char> out) {
  std::size_t size = 0;
  const char* p = text;
  while (*p != 'z') {
    if (p[0] == '\0' || p[1] == '\0') return {};
    // One slot must stay free for the NUL.
    if (size + 1 >= out.size()) return {};
    // Unsigned arithmetic wraps modulo 2^32, a multiple of 256, so the low
    // eight bits are those of the true value.
    unsigned first = static_cast<unsigned char>(p[0]);
    unsigned second = static_cast<unsigned char>(p[1]);
    out[size++] =
        static_cast<char>(((first - 97u) + 16u * (second - 97u)) & 0xFFu);
    p += 2;
  }
  if (out.empty()) return {};
  out[size] = '\0';
  return {true, size, p + 1};
}

}  // namespace talvenplan
