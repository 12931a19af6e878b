// Kills the program (SIGKILL) at each of its file-system calls in turn while
// it puts, creates, stores or removes, and checks after every kill what the
// directory holds:
//   - whole old or whole new: the database holds its old or its new content,
//     or is absent where the command makes or removes it;
//   - nothing half-made in sight: the listing shows only whole databases,
//     and any other file left is one that the daily clean-up
//     (packaging/bin/talvenplan-cleanup) removes, a regular file named
//     ".put-" and six letters or digits (a put's or create's new file, never
//     listed and never created as a database), or "." and six (an offer
//     whose name nobody was told, never listed; its link is unguessable);
//   - no name blocked: the same request, made again, works.
// A first run, traced to its end, counts the calls and shows that the run
// syncs a new file before it names it and everything before it answers: a
// kill keeps what sits in the page cache, a power cut would not.
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "harness.h"

namespace talvenplan::testing {
namespace {

// How the program runs: the environment a web server gives it on top of
// CONTENT_LENGTH. A feature that changes what put or remove do (keeping old
// versions, say) adds its setting here, and every crash point is checked
// with it too.
struct Setting {
  const char* label;
  std::vector<std::string> env;
  // Dot directories the feature keeps beside the databases; what they hold
  // is for that feature's own tests to judge.
  std::vector<std::string> keeps;
};

const Setting kSettings[] = {
    {"plain", {}, {}},
    {"versions", {"TALVEN_VERSIONS=3"}, {".versions"}},
};

const std::string kOld = "k1\n1\nretail 1.0\nOld\n\"\"\n1\nChair 10\n";
const std::string kNew = "k1\n1\nretail 1.0\nNew\n\"\"\n1\nChair 12\n";
const std::string kCreated = "k2\n0\n0\n\"\"\n0\n0\n0\n";
const std::string kOffer = "<p>Dear customer,</p>\n";
// A database beside the one the command is about: it never changes.
const std::string kOther = "k3\n0\n0\n\"\"\n0\n0\n0\n";

// One write request on the database "db" (none for store), in the
// directory ".": its content before and once done (nullopt: no such file),
// and the answer to the same request made again once it is done.
struct Step {
  const char* label;
  std::string body;
  std::optional<std::string> before, after;
  std::string again_when_done;
};

const Step kSteps[] = {
    {"put", "p\n.\nk1 db\n" + kNew, kOld, kNew, "s"},
    {"create", "c\n.\nk2 db\n", std::nullopt, kCreated, "s!"},
    {"remove", "r\n.\nk1 db\n", kOld, std::nullopt,
     "fscan't open database on server"},
    {"store", "s\n.\n" + kOffer, std::nullopt, std::nullopt, ""},
};

bool IsStore(const Step& step) { return step.body[0] == 's'; }

// The clean-up's forms, as packaging/bin/talvenplan-cleanup finds them.
bool CleanUpRemoves(const std::string& name) {
  static const std::regex kForms("\\.[A-Za-z0-9]{6}|\\.put-[A-Za-z0-9]{6}",
                                 std::regex::extended);
  return std::regex_match(name, kForms);
}

// Follows a run's calls and knows what a power cut would still undo: the
// bytes of files not yet synced, and names made or removed in directories
// not yet synced. Paths are taken lexically (these tests lay out no links).
class PowerCut {
 public:
  explicit PowerCut(std::string top) : top_(top), cwd_(std::move(top)) {}

  // What is wrong with `call` having come now, or "".
  std::string Follow(const FileSystemCall& call);

 private:
  struct Open {
    std::string path;
    bool directory = false;
  };

  std::string Base(int dir) { return dir == AT_FDCWD ? cwd_ : fds_[dir].path; }
  std::string Resolve(int dir, const std::string& path);
  static std::string Parent(const std::string& path) {
    return path.substr(0, path.rfind('/'));
  }
  std::string Moved(const std::string& from, const std::string& to,
                    bool keep_from);

  // `path` as the messages show it: below the test's directory.
  std::string Show(const std::string& path) const {
    return path == top_
               ? "."
               : path.substr(path.rfind(top_ + "/") == 0 ? top_.size() + 1 : 0);
  }

