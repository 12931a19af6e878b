// Several requests on one database at once: readers never see a half-written
// file, and of several creators exactly one wins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

// A database of about `size` bytes whose lines all carry `mark`.
std::string LargeDatabase(char mark, std::size_t size) {
  std::string content = "k1\n1\nF 2\nhead\n\"\"\n";
  std::string line = std::string(60, mark) + " 1.5\n";
  while (content.size() < size) content += line;
  return content;
}

TEST(DatabaseRaceTest, GetsSeeTheWholeOldOrTheWholeNewFile) {
  TempDir dir;
  const std::string texts[2] = {LargeDatabase('a', 1 << 20),
                                LargeDatabase('b', 3 << 20)};
  const std::string answers[2] = {kHeader + ("s" + texts[0]),
                                  kHeader + ("s" + texts[1])};
  WriteFile(dir.Path("db"), texts[0]);

  constexpr int kPutters = 2;
  constexpr int kPutsEach = 4;
  std::atomic<int> putters_left = kPutters;
  std::atomic<int> bad_puts = 0;
  std::atomic<int> torn_gets = 0;
  std::atomic<int> gets = 0;
  std::vector<std::thread> threads;
  for (int p = 0; p < kPutters; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kPutsEach; ++i) {
        CgiResult result =
            RunCommand("p\n.\nk1 db\n" + texts[(p + i) % 2], dir.path);
        if (result.out != kHeader + std::string("s") || result.status != 0) {
          ++bad_puts;
        }
      }
      --putters_left;
    });
  }
  for (int g = 0; g < 2; ++g) {
    threads.emplace_back([&] {
      while (putters_left > 0) {
        CgiResult result = RunCommand("g\n.\nk1 db\n", dir.path);
        if (result.out != answers[0] && result.out != answers[1]) ++torn_gets;
        ++gets;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(bad_puts, 0);
  EXPECT_EQ(torn_gets, 0) << "of " << gets << " gets";
  EXPECT_GT(gets, 0);
  std::string last = ReadFile(dir.Path("db"));
  EXPECT_TRUE(last == texts[0] || last == texts[1]);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});
}

// A database name that is a link, switched all the while between a
// database whose key the requests give and one whose key they do not: puts
// and removes change only the first, never the other.
TEST(DatabaseRaceTest, ASwappedLinkNeverLeadsAWriteToAnotherDatabase) {
  TempDir dir;
  for (const char* name : {"shop", "other"}) {
    ASSERT_EQ(::mkdir(dir.Path(name).c_str(), 0777), 0);
  }
  const std::string mine = "k2\n0\n0\n\"\"\n0\n0\n0\n";
  const std::string victim = "secretk\n0\n0\n\"\"\n0\n0\n0\n";
  WriteFile(dir.Path("other/mine"), mine);
  WriteFile(dir.Path("other/victim"), victim);
  const std::string in = dir.Path("shop/in");
  const std::string next = dir.Path("shop/.next");
  ASSERT_EQ(::symlink("../other/mine", in.c_str()), 0);

  std::atomic<bool> done = false;
  std::thread swapper([&] {
    for (int i = 0; !done; ++i) {
      ::symlink(i % 2 ? "../other/mine" : "../other/victim", next.c_str());
      ::rename(next.c_str(), in.c_str());
    }
  });
  const std::vector<std::string> env = {"TALVEN_ROOT=" + dir.path};
  std::string changed_by;
  for (int i = 0; i < 200 && changed_by.empty(); ++i) {
    const std::string body =
        i % 4 == 3 ? "r\nshop\nk2 in\n" : "p\nshop\nk2 in\nk2\nput\n";
    CgiResult result = RunCommand(body, dir.path, env);
    if (ReadFile(dir.Path("other/victim")) != victim) {
      changed_by = Quote(body) + " answered " + Quote(result.out);
    }
    if (!Exists(dir.Path("other/mine"))) {
      WriteFile(dir.Path("other/mine"), mine);
    }
  }
  done = true;
  swapper.join();
  EXPECT_EQ(changed_by, "");
  EXPECT_EQ(ListNames(dir.Path("other")), (Names{"mine", "victim"}));
}

TEST(DatabaseRaceTest, OneOfSeveralCreatorsWins) {
  constexpr int kRounds = 20;
  constexpr int kCreators = 6;
  for (int round = 0; round < kRounds; ++round) {
    TempDir dir;
    std::vector<CgiResult> results(kCreators);
    std::vector<std::thread> threads;
    for (int c = 0; c < kCreators; ++c) {
      threads.emplace_back([&, c] {
        results[c] =
            RunCommand("c\n.\nkey" + std::to_string(c) + " db\n", dir.path);
      });
    }
    for (std::thread& thread : threads) thread.join();

    int winner = -1;
    for (int c = 0; c < kCreators; ++c) {
      EXPECT_EQ(results[c].status, 0);
      if (results[c].out == kHeader + std::string("s")) {
        EXPECT_EQ(winner, -1) << "two creators won in round " << round;
        winner = c;
      } else {
        EXPECT_EQ(results[c].out, kHeader + std::string("s!"));
      }
    }
    ASSERT_NE(winner, -1) << "no creator won in round " << round;
    EXPECT_EQ(ReadFile(dir.Path("db")),
              "key" + std::to_string(winner) + "\n0\n0\n\"\"\n0\n0\n0\n");
    EXPECT_EQ(ListNames(dir.path), Names{"db"});
  }
}

}  // namespace
}  // namespace talvenplan::testing
