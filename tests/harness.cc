#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace talvenplan::testing {
namespace {

[[noreturn]] void Throw(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
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

// The program this build made, unless TALVENPLAN_CGI names another copy (as
// when the tests run as another user over a copy of the build).
const char* Program() {
  const char* program = std::getenv("TALVENPLAN_CGI");
  return program != nullptr ? program : TALVENPLAN_CGI;
}

#if defined(__x86_64__)
// Runs the traced child `pid` to its end, failing the calls `fault` names.
// The child stops once at its exec first.
int TraceWithFault(pid_t pid, const SyscallFault& fault) {
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0 || !WIFSTOPPED(status)) return status;
  ::ptrace(PTRACE_SETOPTIONS, pid, 0,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  bool in_call = false;
  bool failing = false;
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
      failing = false;
      if (static_cast<long>(regs.orig_rax) == fault.number &&
          (fault.fd < 0 || static_cast<int>(regs.rdi) == fault.fd)) {
        ++seen;
        failing = seen == fault.nth || (fault.every && seen > fault.nth);
      }
      if (failing) {  // skip the call itself
        regs.orig_rax = static_cast<unsigned long long>(-1);
        ::ptrace(PTRACE_SETREGS, pid, 0, &regs);
      }
    } else if (failing) {
      regs.rax = static_cast<unsigned long long>(-fault.error);
      ::ptrace(PTRACE_SETREGS, pid, 0, &regs);
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
    if (run.fault.number >= 0) ::ptrace(PTRACE_TRACEME, 0, 0, 0);
#endif
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  int wait_status = 0;
#if defined(__x86_64__)
  if (run.fault.number >= 0) wait_status = TraceWithFault(pid, run.fault);
#endif
  while (run.fault.number < 0 && ::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) Throw("waitpid");
  }

  CgiResult result;
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

std::string Printable(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    }
  }
  return text;
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
