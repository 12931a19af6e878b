// Keys and passwords that come in some other way than on the command line,
// where every user's ps and the shell's history would show them.
#ifndef TALVENPLAN_CLIENT_SECRET_H_
#define TALVENPLAN_CLIENT_SECRET_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace talvenplan::client {

// No key or password is near this long; a longer first line is the wrong
// file, not a secret.
inline constexpr std::size_t kSecretMost = 1024;

// Reads a secret, named `what` in messages ("key", "password"), from the
// first line of the file `path`, or of standard input for "-": the line
// without its line end (a newline, or a carriage return and a newline, as
// an editor elsewhere may leave it). Standard input is read no further than
// that line. Returns an empty string and sets `secret`, or returns what is
// wrong. A file that every user may read earns a warning on standard error.
std::string ReadSecret(const std::string& path, std::string_view what,
                       std::string& secret);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_SECRET_H_
