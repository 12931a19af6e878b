#include "client/run_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talvenplan::client {
namespace {

std::string ReadBack(int fd) {
  std::string content;
  char block[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0;) {
    content.append(block, static_cast<std::size_t>(got));
  }
  return content;
}

}  // namespace

Outcome RunProgram(std::vector<std::string> argv, const std::string& input,
                   std::vector<std::string> env) {
  int in = ::memfd_create("in", MFD_CLOEXEC);
  int out = ::memfd_create("out", MFD_CLOEXEC);
  int err = ::memfd_create("err", MFD_CLOEXEC);
  EXPECT_EQ(::write(in, input.data(), input.size()),
            static_cast<ssize_t>(input.size()));
  ::lseek(in, 0, SEEK_SET);
  std::vector<char*> args, envp;
  for (std::string& arg : argv) args.push_back(arg.data());
  for (std::string& entry : env) envp.push_back(entry.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  // A session of its own: no controlling terminal to ask a password on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  Outcome run;
  if (::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(),
                     envp.data()) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadBack(out);
  run.err = ReadBack(err);
  ::close(in);
  ::close(out);
  ::close(err);
  return run;
}

Outcome RunClient(std::vector<std::string> args, const std::string& input,
                  std::vector<std::string> env) {
  args.insert(args.begin(), TALVENPLAN_CLIENT);
  return RunProgram(args, input, env);
}

void ExpectDone(const Outcome& run, const std::string& out) {
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, "");
}

void ExpectFailure(const Outcome& run, int status, const std::string& message) {
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "talvenplan-client: " + message + "\n");
}

}  // namespace talvenplan::client
