#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace talvenplan::testing {
namespace {

[[noreturn]] void Throw(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// The program this build made, unless TALVENPLAN_CGI names another copy (as
// when the tests run as another user over a copy of the build).
const char* Program() {
  const char* program = std::getenv("TALVENPLAN_CGI");
  return program != nullptr ? program : TALVENPLAN_CGI;
}

#if defined(__x86_64__)
// The file-system calls, with what each argument is: `d` a descriptor, `p` a
// path, `-` anything else (not shown).
struct CallKind {
  long number;
  const char* name;
  const char* args;
};

// clang-format off
#define CALL(name, args) {SYS_##name, #name, args}
constexpr CallKind kFileSystemCalls[] = {
    // Reads and writes.
    CALL(read, "d"), CALL(write, "d"), CALL(pread64, "d"), CALL(pwrite64, "d"),
    CALL(readv, "d"), CALL(writev, "d"), CALL(lseek, "d"),
    CALL(sendfile, "dd"), CALL(copy_file_range, "d-d"),
    // Opening, closing, looking up.
    CALL(open, "p"), CALL(openat, "dp"), CALL(openat2, "dp"), CALL(creat, "p"),
    CALL(close, "d"),
    CALL(stat, "p"), CALL(fstat, "d"), CALL(lstat, "p"), CALL(newfstatat, "dp"),
    CALL(statx, "dp"), CALL(access, "p"), CALL(faccessat, "dp"),
    CALL(faccessat2, "dp"), CALL(readlink, "p"), CALL(readlinkat, "dp"),
    CALL(getdents64, "d"), CALL(chdir, "p"), CALL(fchdir, "d"),
    // Syncs, sizes, locks.
    CALL(fsync, "d"), CALL(fdatasync, "d"), CALL(sync, ""), CALL(syncfs, "d"),
    CALL(sync_file_range, "d"),
    CALL(truncate, "p"), CALL(ftruncate, "d"), CALL(fallocate, "d"),
    CALL(flock, "d"),
    // Names.
    CALL(rename, "pp"), CALL(renameat, "dpdp"), CALL(renameat2, "dpdp"),
    CALL(link, "pp"), CALL(linkat, "dpdp"),
    CALL(symlink, "pp"), CALL(symlinkat, "pdp"),
    CALL(unlink, "p"), CALL(unlinkat, "dp"),
    CALL(mkdir, "p"), CALL(mkdirat, "dp"), CALL(rmdir, "p"),
    // Permissions, owners, attributes, file systems.
    CALL(chmod, "p"), CALL(fchmod, "d"), CALL(fchmodat, "dp"), CALL(chown, "p"),
    CALL(fchown, "d"), CALL(lchown, "p"), CALL(fchownat, "dp"),
    CALL(setxattr, "p"), CALL(lsetxattr, "p"), CALL(fsetxattr, "d"),
    CALL(getxattr, "p"), CALL(lgetxattr, "p"), CALL(fgetxattr, "d"),
    CALL(listxattr, "p"), CALL(llistxattr, "p"), CALL(flistxattr, "d"),
    CALL(removexattr, "p"), CALL(lremovexattr, "p"), CALL(fremovexattr, "d"),
    CALL(statfs, "p"), CALL(fstatfs, "d")};
#undef CALL
// clang-format on

const CallKind* FileSystemCallKind(long number) {
  for (const CallKind& kind : kFileSystemCalls) {
    if (kind.number == number) return &kind;
  }
  return nullptr;
}

// Reads `size` bytes at `address` in the traced child `pid`.
bool Peek(pid_t pid, unsigned long long address, void* into, std::size_t size) {
  iovec local{into, size};
  iovec remote{reinterpret_cast<void*>(address), size};
  return ::process_vm_readv(pid, &local, 1, &remote, 1, 0) ==
         static_cast<ssize_t>(size);
}

// The NUL-terminated string at `address` in `pid`, read a byte at a time
// across page ends.
std::string PeekString(pid_t pid, unsigned long long address) {
  std::string text;
  char c = 0;
  while (text.size() < 4096 && Peek(pid, address + text.size(), &c, 1) &&
         c != '\0') {
    text += c;
  }
  return text;
}

FileSystemCall Record(pid_t pid, const CallKind& kind,
                      const user_regs_struct& regs) {
  FileSystemCall call;
  call.name = kind.name;
  call.kinds = kind.args;
  const unsigned long long args[6] = {regs.rdi, regs.rsi, regs.rdx,
                                      regs.r10, regs.r8,  regs.r9};
  std::copy(std::begin(args), std::end(args), call.args);
  for (int i = 0; kind.args[i] != '\0'; ++i) {
    if (kind.args[i] != 'p') continue;
    int dir = i > 0 && kind.args[i - 1] == 'd' ? static_cast<int>(args[i - 1])
                                               : AT_FDCWD;
    call.paths.emplace_back(dir, PeekString(pid, args[i]));
  }
  if (kind.number == SYS_open) call.open_flags = args[1];
  if (kind.number == SYS_openat) call.open_flags = args[2];
  if (kind.number == SYS_creat) call.open_flags = O_CREAT | O_WRONLY | O_TRUNC;
  if (kind.number == SYS_openat2) Peek(pid, args[2], &call.open_flags, 8);
  return call;
}

// Runs the traced child `pid` to its end: fails the calls `run.fault` names,
// records the file-system calls in `calls` when `run.trace` or `run.kill_at`
// asks, and kills the child at its `run.kill_at`-th. The child stops once at
// its exec first.
int Trace(pid_t pid, const CgiRun& run, std::vector<FileSystemCall>& calls) {
  const SyscallFault& fault = run.fault;
  const bool record = run.trace || run.kill_at > 0 || run.fail_at > 0;
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0 || !WIFSTOPPED(status)) return status;
  ::ptrace(PTRACE_SETOPTIONS, pid, 0,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  bool in_call = false;
  bool failing = false;
  int error = 0;
  bool recorded = false;  // the call now running was recorded
  int seen = 0;
  int signal = 0;
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, pid, 0, signal);
    signal = 0;
    if (::waitpid(pid, &status, 0) < 0) Throw("waitpid");
    if (WIFEXITED(status) || WIFSIGNALED(status)) return status;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal = WSTOPSIG(status);  // a real signal: deliver it
      continue;
    }
    user_regs_struct regs{};
    ::ptrace(PTRACE_GETREGS, pid, 0, &regs);
    in_call = !in_call;
    if (in_call) {
      const long number = static_cast<long>(regs.orig_rax);
      const CallKind* kind = record ? FileSystemCallKind(number) : nullptr;
      recorded = kind != nullptr;
      if (recorded) {
        calls.push_back(Record(pid, *kind, regs));
        if (static_cast<int>(calls.size()) == run.kill_at) {
          ::kill(pid, SIGKILL);
          while (::waitpid(pid, &status, 0) >= 0 && !WIFEXITED(status) &&
                 !WIFSIGNALED(status)) {
          }
          return status;
        }
      }
      failing = false;
      error = fault.error;
      if (number == fault.number &&
          (fault.fd < 0 || static_cast<int>(regs.rdi) == fault.fd)) {
        ++seen;
        failing = seen == fault.nth || (fault.every && seen > fault.nth);
      }
      if (recorded && static_cast<int>(calls.size()) == run.fail_at) {
        failing = true;
        error = run.fail_error;
      }
      if (failing) {  // skip the call itself
        regs.orig_rax = static_cast<unsigned long long>(-1);
        ::ptrace(PTRACE_SETREGS, pid, 0, &regs);
      }
    } else {
      if (failing) {
        regs.rax = static_cast<unsigned long long>(-error);
        ::ptrace(PTRACE_SETREGS, pid, 0, &regs);
      }
      if (recorded) {
        calls.back().result = static_cast<long>(regs.rax);
        calls.back().returned = true;
      }
    }
  }
}
#endif

}  // namespace

