// The list command, seen from outside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

// Splits a listing's lines after "s" and sorts them: the directory's own
// order is not fixed.
std::vector<std::string> Lines(const std::string& answer) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < answer.size()) {
    std::size_t end = answer.find('\n', at);
    lines.push_back(answer.substr(at, end - at));
    at = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(ListTest, EmptyOrOnlyDotFilesAnswersANewline) {
  TempDir dir;
  CgiResult empty = RunCommand("l\n.\n", dir.path);
  EXPECT_EQ(empty.out, std::string(kHeader) + "s\n");
  EXPECT_EQ(empty.status, 0);

  WriteFile(dir.Path(".hidden"), "x");
  WriteFile(dir.Path(".aB3xYz"), "offer");
  CgiResult dots = RunCommand("l\n.\n", dir.path);
  EXPECT_EQ(dots.out, std::string(kHeader) + "s\n");
  EXPECT_EQ(dots.err, "");
}

TEST(ListTest, ListsEveryEntryButDotNamesOncePerLine) {
  TempDir dir;
  for (const char* name : {"a", "b", "x.y", ".hidden", "na\xe4me"}) {
    WriteFile(dir.Path(name), "");
  }
  ::mkdir(dir.Path("sub").c_str(), 0777);
  CgiResult result = RunCommand("l\n" + dir.path + "\n", "/");
  ASSERT_EQ(result.out.substr(0, kHeader.size() + 1),
            std::string(kHeader) + "s");
  std::string lines = result.out.substr(kHeader.size() + 1);
  EXPECT_EQ(lines.back(), '\n');
  EXPECT_EQ(Lines(lines),
            (std::vector<std::string>{"a", "b", "na\xe4me", "sub", "x.y"}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST(ListTest, LargeDirectoryListsEveryName) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    names.push_back("price-list-with-a-long-name-" + std::to_string(i));
    WriteFile(dir.Path(names.back()), "");
  }
  std::sort(names.begin(), names.end());
  CgiResult result = RunCommand("l\n.\n", dir.path);
  EXPECT_EQ(Lines(result.out.substr(kHeader.size() + 1)), names);
}

TEST(ListTest, UnreadableDirectoryFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  TempDir dir;
  ::mkdir(dir.Path("closed").c_str(), 0111);
  CgiResult result = RunCommand("l\nclosed\n", dir.path);
  EXPECT_EQ(result.out,
            std::string(kHeader) + "fscan't open directory on server");
  EXPECT_EQ(result.status, 1);
}

}  // namespace
}  // namespace talvenplan::testing
