// Asking for a password on the terminal, as curl does for --user USER.
#ifndef TALVENPLAN_CLIENT_LOGIN_H_
#define TALVENPLAN_CLIENT_LOGIN_H_

#include <optional>
#include <string>

namespace talvenplan::client {

// Writes `prompt` to the controlling terminal (/dev/tty, not standard
// input, which may carry a put text) and reads one line from it with echo
// off. Nullopt, with errno set, when there is no terminal or it fails; an
// end of input before the newline counts as a failure too (errno 0).
std::optional<std::string> AskPassword(const std::string& prompt);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_LOGIN_H_
