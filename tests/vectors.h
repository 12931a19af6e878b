// Reads the protocol vectors in tests/vectors/: one vector a line, fields
// separated by TAB, `#` comments and empty lines skipped, each field
// unescaped (\n \r \t \\ \xNN) to the bytes it stands for.
#ifndef TALVENPLAN_TESTS_VECTORS_H_
#define TALVENPLAN_TESTS_VECTORS_H_

#include <string>
#include <vector>

namespace talvenplan::testing {

// The vectors of `file`, a name relative to tests/vectors/. Throws
// std::runtime_error when the file cannot be read or holds a malformed
// escape, so a test built on it fails instead of passing on no vectors.
std::vector<std::vector<std::string>> ReadVectors(const std::string& file);

// The page an offer link shows around the offer's text (offer_page.tsv).
struct OfferPage {
  std::string before, after;
  std::string Around(const std::string& text) const {
    return before + text + after;
  }
};
OfferPage ReadOfferPage();

}  // namespace talvenplan::testing

#endif  // TALVENPLAN_TESTS_VECTORS_H_