bool CanInjectFaults() {
  // A sanitizer's runtime makes system calls of its own, at start-up and
  // while the program runs, so the nth call would not be the program's.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

CgiResult RunCgi(const CgiRun& run) {
  int in = MemoryFile(run.input);
  int out = -1;
  if (run.stdout_closed_pipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) Throw("pipe");
    ::close(ends[0]);
    out = ends[1];
  } else if (!run.stdout_path.empty()) {
    out = ::open(run.stdout_path.c_str(), O_WRONLY | O_CLOEXEC);
  } else {
    out = MemoryFile("");
  }
  if (out < 0) Throw("open " + run.stdout_path);
  int err = MemoryFile("");

  std::vector<char*> envp;
  for (const std::string& entry : run.env) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);
  std::string program = Program();
  char* argv[] = {program.data(), nullptr};
  const bool traced =
      run.fault.number >= 0 || run.trace || run.kill_at > 0 || run.fail_at > 0;

  pid_t pid = ::fork();
  if (pid < 0) Throw("fork");
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    if (::chdir(run.cwd.c_str()) != 0) ::_exit(126);
    if (run.file_size_limit != RLIM_INFINITY) {
      rlimit limit{run.file_size_limit, run.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // Nothing else is inherited: the program's first file is descriptor 3.
    ::close_range(3, ~0U, 0);
#if defined(__x86_64__)
    if (traced) ::ptrace(PTRACE_TRACEME, 0, 0, 0);
#endif
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  CgiResult result;
  int wait_status = 0;
#if defined(__x86_64__)
  if (traced) wait_status = Trace(pid, run, result.calls);
#endif
  while (!traced && ::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) Throw("waitpid");
  }

  if (run.stdout_path.empty() && !run.stdout_closed_pipe) {
    result.out = ReadAll(out);
  }
  result.err = ReadAll(err);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                         : 128 + WTERMSIG(wait_status);
  ::close(in);
  ::close(out);
  ::close(err);
  return result;
}

