// Runs the built talvenplan.cgi (TALVENPLAN_CGI in the environment, else the
// one this build made) as a web server would, for black-box tests:
// a chosen environment (nothing inherited), a body on standard input, and a
// working directory the test lays out.
#ifndef TALVENPLAN_TESTS_HARNESS_H_
#define TALVENPLAN_TESTS_HARNESS_H_

#include <sys/resource.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/letter_pair.h"
#include "protocol/quote.h"
#include "protocol/wire.h"

namespace talvenplan::testing {

// Makes the program's calls of one system call fail, the way a disk or a
// file system might: the `nth` call (counting from 1) whose first argument
// is `fd` (any, when -1) fails with `error`, and with `every` each later one
// too. The program runs traced (ptrace) for this; x86-64 only.
struct SyscallFault {
  long number = -1;  // a SYS_ number; -1: no fault
  int fd = -1;
  int nth = 1;
  bool every = false;
  int error = 5;  // EIO
};

struct CgiRun {
  std::vector<std::string> env;  // "NAME=value" entries, the whole environment
  std::string input;             // standard input
  std::string cwd = ".";         // where the program starts
  // When set, standard output goes to this path (e.g. "/dev/full") and the
  // result's `out` stays empty.
  std::string stdout_path;
  // When set, standard output is a pipe whose reading end is already closed,
  // as when the web server's client has gone away.
  bool stdout_closed_pipe = false;
  // A file size limit for the program. SIGXFSZ keeps its default action
  // (the program must ignore it itself, so that writes past the limit fail
  // with EFBIG instead of killing it).
  rlim_t file_size_limit = RLIM_INFINITY;
  SyscallFault fault;
  // With `trace`, the result lists the program's file-system calls (below).
  bool trace = false;
  // When n > 0, the program is killed (SIGKILL) as it enters its n-th
  // file-system call, before that call runs. Traced, as for `trace`.
  int kill_at = 0;
  // When n > 0, the program's n-th file-system call fails with `fail_error`
  // instead of running, as on a full or failing disk. Traced, as for `trace`.
  int fail_at = 0;
  int fail_error = 5;  // EIO
};

// A file-system call the program made: any call on a path or a descriptor
// (opens, reads and writes, standard input and output included, syncs,
// renames, links, removals, status, directory reads, changes of directory).
struct FileSystemCall {
  const char* name = "";   // "renameat"
  const char* kinds = "";  // per argument: d a descriptor, p a path, - other
  unsigned long long args[6] = {};
  // The path arguments, read from the program, each with the directory
  // descriptor it is relative to (AT_FDCWD where the call takes none).
  std::vector<std::pair<int, std::string>> paths;
  unsigned long long open_flags = 0;  // the flags of an open call
  long result = 0;
  bool returned = false;  // false for the call the program was killed at
  // As in "renameat(3, ".put-aB3dE9", 3, "db") = 0".
  std::string Describe() const;
};

// Whether a SyscallFault can be injected, and calls traced, here: on x86-64,
// into a program built without sanitizers.
bool CanInjectFaults();

struct CgiResult {
  std::string out;
  std::string err;
  int status = -1;                    // exit status, or 128 + signal number
  std::vector<FileSystemCall> calls;  // with CgiRun::trace or kill_at
};

CgiResult RunCgi(const CgiRun& run);

// `answer` whole after the header, nothing on standard error, and the exit
// status `status`.
void ExpectAnswer(const CgiResult& result, const std::string& answer,
                  int status = 0);

// A command request: CONTENT_LENGTH set to the body's size, plus `extra_env`.
CgiResult RunCommand(const std::string& body, const std::string& cwd = ".",
                     std::vector<std::string> extra_env = {});

// A command request with what `run` sets (its directory, limits, faults):
// CONTENT_LENGTH and the body are added.
CgiResult RunCommand(const std::string& body, CgiRun run);

using talvenplan::EncodeLetterPairs;
using talvenplan::OfferLinkQuery;
// The header every answer starts with, as a string to build expected answers.
inline const std::string kHeader{talvenplan::kHeader};

// Whether `name` has the form of an offer's name: "." and six letters or
// digits.
bool HasOfferForm(std::string_view name);

// Bytes in test messages, quoted as the client quotes them.
using talvenplan::Quote;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

// A file in memory holding `content`, open at its start; and what an open
// file holds from its start.
int MemoryFile(const std::string& content);
std::string ReadAll(int fd);

void WriteFile(const std::string& path, const std::string& content);
// Writes an offer file as store makes it: with store's mark, where the file
// system has user extended attributes (unmarked where it has none).
void WriteOffer(const std::string& path, const std::string& content);
// Whether files in `directory` can carry store's mark: tmpfs before Linux
// 6.6 and some other file systems have no user extended attributes.
bool CanMarkOffers(const std::string& directory);
// For a test whose offers must carry the mark to be shown.
#define SKIP_WITHOUT_OFFER_MARKS(directory)                        \
  if (!::talvenplan::testing::CanMarkOffers(directory))            \
  GTEST_SKIP() << "no user extended attributes in " << (directory) \
               << ": offers there cannot carry store's mark"
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Every path below `top` with what it holds: a file's content, "<dir>" for
// a directory, "-> target" for a symbolic link, "<other>" for the rest. Two
// snapshots compare equal when nothing below `top` changed.
std::map<std::string, std::string> Snapshot(const std::string& top);

// Names each case of a parameterized test by its `label` member.
inline constexpr auto kLabelName = [](const auto& info) {
  return std::string(info.param.label);
};

using Names = std::vector<std::string>;
// The names in a directory, "." and ".." left out, sorted.
Names ListNames(const std::string& directory);

}  // namespace talvenplan::testing

#endif  // TALVENPLAN_TESTS_HARNESS_H_
