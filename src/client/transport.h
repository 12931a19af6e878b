// Getting a request body to talvenplan.cgi and its answer back: over HTTP
// with libcurl, or by running the program directly as a web server would.
#ifndef TALVENPLAN_CLIENT_TRANSPORT_H_
#define TALVENPLAN_CLIENT_TRANSPORT_H_

#include <string>
#include <string_view>

namespace talvenplan::client {

struct Transfer {
  // False when the server could not be reached or the program not started;
  // `problem` says why.
  bool reached = false;
  // Set with `reached` when the server answered, but not as the program does
  // (an HTTP status other than 200, or the program killed by a signal).
  std::string problem;
  std::string answer;   // the response body, or the program's standard output
  int exit_status = 0;  // the program's, when run directly
};

// POSTs `body` to `url`.
Transfer PostOverHttp(const std::string& url, std::string_view body);

// Runs the program at `path` with only CONTENT_LENGTH in its environment,
// and TALVEN_ROOT when `root` is not null; `body` is its standard input. It
// starts in the current directory and shares our standard error.
Transfer RunProgram(const std::string& path, std::string_view body,
                    const char* root);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_TRANSPORT_H_
