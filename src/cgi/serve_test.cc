#include "cgi/serve.h"

#include <gtest/gtest.h>

namespace talvenplan {
namespace {

TEST(ParseContentLengthTest, ReadsLikeAtoiWithinRange) {
  EXPECT_EQ(ParseContentLength("12"), 12);
  EXPECT_EQ(ParseContentLength("12abc"), 12);
  EXPECT_EQ(ParseContentLength(" \t\n+7"), 7);
  EXPECT_EQ(ParseContentLength("2147483646"), 2147483646);
  EXPECT_EQ(ParseContentLength("0002147483646"), 2147483646);
}

TEST(ParseContentLengthTest, RefusesWhatCannotBeALength) {
  for (const char* text :
       {"", "abc", "0", "-0", "-5", "+-5", " - 5", "2147483647", "2147483648",
        "99999999999", "99999999999999999999999", "-99999999999"}) {
    EXPECT_EQ(ParseContentLength(text), std::nullopt) << "'" << text << "'";
  }
}
}  // namespace
}  // namespace talvenplan
