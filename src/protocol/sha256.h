// SHA-256, for the hash of an offer's bytes that the program records when
// the offer is staged and that the customer's answer carries back. Small
// and self-contained: the program links statically and starts for every
// request, and needs no library's start-up for one hash.
#ifndef TALVENPLAN_PROTOCOL_SHA256_H_
#define TALVENPLAN_PROTOCOL_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talvenplan {

inline constexpr std::size_t kSha256HexSize = 64;

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest as lowercase hex, NUL-terminated. Ends the hash.
  void FinishHex(char (&hex)[kSha256HexSize + 1]);

 private:
  void Block(const unsigned char* block);

  std::uint32_t state_[8];
  unsigned char buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

// Whether `text` is 64 lowercase hex digits.
bool IsSha256Hex(std::string_view text);

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_SHA256_H_
