// Runs the built talvenplan-client for black-box tests, and checks of its
// outcome.
#ifndef TALVENPLAN_TESTS_CLIENT_RUN_CLIENT_H_
#define TALVENPLAN_TESTS_CLIENT_RUN_CLIENT_H_

#include <string>
#include <vector>

namespace talvenplan::client {

struct Outcome {
  std::string out, err;
  int status = -1;  // exit status, or 128 + signal number
};

// Runs `argv` (searched in PATH) with `input` on standard input and exactly
// the environment `env`.
Outcome RunProgram(std::vector<std::string> argv, const std::string& input,
                   std::vector<std::string> env);

Outcome RunClient(std::vector<std::string> args, const std::string& input = "",
                  std::vector<std::string> env = {});

// Exit status 0, `out` on standard output, nothing on standard error.
void ExpectDone(const Outcome& run, const std::string& out);
// `status`, nothing on standard output, and `message` on standard error as
// the client says it: after its name, on a line of its own.
void ExpectFailure(const Outcome& run, int status, const std::string& message);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_TESTS_CLIENT_RUN_CLIENT_H_
