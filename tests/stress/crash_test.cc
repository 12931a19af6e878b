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
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "harness.h"

namespace talvenplan::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Rounds per command. Under AddressSanitizer every start costs far more, and
// fewer rounds keep the test's time in bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 40;
#else
constexpr int kRounds = 100;
#endif
constexpr std::size_t kBodyBytes = 4 << 20;
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
  Clock::duration took{};      // from the start to the end
  Clock::duration new_file{};  // from the start until a new name showed
  bool saw_new_file = false;
};

// When to kill: never; `delay` after the start; or `delay` after a new name
// shows in the directory (the file being written), so that the kill lands
// in mid-write however long the program takes to get there.
struct Kill {
  enum { kNever, kAfterStart, kAfterNewFile } when = kNever;
  Clock::duration delay{};
};

// Runs a command request as a web server would, in the directory `dir`, and
// kills it as `kill` says unless it has ended by then.
Outcome RunAndKill(const std::string& body, const std::string& dir, Kill kill) {
  // Told at once when a name is made in the directory.
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch < 0 || ::inotify_add_watch(watch, dir.c_str(), IN_CREATE) < 0) {
    ADD_FAILURE() << "inotify: " << std::strerror(errno);
  }
  int in = MemoryFile(body);
  int out = MemoryFile("");
  std::string length = "CONTENT_LENGTH=" + std::to_string(body.size());
  char* envp[] = {length.data(), nullptr};
  char program[] = TALVENPLAN_CGI;
  char* argv[] = {program, nullptr};
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::execve(program, argv, envp);
    ::_exit(127);
  }
  Outcome outcome;
  auto deadline = Clock::time_point::max();
  if (kill.when == Kill::kAfterStart) deadline = start + kill.delay;
  int status = 0;
  // Polls, so that a program that ends early is not waited for longer.
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    auto now = Clock::now();
    char events[4096];
    if (!outcome.saw_new_file && ::read(watch, events, sizeof events) > 0) {
      outcome.saw_new_file = true;
      outcome.new_file = now - start;
      if (kill.when == Kill::kAfterNewFile) deadline = now + kill.delay;
    }
    if (now >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      outcome.killed = WIFSIGNALED(status);
      break;
    }
    timespec pause{0, 20000};
    ::nanosleep(&pause, nullptr);
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
  ::close(watch);
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
  // answer and learns how long the command takes here, in all and after its
  // new file showed. The other rounds are killed after a random delay of up
  // to a little past the median of those times: half of them counted from
  // the start, half from the moment the new file showed.
  Outcome Run(int round, const std::string& body) {
    Kill kill;
    if (round % 10 != 0) {
      bool after_file = round % 2 == 0 && !writing_.empty();
      std::vector<Clock::duration> sorted = after_file ? writing_ : whole_;
      std::sort(sorted.begin(), sorted.end());
      auto range = std::chrono::duration_cast<std::chrono::microseconds>(
                       sorted[sorted.size() / 2] * 11 / 10)
                       .count();
      kill.when = after_file ? Kill::kAfterNewFile : Kill::kAfterStart;
      kill.delay = std::chrono::microseconds(
          random_() % static_cast<unsigned long>(range + 1));
    }
    Outcome outcome = RunAndKill(body, dir_.path, kill);
    if (!outcome.killed) {
      whole_.push_back(outcome.took);
      if (outcome.saw_new_file) {
        writing_.push_back(outcome.took - outcome.new_file);
      }
    }
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
    // About half land mid-write on a quiet machine; a loaded one (or a
    // sanitized build's slow start) shifts the timing, so the floor only
    // proves the test is not vacuous.
    EXPECT_GE(mid_write_, kRounds / 10) << "too few kills landed in mid-write";
  }

  TempDir dir_;
  std::mt19937_64 random_;
  std::vector<Clock::duration> whole_, writing_;
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
    std::string name = std::to_string(round);
    name.insert(0, 1, 'c');  // g++ 12 warns wrongly on "c" + std::string
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
