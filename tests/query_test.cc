// The price query, seen from outside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "harness.h"
#include "vectors.h"

namespace talvenplan::testing {
namespace {

// Every vector through the program as a web server runs it, the database
// read only.
TEST(QueryTest, AnswersTheVectorsExactly) {
  TempDir dir;
  for (const auto& v : ReadVectors("query.tsv")) {
    SCOPED_TRACE(Quote(v[0]) + " / " + Quote(v[1]));
    WriteFile(dir.Path("prices"), v[0]);
    CgiResult result =
        RunCommand("q\n" + dir.path + "\n" + v[1] + " prices\n", "/");
    ExpectAnswer(result, v[2]);
    EXPECT_EQ(ReadFile(dir.Path("prices")), v[0]);
  }
}

TEST(QueryTest, NoSuchDatabaseOrFactor) {
  TempDir dir;
  WriteFile(dir.Path("new"), "key\n0\n0\n\"\"\n0\n0\n0\n");  // as created
  ::mkdir(dir.Path("sub").c_str(), 0777);
  for (const char* body : {"q\n.\n0 new\n", "q\n.\nbeta missing\n",
                           "q\n.\nbeta sub\n", "q\n.\nbeta \n", "q\n.\n"}) {
    CgiResult result = RunCommand(body, dir.path);
    EXPECT_EQ(result.out, kHeader + std::string("s!")) << body;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

// A long price list streams through every buffer exactly.
TEST(QueryTest, LongPriceListIsRepricedLineByLine) {
  TempDir dir;
  std::string file = "key\n2\nretail 1\nexport 2\nPrices\n\"2026\"\n200000\n";
  std::string answer = "sPrices\n\"2026\"\n200000\n";
  const char* const kPrices[][2] = {
      {"10", "20.000000"}, {"99.5", "199.000000"}, {"0.25", "0.500000"}};
  for (int i = 0; i < 200000; ++i) {
    std::string prefix = "Item " + std::to_string(i) + (i % 3 ? " oak " : " ");
    file += prefix + kPrices[i % 3][0] + "\n";
    answer += prefix + kPrices[i % 3][1] + "\n";
  }
  file += "End\n";
  answer += "End\n";
  WriteFile(dir.Path("prices"), file);
  CgiResult result = RunCommand("q\n.\nexport prices\n", dir.path);
  EXPECT_TRUE(result.out == kHeader + answer)
      << "answer of " << result.out.size() << " bytes differs";
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace talvenplan::testing