CgiResult RunCommand(const std::string& body, CgiRun run) {
  run.env.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  run.input = body;
  return RunCgi(run);
}

CgiResult RunCommand(const std::string& body, const std::string& cwd,
                     std::vector<std::string> extra_env) {
  CgiRun run;
  run.env = std::move(extra_env);
  run.cwd = cwd;
  return RunCommand(body, run);
}

std::string FileSystemCall::Describe() const {
  std::string text = std::string(name) + "(";
  std::size_t path = 0;
  for (int i = 0; kinds[i] != '\0'; ++i) {
    if (i > 0) text += ", ";
    if (kinds[i] == 'p' && path < paths.size()) {
      text += Quote(paths[path++].second);
    } else if (kinds[i] == 'd') {
      int fd = static_cast<int>(args[i]);
      text += fd == AT_FDCWD ? "AT_FDCWD" : std::to_string(fd);
    } else {
      text += "...";
    }
  }
  text += ")";
  if (returned) text += " = " + std::to_string(result);
  return text;
}

void ExpectAnswer(const CgiResult& result, const std::string& answer,
                  int status) {
  EXPECT_EQ(result.out, kHeader + answer);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, status);
}

bool HasOfferForm(std::string_view name) {
  auto alphanumeric = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= '0' && c <= '9');
  };
  return name.size() == 7 && name[0] == '.' &&
         std::all_of(name.begin() + 1, name.end(), alphanumeric);
}

std::map<std::string, std::string> Snapshot(const std::string& top) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    const std::string path = entry.path().string();
    // A FIFO or a device is never opened: reading it could block.
    tree[path] = entry.is_symlink()
                     ? "-> " + fs::read_symlink(entry.path()).string()
                 : entry.is_directory()    ? "<dir>"
                 : entry.is_regular_file() ? ReadFile(path)
                                           : "<other>";
  }
  return tree;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base ? base : "/tmp") + "/talvenplan.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) Throw("mkdtemp");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

int MemoryFile(const std::string& content) {
  int fd = ::memfd_create("cgi", MFD_CLOEXEC);
  if (fd < 0) Throw("memfd_create");
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) Throw("write memfd");
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string ReadAll(int fd) {
  std::string content;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

void WriteFile(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) Throw("open " + path);
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) Throw("write " + path);
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

void WriteOffer(const std::string& path, const std::string& content) {
  WriteFile(path, content);
  if (::setxattr(path.c_str(), kOfferMarkName, kOfferMarkValue.data(),
                 kOfferMarkValue.size(), 0) != 0 &&
      errno != EOPNOTSUPP) {
    Throw("setxattr " + path);
  }
}

bool CanMarkOffers(const std::string& directory) {
  const std::string probe = directory + "/.mark-probe";
  WriteFile(probe, "");
  bool marked =
      ::setxattr(probe.c_str(), kOfferMarkName, kOfferMarkValue.data(),
                 kOfferMarkValue.size(), 0) == 0;
  ::unlink(probe.c_str());
  return marked;
}

std::string ReadFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Throw("open " + path);
  std::string content = ReadAll(fd);
  ::close(fd);
  return content;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListNames(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace talvenplan::testing
