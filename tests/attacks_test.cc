// What someone holding only a login (and, where a row says so, an old key)
// tries against the versions and the staged offers, each row with what must
// hold afterwards. Every row runs with versions kept, with and without a
// root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

using namespace std::string_literals;

struct Shop {
  TempDir dir;
  std::vector<std::string> env = {"TALVEN_VERSIONS=3"};
  CgiRun run;  // faults and limits for the next command, then reset

  // The answer after the header to `letter` on `name` in `directory` (under
  // the shop), with `key` and `text`.
  std::string Send(char letter, const std::string& directory,
                   const std::string& key, const std::string& name,
                   const std::string& text = "") {
    std::string where = directory.empty() ? dir.path : dir.Path(directory);
    std::string body = letter + "\n"s + where + "\n";
    body += letter == 's' ? text : key + " " + name + "\n" + text;
    CgiRun this_run = run;
    run = CgiRun{};
    this_run.env = env;
    this_run.cwd = dir.path;
    CgiResult result = RunCommand(body, this_run);
    EXPECT_EQ(result.err, "");
    return result.out.substr(kHeader.size());
  }
  std::string Put(const std::string& name, int n) {
    return Send('p', "", "k", name, Text(n));
  }
  static std::string Text(int n) {
    return "k\n0\nA\nB\n1\nItem " + std::to_string(n) + "\n";
  }
  // The contents of the versions in `directory`, oldest first.
  std::vector<std::string> Versions(const std::string& directory) {
    std::vector<std::string> contents;
    if (!Exists(dir.Path(directory))) return contents;
    for (const std::string& name : ListNames(dir.Path(directory))) {
      contents.push_back(ReadFile(dir.Path(directory + "/" + name)));
    }
    return contents;
  }
  // The one shelf of a removed `name`: ".versions/NAME STAMP".
  std::string Shelf(const std::string& name) {
    std::string found;
    for (const std::string& entry : ListNames(dir.Path(".versions"))) {
      if (entry.starts_with(name + " ")) {
        EXPECT_EQ(found, "") << "two shelves of " << name;
        found = ".versions/" + entry;
      }
    }
    return found;
  }
  std::string Offer(const std::string& text) {
    std::string answer = Send('s', "", "", "", text);
    EXPECT_EQ(answer.substr(0, 1), "s");
    return answer.substr(1);
  }
  std::string OpenLink(const std::string& name) {
    CgiRun link;
    link.env = env;
    link.env.push_back("QUERY_STRING=" + OfferLinkQuery(name, dir.path));
    link.env.push_back("REQUEST_METHOD=GET");
    link.cwd = "/";
    return RunCgi(link).out.substr(kHeader.size());
  }
};

const std::string kVersion1 = Shop::Text(1), kVersion2 = Shop::Text(2),
                  kVersion3 = Shop::Text(3);
const std::string kKey = "aB3_-dE9fG0hIjKlMnOpQr";
const std::string kOfferLine =
    "<!--talvenplan-offer key=" + kKey + " until=2026-12-23-->\n";

// A list "db" with four saves behind it: its versions hold Items 1 to 3.
void FourSaves(Shop& shop) {
  ASSERT_EQ(shop.Send('c', "", "k", "db"), "s");
  for (int n = 1; n <= 4; ++n) ASSERT_EQ(shop.Put("db", n), "s");
  ASSERT_EQ(shop.Versions(".versions/db"),
            (std::vector<std::string>{kVersion1, kVersion2, kVersion3}));
}

struct Attack {
  const char* label;
  std::function<void(Shop&)> run;  // the requests, and what must hold after
};

void PrintTo(const Attack& attack, std::ostream* os) { *os << attack.label; }

