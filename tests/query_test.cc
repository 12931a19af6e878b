// The price query, seen from outside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

const std::string kWorkedExample =
    "k1\n2\nalpha 0.5\nbeta 1.25\n7\nTitle\n2\nChair 10.00\nTable 99.5\n"
    "t1\nt2\n";

struct LookupCase {
  const char* name;
  const char* answer;  // after the header
};

TEST(QueryTest, WorkedExample) {
  TempDir dir;
  WriteFile(dir.Path("prices"), kWorkedExample);
  for (LookupCase c :
       {LookupCase{"beta",
                   "s7\nTitle\n2\nChair 12.500000\nTable 124.375000\nt1\nt2\n"},
        {"alpha", "s7\nTitle\n2\nChair 5.000000\nTable 49.750000\nt1\nt2\n"},
        {"gamma", "s!"},
        {"Beta", "s!"}}) {
    CgiResult result =
        RunCommand("q\n" + dir.path + "\n" + c.name + " prices\n", "/");
    EXPECT_EQ(result.out, kHeader + std::string(c.answer)) << c.name;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_EQ(ReadFile(dir.Path("prices")), kWorkedExample);  // read only
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
  std::string file =
      "key\n2\nretail 1\nexport 1.19\nPrices\n\"2026\"\n200000\n";
  std::string answer = "sPrices\n\"2026\"\n200000\n";
  const double factor = static_cast<float>(1.19);
  for (int i = 0; i < 200000; ++i) {
    std::string price = std::to_string(i % 9973) + "." + std::to_string(i % 97);
    std::string prefix = "Item " + std::to_string(i) + (i % 3 ? " oak " : " ");
    file += prefix + price + "\n";
    char repriced[64];
    std::snprintf(repriced, sizeof repriced, "%f\n",
                  std::strtod(price.c_str(), nullptr) * factor);
    answer += prefix + repriced;
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

TEST(QueryTest, OutputThatCannotBeWrittenFails) {
  TempDir dir;
  std::string file = "key\n1\nbeta 2\nA\nB\n100000\n";
  for (int i = 0; i < 100000; ++i) file += "Item " + std::to_string(i) + "\n";
  WriteFile(dir.Path("prices"), file);
  CgiRun run;
  std::string body = "q\n.\nbeta prices\n";
  run.env = {"CONTENT_LENGTH=" + std::to_string(body.size())};
  run.input = body;
  run.cwd = dir.path;
  run.stdout_path = "/dev/full";
  CgiResult result = RunCgi(run);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 1);
}

}  // namespace
}  // namespace talvenplan::testing
