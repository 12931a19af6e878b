#include "protocol/letter_pair.h"

#include "protocol/wire.h"

namespace talvenplan {

std::string EncodeLetterPairs(std::string_view bytes) {
  std::string letters;
  letters.reserve(2 * bytes.size());
  for (char c : bytes) {
    unsigned value = static_cast<unsigned char>(c);
    letters += static_cast<char>('a' + (value & 0xFu));
    letters += static_cast<char>('a' + (value >> 4));
  }
  return letters;
}

std::string OfferLinkQuery(std::string_view name, std::string_view directory) {
  std::string query(kOfferKey);
  query += EncodeLetterPairs(name);
  query += 'z';
  query += EncodeLetterPairs(directory);
  query += 'z';
  return query;
}

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
