// Versions of databases: what put and remove keep when TALVEN_VERSIONS asks
// for them, and how clients read them with the commands they already have.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

using namespace std::string_literals;

struct Shop {
  TempDir dir;
  std::vector<std::string> env = {"TALVEN_VERSIONS=3"};

  std::string Run(const std::string& body, const std::string& cwd = "") {
    CgiResult result = RunCommand(body, cwd.empty() ? dir.path : cwd, env);
    EXPECT_EQ(result.err, "");
    return result.out.substr(kHeader.size());
  }
  std::string Put(const std::string& key, const std::string& text) {
    return Run("p\n.\n" + key + " db\n" + text);
  }
  // The versions of db, or, once it was removed, of its shelf.
  Names Versions() {
    std::string history = ".versions/db";
    if (!Exists(dir.Path(history)) && Exists(dir.Path(".versions"))) {
      for (const std::string& name : ListNames(dir.Path(".versions"))) {
        if (name.starts_with("db ")) history = ".versions/" + name;
      }
    }
    shelf = history;
    return Exists(dir.Path(history)) ? ListNames(dir.Path(history)) : Names{};
  }
  std::string shelf;  // where Versions() last looked
  // A listing's names, sorted.
  Names Listed(const std::string& directory) {
    std::string out = Run("l\n" + directory + "\n");
    Names names;
    for (std::size_t at = 1, end; (end = out.find('\n', at)) != out.npos;
         at = end + 1) {
      if (end > at) names.push_back(out.substr(at, end - at));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

std::string Text(const std::string& key, int n) {
  return key + "\n0\nA\nB\n1\nChair " + std::to_string(n) + "\n";
}

TEST(VersionsTest, PutKeepsWhatItReplacedPrunedToTheNewestN) {
  Shop shop;
  ASSERT_EQ(shop.Run("c\n.\nk1 db\n"), "s");
  EXPECT_EQ(shop.Versions(), Names{});  // create replaces nothing
  ASSERT_EQ(shop.Put("k1", Text("k1", 1)), "s");
  ASSERT_EQ(shop.Put("k1", Text("k2", 2)), "s");  // a new key
  for (int n = 3; n <= 5; ++n) ASSERT_EQ(shop.Put("k2", Text("k2", n)), "s");

  // The three newest of the five replaced, oldest first by name, each with
  // the key it had.
  Names versions = shop.Versions();
  ASSERT_EQ(versions.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadFile(shop.dir.Path(".versions/db/" + versions[i])),
              Text("k2", i + 2));
  }
  EXPECT_EQ(shop.Listed(".versions/db"), versions);
  EXPECT_EQ(shop.Listed(".versions"), Names{"db"});
  EXPECT_EQ(shop.Listed("."), Names{"db"});  // the versions stay hidden
  const std::string oldest = "\n.versions/db\n";
  EXPECT_EQ(shop.Run("g" + oldest + "k2 " + versions[0] + "\n"),
            "sk2\n" + Text("k2", 2).substr(3));
  EXPECT_EQ(shop.Run("g" + oldest + "k1 " + versions[0] + "\n"), "s!");
  EXPECT_EQ(shop.Run("q" + oldest + "A " + versions[0] + "\n"), "s!");

  // A version is the replaced file itself: after the next put the two
  // share nothing.
  EXPECT_EQ(ReadFile(shop.dir.Path("db")), Text("k2", 5));
  // DEMO_ lists are never written, so nothing is kept of them either.
  WriteFile(shop.dir.Path("DEMO_db"), Text("k", 0));
  EXPECT_EQ(shop.Run("p\n.\nk DEMO_db\nk\n"), "s");
  EXPECT_EQ(shop.Listed(".versions"), Names{"db"});
}

TEST(VersionsTest, RemovedListComesBackFromItsNewestVersion) {
  Shop shop;
  ASSERT_EQ(shop.Run("c\n.\nk db\n"), "s");
  ASSERT_EQ(shop.Put("k", Text("k", 1)), "s");
  ASSERT_EQ(shop.Run("r\n.\nk db\n"), "s");
  EXPECT_FALSE(Exists(shop.dir.Path("db")));
  Names versions = shop.Versions();
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(ReadFile(shop.dir.Path(shop.shelf + "/" + versions[1])),
            Text("k", 1));
  // Its history is shelved under its name and the time of the removal.
  ASSERT_EQ(shop.Listed(".versions"), Names{shop.shelf.substr(10)});
  EXPECT_EQ(shop.Listed(shop.shelf), versions);

  // Restore: create the name again and put the newest version's bytes.
  ASSERT_EQ(shop.Run("c\n.\nk db\n"), "s");
  ASSERT_EQ(shop.Put("k", Text("k", 1)), "s");
  EXPECT_EQ(shop.Run("g\n.\nk db\n"), "sk\n" + Text("k", 1).substr(2));
}

TEST(VersionsTest, NewestSortsLastEvenWhenTheClockStandsBehind) {
  // A version from the future, as after the clock was set back: the next
  // one is named just after it, never before it nor over it.
  Shop shop;
  WriteFile(shop.dir.Path("db"), Text("k", 1));
  ASSERT_EQ(::mkdir(shop.dir.Path(".versions").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(shop.dir.Path(".versions/db").c_str(), 0777), 0);
  WriteFile(shop.dir.Path(".versions/db/20991231T235959.999999Z"), "k\n");
  ASSERT_EQ(shop.Put("k", Text("k", 2)), "s");
  ASSERT_EQ(shop.Run("r\n.\nk db\n"), "s");
  EXPECT_EQ(shop.Versions(),
            (Names{"20991231T235959.999999Z", "21000101T000000.000000Z",
                   "21000101T000000.000001Z"}));
  EXPECT_EQ(ReadFile(shop.dir.Path(shop.shelf + "/21000101T000000.000001Z")),
            Text("k", 2));
}

TEST(VersionsTest, NothingExtraWithoutThem) {
  for (std::string setting : {""s, "TALVEN_VERSIONS=0"s, "TALVEN_VERSIONS=x"s,
                              "TALVEN_VERSIONS=-2"s}) {
    SCOPED_TRACE(setting);
    Shop shop;
    shop.env = {setting};
    ASSERT_EQ(shop.Run("c\n.\nk db\n"), "s");
    ASSERT_EQ(shop.Put("k", Text("k", 1)), "s");
    ASSERT_EQ(shop.Run("r\n.\nk db\n"), "s");
    EXPECT_EQ(ListNames(shop.dir.path), Names{});
  }
  Shop shop;
  EXPECT_EQ(shop.Run("c\n.\nk .versions\n"), "s!");
  EXPECT_EQ(ListNames(shop.dir.path), Names{});
}

TEST(VersionsTest, KeptBesideTheFileALinkLeadsToAndInsideTheRoot) {
  Shop shop;
  const std::string root = shop.dir.Path("data");
  for (const char* made : {"data", "data/lists", "data/shop", "outside"}) {
    ASSERT_EQ(::mkdir(shop.dir.Path(made).c_str(), 0777), 0);
  }
  WriteFile(root + "/lists/prices", Text("k", 1));
  WriteFile(root + "/shop/x", "");
  ASSERT_EQ(::symlink("../lists/prices", (root + "/shop/db").c_str()), 0);
  shop.env.push_back("TALVEN_ROOT=" + root);
  ASSERT_EQ(shop.Run("p\n.\nk db\n" + Text("k", 2), root + "/shop"), "s");
  Names versions = ListNames(root + "/lists/.versions/prices");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(ListNames(root + "/shop"), (Names{"db", "x"}));
  EXPECT_EQ(shop.Run("g\n" + root + "/lists/.versions/prices\nk " +
                         versions[0] + "\n",
                     root + "/shop"),
            "sk\n" + Text("k", 1).substr(2));

  // A .versions that is a link is not followed, out of the root or
  // anywhere: the put fails and changes nothing.
  WriteFile(shop.dir.Path("outside/x"), "");
  ASSERT_EQ(::symlink(shop.dir.Path("outside").c_str(),
                      (root + "/shop/.versions").c_str()),
            0);
  WriteFile(root + "/shop/x", "k\n");
  EXPECT_EQ(shop.Run("p\n.\nk x\nk\nnew\n", root + "/shop"),
            "fscan't write database on server");
  EXPECT_EQ(shop.Run("r\n.\nk x\n", root + "/shop"),
            "fscan't remove the database");
  EXPECT_EQ(ReadFile(root + "/shop/x"), "k\n");
  EXPECT_EQ(ListNames(shop.dir.Path("outside")), Names{"x"});
}

// Each save records its login on the file it writes, so a version, the very
// file it replaced, tells who saved what it holds; a list asked with "by"
// says it after a tab.
TEST(VersionsTest, EachVersionTellsWhoSavedIt) {
  Shop shop;
  // Where the file system keeps no user attributes, no login is kept.
  if (!CanMarkOffers(shop.dir.path)) GTEST_SKIP() << "no user attributes";
  auto as = [&](const char* login, const std::string& body) {
    std::vector<std::string> env = shop.env;
    if (login != nullptr) env.push_back("REMOTE_USER="s + login);
    CgiResult result = RunCommand(body, shop.dir.path, env);
    return result.out.substr(kHeader.size());
  };
  ASSERT_EQ(as("alice", "c\n.\nk db\n"), "s");
  ASSERT_EQ(as("bob", "p\n.\nk db\n" + Text("k", 1)), "s");
  ASSERT_EQ(as(nullptr, "p\n.\nk db\n" + Text("k", 2)), "s");
  ASSERT_EQ(as("J\xc3\xa4rvi, A.\tx\ny", "p\n.\nk db\n" + Text("k", 3)), "s");

  // Oldest first: the versions hold what alice, bob and nobody saved.
  std::string listed = shop.Run("l\n.versions/db\nby\n");
  Names versions = shop.Versions();
  ASSERT_EQ(versions.size(), 3u);
  Names lines;
  for (const std::string& stamp : versions) {
    std::size_t at = listed.find(stamp + "\t");
    ASSERT_NE(at, listed.npos) << listed;
    lines.push_back(listed.substr(at, listed.find('\n', at) - at));
  }
  EXPECT_EQ(lines, (Names{versions[0] + "\talice", versions[1] + "\tbob",
                          versions[2] + "\t"}));
  // The list now: its login encoded as the page's decodeURIComponent reads
  // it back. Without "by", names alone, as ever.
  for (const char* body : {"l\n.\nby\n", "l\n.\r\nby\r\n", "l\n.\nby"}) {
    EXPECT_EQ(shop.Run(body), "sdb\tJ%C3%A4rvi%2C%20A.%09x%0Ay\n") << body;
  }
  for (const char* body : {"l\n.\n", "l\n.\nbyx\n", "l\n.\n by\n"}) {
    EXPECT_EQ(shop.Run(body), "sdb\n") << body;
  }

  // A login longer than any a person types keeps its first 256 bytes, each
  // encoded in three: the listing reads the longest there can be whole.
  ASSERT_EQ(as(std::string(300, '\xff').c_str(), "c\n.\nk long\n"), "s");
  // A link is not followed for its login; a value no save writes is passed
  // over, however it got there.
  ASSERT_EQ(::symlink("db", shop.dir.Path("link").c_str()), 0);
  WriteFile(shop.dir.Path("other"), "k\n");
  ASSERT_EQ(::setxattr(shop.dir.Path("other").c_str(), "user.talvenplan.by",
                       "a\nb", 3, 0),
            0);
  std::string out = "\n" + shop.Run("l\n.\nby\n").substr(1);
  EXPECT_NE(out.find("\nlink\t\n"), out.npos) << out;
  EXPECT_NE(out.find("\nother\t\n"), out.npos) << out;
  std::string longest;
  for (int i = 0; i < 256; ++i) longest += "%FF";
  EXPECT_NE(out.find("\nlong\t" + longest + "\n"), out.npos) << out;
}

}  // namespace
}  // namespace talvenplan::testing
