#include "protocol/offer_line.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace talvenplan {
namespace {

TEST(OfferLineTest, KeyOnlyFromAWholeWellFormedLine) {
  auto vectors = testing::ReadVectors("offer_lines.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) EXPECT_EQ(OfferLineKey(v[0]), v[1]) << v[0];
}

}  // namespace
}  // namespace talvenplan
