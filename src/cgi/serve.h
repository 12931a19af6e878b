// The program's front door: one request from the CGI environment and
// standard input to its answer on standard output.
#ifndef TALVENPLAN_CGI_SERVE_H_
#define TALVENPLAN_CGI_SERVE_H_

#include <cstdint>
#include <optional>
#include <span>

#include "io/output.h"

namespace talvenplan {

// The CGI environment the program looks at; nullptr where a variable is not
// set.
struct CgiEnv {
  const char* query_string = nullptr;
  const char* content_length = nullptr;
  const char* http_content_length = nullptr;
  const char* test = nullptr;  // TALVEN_TEST: allows a short body
  const char* request_method = nullptr;
  const char* root = nullptr;         // TALVEN_ROOT: requests stay below it
  const char* versions = nullptr;     // TALVEN_VERSIONS: versions kept of each
  const char* remote_user = nullptr;  // the login the web server checked
  const char* remote_addr = nullptr;
  // TALVEN_ANSWER_ADDRESS=1: a customer's answer records REMOTE_ADDR.
  const char* answer_address = nullptr;
};

CgiEnv ReadCgiEnv();

// How many versions of each database TALVEN_VERSIONS asks to keep: a count
// read as atoi reads it; unset, 0, negative or no number keeps none.
int VersionsToKeep(const char* text);

// Reads an announced content length the way atoi does (leading white space,
// an optional sign, digits up to the first other byte), but refuses what
// cannot be a body length: zero, negative values, and values where
// length + 1 does not fit a signed 32-bit integer.
std::optional<std::int32_t> ParseContentLength(const char* text);

// Serves one request: writes the header, then either shows an offer link or
// reads the command request's body from `input_fd`, cuts it, changes to its
// directory and runs its command. Returns the process's exit status.
// `line_buffer` holds kLineBufferSize bytes, for line reads.
int ServeRequest(const CgiEnv& env, int input_fd, std::span<char> line_buffer,
                 Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_CGI_SERVE_H_
