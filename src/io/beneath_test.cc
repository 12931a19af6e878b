#include "io/beneath.h"

#include <gtest/gtest.h>

namespace talvenplan {
namespace {

TEST(PathWithinTest, ComparesWholeComponents) {
  EXPECT_TRUE(PathWithin("/data", "/data"));
  EXPECT_TRUE(PathWithin("/data/shop", "/data"));
  EXPECT_TRUE(PathWithin("/data/shop/x", "/data/shop"));
  EXPECT_FALSE(PathWithin("/data2", "/data"));
  EXPECT_FALSE(PathWithin("/dat", "/data"));
  EXPECT_FALSE(PathWithin("/", "/data"));
  EXPECT_FALSE(PathWithin("/other/data", "/data"));
  EXPECT_TRUE(PathWithin("/", "/"));
  EXPECT_TRUE(PathWithin("/anything", "/"));
  // A root that could not be resolved holds nothing.
  EXPECT_FALSE(PathWithin("/", ""));
  EXPECT_FALSE(PathWithin("/data", ""));
}

}  // namespace
}  // namespace talvenplan
