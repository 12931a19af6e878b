#include "protocol/request.h"

#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "vectors.h"

namespace talvenplan {
namespace {

using namespace std::string_literals;

// Every body in the shared vectors cuts into the fields they give, each
// (but the text) also standing as a C string; where a client builds that
// body from those fields, BuildBody writes it byte for byte.
TEST(RequestVectorsTest, CutAndBuildAgreeWithTheVectors) {
  auto vectors = testing::ReadVectors("bodies.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    const std::string& body = v[0];
    std::string copy = body + '\0';  // the NUL intake stores after the body
    Request request = CutRequest(copy.data(), body.size());
    SCOPED_TRACE(Quote(body));
    EXPECT_EQ(std::string(1, request.letter), v[1].empty() ? "\0"s : v[1]);
    EXPECT_EQ(request.directory, v[2]);
    EXPECT_EQ(request.key, v[3]);
    EXPECT_EQ(request.name, v[4]);
    EXPECT_EQ(request.text, v[5]);
    for (std::string_view field :
         {request.directory, request.key, request.name}) {
      EXPECT_EQ(field.data()[field.size()], '\0');
    }
    if (v[6] == "yes") {
      EXPECT_EQ(BuildBody(v[1][0], v[2], v[3], v[4], v[5]), body);
    }
  }
}

TEST(CutRequestTest, LetterIsFirstByteEvenInEmptyBody) {
  char body[] = "";
  EXPECT_EQ(CutRequest(body, 0).letter, '\0');
  char list[] = "lx/d\n";
  EXPECT_EQ(CutRequest(list, 5).letter, 'l');
}

TEST(CutRequestTest, AListAsksForLoginsByItsLineAfterTheDirectory) {
  const std::pair<std::string, bool> rows[] = {
      {"l\n/d\nby\n", true},   {"l\n/d\r\nby\r\n", true},
      {"l\n/d\nby", true},     {"l\n/d\n\nby\n", true},
      {"l\n/d\n", false},      {"l\n/d\nbye\n", false},
      {"l\n/d\n by\n", false}, {"g\n/d\nby\n", false},
  };
  for (const auto& [body, logins] : rows) {
    std::string copy = body + '\0';
    EXPECT_EQ(CutRequest(copy.data(), body.size()).logins, logins)
        << Quote(body);
  }
  EXPECT_EQ(BuildBody('l', "/d", {}, {}, "by\n"), "l\n/d\nby\n");
}

}  // namespace
}  // namespace talvenplan
