// Getting a request body to talvenplan.cgi and its answer back: over HTTP
// with libcurl, or by running the program directly as a web server would.
#ifndef TALVENPLAN_CLIENT_TRANSPORT_H_
#define TALVENPLAN_CLIENT_TRANSPORT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvenplan::client {

// What went wrong with a transfer, if anything. Each fault says which of the
// ways it can fail happened, so that the message can name it.
enum class Fault {
  kNone,        // an answer arrived whole (its own status word says more)
  kNotReached,  // no connection, or the program could not be run
  kHttpStatus,  // the web server answered an HTTP status other than 200
  kCutShort,    // the connection broke off inside the answer
  kKilled,      // the program was killed by a signal
  kExited,      // the program ended with a status other than 0
};

struct Transfer {
  Fault fault = Fault::kNone;
  // The CURLcode (kNotReached, kCutShort over HTTP), the HTTP status, the
  // signal number, or the exit status.
  long code = 0;
  std::string detail;  // curl's error text, or the system's
  std::string answer;  // the response body, or the program's standard output
};

// A login for the web server. Without `user`, ~/.netrc (or `netrc_file`)
// may still give one.
struct Login {
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::string netrc_file;
};

// POSTs `body` to `url`.
Transfer PostOverHttp(const std::string& url, std::string_view body,
                      const Login& login);

// Runs the program at `path` with only CONTENT_LENGTH and `settings`
// ("NAME=value" entries) in its environment; `body` is its standard input.
// It starts in the current directory and shares our standard error.
Transfer RunProgram(const std::string& path, std::string_view body,
                    const std::vector<std::string>& settings);

// The offer link for `query` on the program's `url`. The program reads an
// offer link only where the query string begins with the offer key, and
// ignores what follows the directory: so the link's query goes first, and a
// query the URL already carries follows it after a '&'. Empty, with `error`
// set, when libcurl cannot read the URL.
std::string OfferLink(const std::string& url, const std::string& query,
                      std::string& error);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_TRANSPORT_H_
