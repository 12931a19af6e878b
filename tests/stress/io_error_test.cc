// A put and a remove on a disk that fails: each of their file-system calls
// in turn fails as a full disk, a failing disk or a refused permission makes
// it fail. Whatever the call, the database and its versions are exactly as
// they were and the answer is a failure, unless the change was already made
// (a failed sync after it, or a prune that could not remove an old version).
#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

constexpr char kOld[] = "k\n0\nA\nB\n1\nold\n";
constexpr char kNew[] = "k\n0\nA\nB\n1\nnew\n";
constexpr char kStamp1[] = "20261201T000000.000000Z";
constexpr char kStamp2[] = "20261202T000000.000000Z";

struct Setting {
  const char* label;
  std::vector<std::string> env;
};

struct Step {
  const char* label;
  std::string body;
};

// What a directory holds, with version and shelf stamps left out, so that a
// state can be compared across runs.
std::string State(const std::string& top) {
  std::string state;
  for (const auto& [path, content] : Snapshot(top)) {
    std::string name = path.substr(top.size());
    for (std::size_t at; (at = name.find("2026")) != std::string::npos;) {
      name.replace(at, 23, "STAMP");
    }
    state += name + " = " + Quote(content) + "\n";
  }
  return state;
}

// A state with the oldest version, which a prune would have removed, left
// out.
std::string Unpruned(std::string state) {
  std::size_t at = state.find(" = \"k\\nfirst\\n\"\n");
  if (at == std::string::npos) return state;
  std::size_t start = state.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return state.erase(start, state.find('\n', at) + 1 - start);
}

class IoErrorTest
    : public ::testing::TestWithParam<std::tuple<Setting, Step, int>> {
 protected:
  void Lay() {
    dir_.emplace();
    WriteFile(dir_->Path("db"), kOld);
    WriteFile(dir_->Path("other"), "other\n");
    if (!std::get<0>(GetParam()).env.empty()) {
      std::string history = dir_->Path(".versions/db/");
      std::filesystem::create_directories(history);
      WriteFile(history + kStamp1, "k\nfirst\n");
      WriteFile(history + kStamp2, "k\nsecond\n");
    }
  }
  CgiResult Run(int fail_at) {
    CgiRun run;
    run.env = std::get<0>(GetParam()).env;
    run.cwd = dir_->path;
    run.trace = true;
    run.fail_at = fail_at;
    run.fail_error = std::get<2>(GetParam());
    return RunCommand(std::get<1>(GetParam()).body, run);
  }
  std::optional<TempDir> dir_;
};

TEST_P(IoErrorTest, EachFailingCallLeavesEverythingAsItWas) {
  if (!CanInjectFaults()) {
    GTEST_SKIP() << "calls are traced on x86-64, without sanitizers";
  }
  Lay();
  const std::string before = State(dir_->path);
  const CgiResult whole = Run(0);
  ASSERT_EQ(whole.out, kHeader + "s");
  const std::string after = State(dir_->path);

  for (std::size_t n = 1; n <= whole.calls.size(); ++n) {
    const FileSystemCall& call = whole.calls[n - 1];
    // The answer's own write: a client that never hears back asks again.
    if (call.kinds[0] == 'd' && call.args[0] == 1) continue;
    Lay();
    const CgiResult result = Run(static_cast<int>(n));
    const std::string now = State(dir_->path);
    const std::string name = call.name;
    SCOPED_TRACE("call " + std::to_string(n) + ", " + call.Describe() +
                 ", answered " + Quote(result.out.substr(kHeader.size())));
    EXPECT_EQ(result.err, "");
    if (result.out.starts_with(kHeader + "fs")) {
      EXPECT_EQ(result.status, 1);
      // A sync that fails once the new name is given cannot take it back;
      // the old content is kept among the versions, where there are any.
      if (now != before && name.find("sync") != std::string::npos) {
        EXPECT_EQ(Unpruned(now), after);
      } else {
        EXPECT_EQ(now, before);
      }
    } else {
      EXPECT_EQ(result.out, kHeader + "s");
      // Only a failed prune may leave one version more than asked for.
      if (now != after) {
        EXPECT_EQ(name, "unlinkat");
        EXPECT_EQ(Unpruned(now), after);
      }
    }
  }
}

const Setting kSettings[] = {
    {"plain", {}},
    {"versions", {"TALVEN_VERSIONS=2"}},
    // A login is recorded on the new file before its content is written.
    {"login", {"TALVEN_VERSIONS=2", "REMOTE_USER=alice"}},
};
const Step kSteps[] = {
    {"put", std::string("p\n.\nk db\n") + kNew},
    {"remove", "r\n.\nk db\n"},
};

INSTANTIATE_TEST_SUITE_P(Writes, IoErrorTest,
                         ::testing::Combine(::testing::ValuesIn(kSettings),
                                            ::testing::ValuesIn(kSteps),
                                            ::testing::Values(ENOSPC, EIO,
                                                              EACCES)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).label) +
                                  "_" + std::get<1>(info.param).label + "_" +
                                  std::to_string(std::get<2>(info.param));
                         });

}  // namespace
}  // namespace talvenplan::testing
