#include "io/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

namespace talvenplan {
namespace {

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9');
}

TEST(UniqueFileTest, MakesDistinctNamesOfTheTemplatesForm) {
  char dir_template[] = "/tmp/unique.XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  std::string dir = dir_template;
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    std::string path = dir + "/.XXXXXX";
    UniqueFile file = CreateUniqueFile(AT_FDCWD, path.data());
    ASSERT_TRUE(file.fd);
    std::string name = path.substr(dir.size() + 1);
    ASSERT_EQ(name.size(), 7u);
    EXPECT_EQ(name[0], '.');
    for (char c : name.substr(1)) EXPECT_TRUE(IsNameByte(c)) << name;
    EXPECT_TRUE(names.insert(name).second);
    ::unlink(path.c_str());
  }
  ::rmdir(dir.c_str());
}

TEST(UniqueFileTest, ReportsWhyNoFileWasMade) {
  std::string missing = "/nonexistent/dir/.XXXXXX";
  UniqueFile file = CreateUniqueFile(AT_FDCWD, missing.data());
  EXPECT_FALSE(file.fd);
  EXPECT_FALSE(file.names_exhausted);
}

}  // namespace
}  // namespace talvenplan
