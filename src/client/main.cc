// talvenplan-client: talks to talvenplan.cgi for shop staff and scripts.
// Each command checks its arguments, sends one request, and turns the
// answer into output and an exit status (see --help).
#include <err.h>
#include <stdlib.h>

#include <utility>

#include "client/client.h"
#include "client/commands.h"

int main(int argc, char** argv) {
  using namespace talvenplan::client;
  const Environment env = {
      .url = ::getenv("TALVENPLAN_URL"),
      .key = ::getenv("TALVENPLAN_KEY"),
      .password = ::getenv("TALVENPLAN_PASSWORD"),
  };
  Invocation invocation = ParseArguments(argc, argv, env);
  if (!invocation.error.empty()) {
    ::warnx("%s (see talvenplan-client --help)", invocation.error.c_str());
    return kExitUsage;
  }
  return Run(std::move(invocation));
}
