// Kills the program (SIGKILL) at random moments while it writes: put, create
// and store, hundreds of rounds with bodies of several MB, so that most kills
// land in mid-write. After every kill what requests can see must be whole:
// a database holds its old or its new content, a killed create leaves no file
// or a whole new database, and a listing shows only whole databases.
// What a kill may leave is a file whose name begins with "." (a put's
// temporary, a half-written offer nobody was told the name of); the test
// removes those after each round, as the README's clean-up does.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "harness.h"

namespace talvenplan::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 120;  // per command
constexpr std::size_t kBodyBytes = 6 << 20;
constexpr char kNewDatabaseTail[] = "\n0\n0\n\"\"\n0\n0\n0\n";

int MemoryFile(const std::string& content) {
  int fd = ::memfd_create("crash", MFD_CLOEXEC);
  std::size_t done = 0;
  while (fd >= 0 && done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

struct Outcome {
  bool killed = false;  // the kill came before the program had ended
  int status = -1;
  std::string out;
  Clock::duration took{};
};

// Runs a command request as a web server would and, unless it has ended by
// then, kills it `delay` after it was started (a zero delay: never).
Outcome RunAndKill(const std::string& body, const std::string& cwd,
                   Clock::duration delay) {
  int in = MemoryFile(body);
  int out = MemoryFile("");
  std::string length = "CONTENT_LENGTH=" + std::to_string(body.size());
  char* envp[] = {length.data(), nullptr};
  char program[] = TALVENPLAN_CGI;
  char* argv[] = {program, nullptr};
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::execve(program, argv, envp);
    ::_exit(127);
  }
  Outcome outcome;
  int status = 0;
  if (delay > Clock::duration::zero()) {
    auto deadline = start + delay;
    // Polls, so that a program that ends early is not waited for longer.
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        outcome.killed = WIFSIGNALED(status);
        break;
      }
      timespec pause{0, 20000};
      ::nanosleep(&pause, nullptr);
    }
  } else {
    ::waitpid(pid, &status, 0);
  }
  outcome.took = Clock::now() - start;
  outcome.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(out, 0, SEEK_SET);
  char chunk[4096];
  for (ssize_t n; (n = ::read(out, chunk, sizeof chunk)) > 0;) {
    outcome.out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(in);
  ::close(out);
  return outcome;
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsigned seed = std::random_device{}();
    random_.seed(seed);
    std::printf("seed %u\n", seed);
  }

  // Runs one round's request. Every tenth round runs whole: it checks the
  // answer and learns how long the command takes here. The others are
  // killed after a random delay of up to a little past the median of those.
  Outcome Run(int round, const std::string& body) {
    Clock::duration delay = Clock::duration::zero();
    if (round % 10 != 0) {
      std::vector<Clock::duration> sorted = whole_runs_;
      std::sort(sorted.begin(), sorted.end());
      auto range = std::chrono::duration_cast<std::chrono::microseconds>(
                       sorted[sorted.size() / 2] * 11 / 10)
                       .count();
      delay = std::chrono::microseconds(
          1 + static_cast<long>(random_() % static_cast<unsigned long>(range)));
    }
    Outcome outcome = RunAndKill(body, dir_.path, delay);
    if (!outcome.killed) whole_runs_.push_back(outcome.took);
    killed_ += outcome.killed;
    return outcome;
  }

  // The listing as the program gives it.
  std::set<std::string> Listing() {
    CgiResult list = RunCommand("l\n" + dir_.path + "\n");
    std::string prefix = std::string(kHeader) + "s";
    EXPECT_EQ(list.out.substr(0, prefix.size()), prefix);
    std::string out = list.out.substr(std::min(list.out.size(), prefix.size()));
    std::set<std::string> names;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != out.npos;
         at = end + 1) {
      if (end > at) names.insert(out.substr(at, end - at));
    }
    return names;
  }

  // Removes what a kill left behind (files whose names begin with "."), as
  // the clean-up in the README does. Counts the rounds that left any: their
  // kill came after the new file was made and before it was complete.
  void RemoveLeftovers() {
    bool any = false;
    for (const std::string& name : ListNames(dir_.path)) {
      if (name[0] != '.') continue;
      ASSERT_EQ(::unlink(dir_.Path(name).c_str()), 0);
      any = true;
    }
    mid_write_ += any;
  }

  void Report(const char* what) {
    std::printf("%s: %d rounds, %d killed, %d of them in mid-write\n", what,
                kRounds, killed_, mid_write_);
    EXPECT_GT(mid_write_, kRounds / 10) << "too few kills landed in mid-write";
  }

  TempDir dir_;
  std::mt19937_64 random_;
  std::vector<Clock::duration> whole_runs_;
  int killed_ = 0, mid_write_ = 0;
};