  const std::string top_;
  std::string cwd_;
  std::map<int, Open> fds_;
  std::set<std::string> created_;        // files this run wrote
  std::set<std::string> unsynced_;       // their bytes are not on disk yet
  std::set<std::string> unsynced_dirs_;  // their names are not on disk yet
};

std::string PowerCut::Resolve(int dir, const std::string& path) {
  std::string joined = path.starts_with("/") ? path : Base(dir) + "/" + path;
  std::vector<std::string> parts;
  for (std::size_t at = 0; at <= joined.size();) {
    std::size_t end = std::min(joined.find('/', at), joined.size());
    std::string part = joined.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string resolved;
  for (const std::string& part : parts) resolved += "/" + part;
  return resolved.empty() ? "/" : resolved;
}

std::string PowerCut::Moved(const std::string& from, const std::string& to,
                            bool keep_from) {
  std::string wrong;
  if (created_.contains(from) && unsynced_.contains(from)) {
    wrong = "names " + Show(to) + " before the bytes written to " + Show(from) +
            " are synced: a power cut can leave the name on a file short of "
            "them";
  }
  // `to` names what `from` named, synced or not.
  for (std::set<std::string>* set : {&created_, &unsynced_}) {
    if (set->contains(from)) {
      set->insert(to);
    } else {
      set->erase(to);
    }
  }
  if (!keep_from) {
    created_.erase(from);
    unsynced_.erase(from);
    unsynced_dirs_.insert(Parent(from));
  }
  unsynced_dirs_.insert(Parent(to));
  return wrong;
}

std::string PowerCut::Follow(const FileSystemCall& call) {
  const std::string name = call.name;
  const int fd = static_cast<int>(call.args[0]);
  auto path = [&](std::size_t i) {
    return Resolve(call.paths[i].first, call.paths[i].second);
  };
  auto is = [&](std::initializer_list<const char*> names) {
    return std::ranges::count(names, name) > 0;
  };
  if (is({"write", "writev", "pwrite64"})) {
    // The answer: what it reports must stand after a power cut.
    if (fd == 1 && (!unsynced_.empty() || !unsynced_dirs_.empty())) {
      std::string what;
      for (const std::string& file : unsynced_) {
        what += "; the bytes of " + Show(file);
      }
      for (const std::string& dir : unsynced_dirs_) {
        what += "; the names in " + Show(dir);
      }
      return "answers before a power cut would keep it" + what;
    }
    if (fds_.contains(fd)) unsynced_.insert(fds_[fd].path);
    return "";
  }
  if (!call.returned || call.result < 0) return "";  // nothing changed
  if (is({"open", "openat", "openat2", "creat"})) {
    Open open{path(0), (call.open_flags & O_DIRECTORY) != 0};
    if ((call.open_flags & O_TMPFILE) == O_TMPFILE) {
      open = {"(an unnamed file in " + open.path + ")", false};
    } else if (call.open_flags & (O_CREAT | O_TRUNC)) {
      unsynced_dirs_.insert(Parent(open.path));
    }
    if (call.open_flags & (O_CREAT | O_TRUNC)) {
      created_.insert(open.path);
      unsynced_.insert(open.path);
    }
    fds_[static_cast<int>(call.result)] = open;
  } else if (is({"close"})) {
    fds_.erase(fd);
  } else if (is({"ftruncate", "fallocate", "fsetxattr", "fremovexattr"}) &&
             fds_.contains(fd)) {
    unsynced_.insert(fds_[fd].path);  // what fsync makes last, as the bytes
  } else if (is({"setxattr", "lsetxattr", "removexattr", "lremovexattr"})) {
    unsynced_.insert(path(0));
  } else if (is({"fsync", "fdatasync"}) && fds_.contains(fd)) {
    (fds_[fd].directory ? unsynced_dirs_ : unsynced_).erase(fds_[fd].path);
  } else if (is({"sync", "syncfs"})) {
    unsynced_.clear();
    unsynced_dirs_.clear();
  } else if (is({"chdir"})) {
    cwd_ = path(0);
  } else if (is({"fchdir"})) {
    cwd_ = Base(fd);
  } else if (is({"rename", "renameat", "renameat2", "link", "linkat"})) {
    return Moved(path(0), path(1), name.starts_with("link"));
  } else if (is({"unlink", "unlinkat", "rmdir", "mkdir", "mkdirat", "symlink",
                 "symlinkat"})) {
    std::string made = path(call.paths.size() - 1);
    created_.erase(made);
    unsynced_.erase(made);
    unsynced_dirs_.insert(Parent(made));
  }
  return "";
}

void PrintTo(const Setting& setting, std::ostream* out) {
  *out << setting.label;
}
void PrintTo(const Step& step, std::ostream* out) { *out << step.label; }

class CrashTest : public ::testing::TestWithParam<std::tuple<Setting, Step>> {
 protected:
  const Setting& setting() const { return std::get<0>(GetParam()); }
  const Step& step() const { return std::get<1>(GetParam()); }

  // A fresh directory holding what the step starts from.
  void Lay() {
    dir_.emplace();
    WriteFile(dir_->Path("other"), kOther);
    if (step().before) WriteFile(dir_->Path("db"), *step().before);
  }

  CgiResult Run(const std::string& body, int kill_at = 0) {
    CgiRun run;
    run.env = setting().env;
    run.cwd = dir_->path;
    run.trace = true;
    run.kill_at = kill_at;
    return RunCommand(body, run);
  }

  // Checks the answer of a whole run: the step's done state, or for store
  // "s" and the name of a file that holds the whole offer.
  void ExpectDone(const CgiResult& result, const std::string& answer) {
    EXPECT_EQ(result.status, answer.starts_with("fs") ? 1 : 0);
    if (!IsStore(step())) {
      EXPECT_EQ(result.out, kHeader + answer);
      EXPECT_EQ(Database(), step().after);
      return;
    }
    std::string name = Told(result.out);
    ASSERT_TRUE(CleanUpRemoves(name) && !name.starts_with(".put-"))
        << Quote(result.out);
    EXPECT_EQ(ReadFile(dir_->Path(name)), kOffer);
  }

  // The offer name an answer of store tells, or "".
  static std::string Told(const std::string& out) {
    std::string done = kHeader + "s";
    return out.starts_with(done) ? out.substr(done.size()) : "";
  }

  std::optional<std::string> Database() {
    if (!Exists(dir_->Path("db"))) return std::nullopt;
    return ReadFile(dir_->Path("db"));
  }

  // Whole old or whole new, and nothing half-made in sight.
  void ExpectNothingHalfMade(const std::string& out) {
    std::optional<std::string> db = Database();
    EXPECT_TRUE(db == step().before || db == step().after)
        << "db holds " << (db ? Quote(*db) : "no file");
    std::set<std::string> databases;
    for (const std::string& name : ListNames(dir_->path)) {
      if (name == "other") {
        EXPECT_EQ(ReadFile(dir_->Path(name)), kOther);
      } else if (name == "db" ||
                 std::ranges::count(setting().keeps, name) > 0) {
      } else if (!CleanUpRemoves(name) ||
                 !std::filesystem::is_regular_file(dir_->Path(name))) {
        ADD_FAILURE() << "left " << Quote(name)
                      << ", which the clean-up does not remove";
      } else if (name == Told(out)) {
        EXPECT_EQ(ReadFile(dir_->Path(name)), kOffer) << "a told offer";
      }
      if (!name.starts_with(".")) databases.insert(name);
    }
    CgiResult list = RunCommand("l\n.\n", dir_->path);
    std::set<std::string> listed;
    std::string names =
        list.out.substr(std::min(list.out.size(), kHeader.size() + 1));
    for (std::size_t at = 0, end; (end = names.find('\n', at)) != names.npos;
         at = end + 1) {
      if (end > at) listed.insert(names.substr(at, end - at));
    }
    EXPECT_EQ(listed, databases) << "the listing";
  }

  std::optional<TempDir> dir_;
};

TEST_P(CrashTest, KilledAtEachFileSystemCallLeavesOldOrNew) {
  if (!CanInjectFaults()) {
    GTEST_SKIP() << "calls are traced on x86-64, without sanitizers";
  }
  Lay();
  const CgiResult whole = Run(step().body);
  ExpectDone(whole, IsStore(step()) ? "" : "s");
  PowerCut power_cut(dir_->path);
  for (std::size_t n = 0; n < whole.calls.size(); ++n) {
    std::string wrong = power_cut.Follow(whole.calls[n]);
    EXPECT_EQ(wrong, "") << "call " << n + 1 << ", "
                         << whole.calls[n].Describe();
  }

  const int count = static_cast<int>(whole.calls.size());
  for (int n = 1; n <= count; ++n) {
    Lay();
    const CgiResult killed = Run(step().body, n);
    ASSERT_EQ(static_cast<int>(killed.calls.size()), n)
        << "the run made other calls than the first; now: "
        << (killed.calls.empty() ? "none" : killed.calls.back().Describe());
    SCOPED_TRACE("killed at call " + std::to_string(n) + " of " +
                 std::to_string(count) + ", " + killed.calls.back().Describe() +
                 ", after " +
                 (n > 1 ? killed.calls[n - 2].Describe() : "none"));
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    ExpectNothingHalfMade(killed.out);

    // No name is blocked: the same request again comes to the done state.
    bool done = !IsStore(step()) && Database() == step().after;
    const CgiResult again = Run(step().body);
    ExpectDone(again, done ? step().again_when_done : "s");
  }
}

INSTANTIATE_TEST_SUITE_P(Writes, CrashTest,
                         ::testing::Combine(::testing::ValuesIn(kSettings),
                                            ::testing::ValuesIn(kSteps)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).label) +
                                  "_" + std::get<1>(info.param).label;
                         });

}  // namespace
}  // namespace talvenplan::testing
