#include "protocol/offer_line.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace talvenplan {
namespace {

TEST(OfferLineTest, KeyOnlyFromAWholeWellFormedLine) {
  auto vectors = testing::ReadVectors("offer_lines.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    OfferLine line = ReadOfferLine(v[0]);
    EXPECT_EQ(line.key, v[1]) << v[0];
    EXPECT_EQ(line.answer, v[2] == "1") << v[0];
  }
}

}  // namespace
}  // namespace talvenplan
