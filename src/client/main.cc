// talvenplan-client: talks to talvenplan.cgi for shop staff and scripts.
// Each command checks its arguments, sends one request, and turns the
// answer into output and an exit status (see --help).
#include <stdlib.h>

#include <string>

#include "client/client.h"
#include "client/commands.h"
#include "io/fd.h"

int main(int argc, char** argv) {
  using namespace talvenplan::client;
  Invocation invocation =
      ParseArguments(argc, argv, ::getenv("TALVENPLAN_URL"));
  if (!invocation.error.empty()) {
    std::string line = "talvenplan-client: " + invocation.error +
                       " (see talvenplan-client --help)\n";
    static_cast<void>(talvenplan::WriteAll(2, line));
    return kExitUsage;
  }
  return Run(invocation);
}
