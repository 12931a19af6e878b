// The letter-pair encoding of offer links.
//
// Each byte of a name is written as two letters: 'a' plus its low four bits,
// then 'a' plus its high four bits (a full stop is "oc", a slash "pc"). A
// name ends with a 'z' where a pair would begin; a 'z' in second place is an
// ordinary letter. Any other byte decodes by the same arithmetic: the pair
// (first, second) stands for the low eight bits of
// (first - 97) + 16 * (second - 97), each letter taken as 0-255.
#ifndef TALVENPLAN_PROTOCOL_LETTER_PAIR_H_
#define TALVENPLAN_PROTOCOL_LETTER_PAIR_H_

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace talvenplan {

// The letter pairs of `bytes`, without the closing 'z'.
std::string EncodeLetterPairs(std::string_view bytes);

// An offer link's query string: "TALVENPLAN_FILE=", the encoded offer name,
// 'z', the encoded directory, 'z'.
std::string OfferLinkQuery(std::string_view name, std::string_view directory);

struct DecodedName {
  // False when the text ends inside the name (no closing 'z', or a lone
  // letter before the end) or the name and its NUL do not fit the output.
  bool complete = false;
  std::size_t size = 0;        // bytes decoded, the NUL after them not counted
  const char* rest = nullptr;  // the text after the closing 'z'
};

// Decodes one name from the C string `text` into `out` and ends it with a NUL
// byte. Never reads past the NUL that ends `text` and never writes past the
// end of `out`; what is in `out` after an incomplete decoding is undefined.
DecodedName DecodeLetterPairs(const char* text, std::span<char> out);

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_LETTER_PAIR_H_