// About `size` bytes of price lines.
std::string Filler(std::size_t size, int round) {
  std::string line = "Item " + std::to_string(round) + " 12.50\n";
  std::string text;
  while (text.size() + line.size() <= size) text += line;
  return text;
}

TEST_F(CrashTest, KilledPutLeavesOldOrNewDatabase) {
  std::string current = "k1\n0\n0\n\"\"\n0\n0\n0\n";
  WriteFile(dir_.Path("db"), current);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string text = "k1\n0\nVersion " + std::to_string(round) +
                       "\n\"\"\n0\n" + Filler(kBodyBytes, round);
    Outcome outcome = Run(round, "p\n" + dir_.path + "\nk1 db\n" + text);
    if (!outcome.killed) {
      ASSERT_EQ(outcome.out, std::string(kHeader) + "s");
    }

    std::string now = ReadFile(dir_.Path("db"));
    ASSERT_TRUE(now == current || now == text)
        << "the database holds " << now.size() << " bytes, neither the old "
        << current.size() << " nor the new " << text.size();
    if (!outcome.killed) {
      ASSERT_EQ(now, text);
    }
    current = now;
    ASSERT_EQ(Listing(), std::set<std::string>{"db"});
    RemoveLeftovers();
  }
  Report("puts");
}

// A killed create must leave no file or a whole database under the name: an
// empty or partial file there would block the name for good (create answers
// "s!", and every key check on it fails). The key goes into the file in full,
// so a long key makes a long write.
TEST_F(CrashTest, KilledCreateLeavesNoFileOrWholeDatabase) {
  std::set<std::string> databases;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string key = std::string(kBodyBytes, 'K') + std::to_string(round);
    std::string name = "c" + std::to_string(round);
    Outcome outcome =
        Run(round, "c\n" + dir_.path + "\n" + key + " " + name + "\n");
    if (!outcome.killed) {
      ASSERT_EQ(outcome.out, std::string(kHeader) + "s");
    }

    if (Exists(dir_.Path(name))) {
      std::string content = ReadFile(dir_.Path(name));
      if (content != key + kNewDatabaseTail) ++mid_write_;
      ASSERT_EQ(content.size(), key.size() + 14)
          << "a killed create left a partial database under " << name;
      ASSERT_EQ(content, key + kNewDatabaseTail);
      databases.insert(name);
    } else {
      ASSERT_TRUE(outcome.killed) << "create answered but left no file";
    }
    ASSERT_EQ(Listing(), databases);
    RemoveLeftovers();
  }
  Report("creates");
}

TEST_F(CrashTest, KilledStoreLeavesNoHalfOfferInSight) {
  WriteFile(dir_.Path("db"), "k1\n0\n0\n\"\"\n0\n0\n0\n");
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string text = "<p>Offer " + std::to_string(round) + "</p>\n" +
                       Filler(kBodyBytes, round);
    Outcome outcome = Run(round, "s\n" + dir_.path + "\n" + text);
    if (!outcome.killed) {
      std::string prefix = std::string(kHeader) + "s.";
      ASSERT_EQ(outcome.out.substr(0, prefix.size()), prefix);
      std::string name = outcome.out.substr(prefix.size() - 1);
      ASSERT_EQ(ReadFile(dir_.Path(name)), text);
      ASSERT_EQ(::unlink(dir_.Path(name).c_str()), 0);
    }
    ASSERT_EQ(Listing(), std::set<std::string>{"db"});
    RemoveLeftovers();
  }
  Report("stores");
}

}  // namespace
}  // namespace talvenplan::testing
