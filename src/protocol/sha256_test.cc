#include "protocol/sha256.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace talvenplan {
namespace {

TEST(Sha256Test, DigestsOfTheVectorsWholeAndInPieces) {
  auto vectors = testing::ReadVectors("sha256.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    // At once, and fed a byte at a time: a piece that ends mid-block must
    // come to the same digest.
    for (std::size_t piece :
         {v[0].size() + 1, std::size_t{1}, std::size_t{7}}) {
      Sha256 hash;
      for (std::size_t at = 0; at < v[0].size(); at += piece) {
        hash.Update(std::string_view(v[0]).substr(at, piece));
      }
      char hex[kSha256HexSize + 1];
      hash.FinishHex(hex);
      EXPECT_EQ(hex, v[1]) << v[0] << " in pieces of " << piece;
    }
    EXPECT_TRUE(IsSha256Hex(v[1]));
  }
  EXPECT_FALSE(IsSha256Hex(std::string(64, 'A')));
  EXPECT_FALSE(IsSha256Hex(std::string(63, 'a')));
}

}  // namespace
}  // namespace talvenplan
