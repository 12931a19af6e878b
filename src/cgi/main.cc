// talvenplan.cgi: started by the web server once per request.
#include <signal.h>

#include "cgi/serve.h"
#include "io/line_reader.h"
#include "io/output.h"

namespace {

// Both buffers sit in zero-filled static storage: no allocation and no
// start-up work for them.
constinit char g_output_buffer[64 * 1024];
constinit char g_line_buffer[talvenplan::kLineBufferSize];

}  // namespace

int main() {
  // Neither a client that goes away nor a file size limit may kill the
  // program halfway through a command: the write fails instead, and the
  // command cleans up and answers.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  talvenplan::Output out(1, g_output_buffer);
  int status =
      talvenplan::ServeRequest(talvenplan::ReadCgiEnv(), 0, g_line_buffer, out);
  if (!out.Flush()) status = 1;
  return status;
}
