#include "protocol/percent.h"

#include <gtest/gtest.h>

#include <string>

namespace talvenplan {
namespace {

TEST(PercentTest, EncodesAsTheBrowserDecodesAndKnowsItsOwnForm) {
  const std::pair<std::string, std::string> rows[] = {
      {"alice", "alice"},
      {"J\xc3\xa4rvi, A.", "J%C3%A4rvi%2C%20A."},
      {"-_.!~*'()", "-_.!~*'()"},
      {std::string("a\0\t\n%/", 6), "a%00%09%0A%25%2F"},
  };
  for (const auto& [value, encoded] : rows) {
    char out[64];
    EXPECT_EQ(std::string(out, PercentEncode(value, out)), encoded);
    EXPECT_TRUE(IsPercentEncoded(encoded)) << encoded;
  }
  for (const char* foreign : {"a b", "a\tb", "%4", "%4a", "%zz", "a/b", "%"}) {
    EXPECT_FALSE(IsPercentEncoded(foreign)) << foreign;
  }
}

}  // namespace
}  // namespace talvenplan