const Attack kAttacks[] = {
    {"failed saves keep and prune nothing",
     [](Shop& shop) {
       FourSaves(shop);
       for (int n = 5; n <= 7; ++n) {
         shop.run.file_size_limit = 1024;  // as a full disk
         EXPECT_EQ(shop.Send('p', "", "k", "db", std::string(4096, 'x')),
                   "fscan't write on database");
       }
       EXPECT_EQ(shop.Send('r', "", "k", "db").substr(0, 2), "s");
       // The removal itself kept Item 4, pruning only after it was made.
       EXPECT_EQ(
           shop.Versions(shop.Shelf("db")),
           (std::vector<std::string>{kVersion2, kVersion3, Shop::Text(4)}));
     }},
    {"stamps planted in the future are refused",
     [](Shop& shop) {
       FourSaves(shop);
       for (int year = 2990; year < 3000; ++year) {
         EXPECT_EQ(shop.Send('c', ".versions/db", "x",
                             std::to_string(year) + "0101T000000.000000Z"),
                   "s!");
       }
       ASSERT_EQ(shop.Put("db", 5), "s");
       EXPECT_EQ(
           shop.Versions(".versions/db"),
           (std::vector<std::string>{kVersion2, kVersion3, Shop::Text(4)}));
     }},
    {"a file planted as a history blocks nothing",
     [](Shop& shop) {
       ASSERT_EQ(shop.Send('c', "", "k", "db"), "s");
       ASSERT_EQ(shop.Put("db", 1), "s");
       for (const char* name : {"db", "new", ".talvenplan-offers"}) {
         EXPECT_EQ(shop.Send('c', ".versions", "x", name), "s!") << name;
       }
       EXPECT_FALSE(Exists(shop.dir.Path(".versions/new")));
       EXPECT_EQ(shop.Put("db", 2), "s");
       EXPECT_EQ(shop.Send('r', "", "k", "db"), "s");
       EXPECT_EQ(shop.Send('c', "", "k", "new"), "s");
       EXPECT_EQ(shop.Put("new", 1), "s");
     }},
    {"the last stamp refuses rather than wraps",
     [](Shop& shop) {
       FourSaves(shop);
       // Planted by hand, or before the protocol refused it.
       WriteFile(shop.dir.Path(".versions/db/99991231T235959.999999Z"), "x");
       EXPECT_EQ(shop.Put("db", 5), "fscan't write database on server");
       EXPECT_EQ(ReadFile(shop.dir.Path("db")), Shop::Text(4));
       EXPECT_EQ(
           shop.Versions(".versions/db"),
           (std::vector<std::string>{kVersion1, kVersion2, kVersion3, "x"}));
     }},
    {"an old key rewrites and removes no version",
     [](Shop& shop) {
       FourSaves(shop);
       ASSERT_EQ(shop.Send('p', "", "k", "db", "k2\nnew key\n"), "s");
       std::string oldest = ListNames(shop.dir.Path(".versions/db"))[0];
       EXPECT_EQ(shop.Send('p', ".versions/db", "k", oldest, "k\nforged\n"),
                 "s!");
       EXPECT_EQ(shop.Send('r', ".versions/db", "k", oldest), "s!");
       EXPECT_EQ(shop.Send('r', ".versions", "k", "db"), "s!");
       EXPECT_EQ(shop.Send('g', ".versions/db", "k", oldest),
                 "sk\n" + kVersion2.substr(2));
     }},
    {"a link into the versions writes none of them",
     [](Shop& shop) {
       FourSaves(shop);
       std::string oldest = ListNames(shop.dir.Path(".versions/db"))[0];
       ASSERT_EQ(::symlink((".versions/db/" + oldest).c_str(),
                           shop.dir.Path("alias").c_str()),
                 0);
       ASSERT_EQ(::symlink(".versions/db", shop.dir.Path("history").c_str()),
                 0);
       EXPECT_EQ(shop.Send('p', "", "k", "alias", "k\nforged\n"), "s!");
       EXPECT_EQ(shop.Send('c', "history", "k", "new"), "s!");
       EXPECT_EQ(shop.Send('p', "history", "k", oldest, "k\nforged\n"), "s!");
       EXPECT_EQ(shop.Send('r', "history", "k", oldest), "s!");
       EXPECT_EQ(shop.Versions(".versions/db"),
                 (std::vector<std::string>{kVersion1, kVersion2, kVersion3}));
     }},
    {"a new list under a removed name leaves its history alone",
     [](Shop& shop) {
       FourSaves(shop);
       ASSERT_EQ(shop.Send('r', "", "k", "db"), "s");
       ASSERT_EQ(shop.Send('c', "", "mine", "db"), "s");
       for (int n = 5; n <= 8; ++n) {
         ASSERT_EQ(
             shop.Send('p', "", "mine", "db", "mine\n" + std::to_string(n)),
             "s");
       }
       std::string shelf = shop.Shelf("db");
       EXPECT_EQ(
           shop.Versions(shelf),
           (std::vector<std::string>{kVersion2, kVersion3, Shop::Text(4)}));
       std::string newest = ListNames(shop.dir.Path(shelf)).back();
       EXPECT_EQ(shop.Send('g', shelf, "k", newest),
                 "sk\n" + Shop::Text(4).substr(2));
       // Restored under another name, as the colleague's list has this one.
       ASSERT_EQ(shop.Send('c', "", "k", "db-old"), "s");
       EXPECT_EQ(shop.Put("db-old", 4), "s");
     }},
    {"a staged offer is never read or rewritten by key",
     [](Shop& shop) {
       const std::string text = "<style>\np{}\n</style>\n<p>Pay to FI11</p>\n";
       std::string name = shop.Offer(text);
       for (char letter : {'g', 'q', 'p', 'r'}) {
         EXPECT_EQ(shop.Send(letter, "", "<style>", name,
                             "<style>\n<p>Pay to XX99</p>\n"),
                   "s!")
             << letter;
       }
       EXPECT_EQ(shop.OpenLink(name).find("Pay to FI11") != std::string::npos,
                 true);
     }},
    {"an offer's own key tells it waits, and withdraws it",
     [](Shop& shop) {
       std::string name = shop.Offer(kOfferLine + "<p>Offer 7</p>\n");
       EXPECT_EQ(shop.Send('g', "", kKey.substr(0, 8), name), "s!");
       EXPECT_EQ(shop.Send('p', "", kKey, name, "x\n"), "s!");
       EXPECT_EQ(shop.Send('g', "", kKey, name), "s");
       EXPECT_EQ(shop.Send('r', "", kKey, name), "s");
       EXPECT_EQ(shop.Send('g', "", kKey, name), "s!");
       for (char letter : {'c', 'g', 'p', 'r'}) {
         EXPECT_EQ(shop.Send(letter, "", kKey, name + ".withdrawn"), "s!");
       }
       EXPECT_EQ(shop.OpenLink(name), "error on server: offer withdrawn");
       EXPECT_EQ(ReadFile(shop.dir.Path(name + ".withdrawn")),
                 kOfferLine + "<p>Offer 7</p>\n");
       // Shown, an offer keeps its key out of the page.
       std::string other = shop.Offer(kOfferLine + "<p>Offer 8</p>\n");
       std::string page = shop.OpenLink(other);
       EXPECT_NE(page.find("<p>Offer 8</p>"), std::string::npos);
       EXPECT_EQ(page.find(kKey), std::string::npos);
       EXPECT_EQ(shop.Send('g', "", kKey, other), "s!");
     }},
};

class AttackTest : public ::testing::TestWithParam<std::tuple<bool, Attack>> {};

TEST_P(AttackTest, Fails) {
  auto [rooted, attack] = GetParam();
  Shop shop;
  SKIP_WITHOUT_OFFER_MARKS(shop.dir.path);
  if (rooted) shop.env.push_back("TALVEN_ROOT=" + shop.dir.path);
  attack.run(shop);
}

INSTANTIATE_TEST_SUITE_P(
    Attacks, AttackTest,
    ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kAttacks)),
    [](const auto& info) {
      std::string name = std::get<0>(info.param) ? "rooted_" : "plain_";
      for (const char* c = std::get<1>(info.param).label; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

}  // namespace
}  // namespace talvenplan::testing
