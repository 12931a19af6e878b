// The pure logic of talvenplan-client: the checks that keep a request from
// losing bytes on the way, reading the program's answers, and turning get's
// answer back into a file. Nothing here does I/O.
#ifndef TALVENPLAN_CLIENT_CLIENT_H_
#define TALVENPLAN_CLIENT_CLIENT_H_

#include <optional>
#include <string>
#include <string_view>

#include "protocol/quote.h"

namespace talvenplan::client {

// The client's exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitServerFailed = 1;  // "fs", or not a whole answer
inline constexpr int kExitUsage = 2;    // bad arguments, local files, no server
inline constexpr int kExitRefused = 3;  // "s!"
inline constexpr int kExitLogin = 4;    // HTTP 401: the server wants a login

// Checks of what a request carries. Each returns an empty string when the
// value passes, else a sentence that says what is wrong.
std::string DirectoryProblem(std::string_view directory);
// A database name, or a factor name for query (`what` names which).
std::string NameProblem(std::string_view name, std::string_view what);
// The name of a database to create: also not of the offer form, which an
// offer link could show and delete without the key.
std::string CreateNameProblem(std::string_view name);
std::string KeyProblem(std::string_view key);
std::string OfferTextProblem(std::string_view text);
// A put text becomes the whole database; its first line is the new key line.
std::string PutTextProblem(std::string_view text);

enum class Status {
  kDone,        // "s": the payload follows
  kRefused,     // "s!"
  kFailed,      // "fs": the message follows
  kUnexpected,  // anything else, the whole answer in `text`
};

struct Answer {
  Status status = Status::kUnexpected;
  std::string_view text;  // payload, message, or the unexpected answer
};

// Reads an answer whose header is already gone (as over HTTP). A refusal is
// "s!" alone: "s!" with more after it is a payload that begins with "!".
Answer ReadAnswer(std::string_view answer);
// Reads the program's standard output, header first, as --local gets it.
Answer ReadProgramOutput(std::string_view output);

// get's payload as a database file that put can send back unchanged. get
// answers the stored key and a newline, and the key check reads at most
// kKeySize bytes of the key line: after a stored key of that size the rest
// of the key line (often just its newline) follows, so the newline after the
// key is not the file's and is dropped. A shorter stored key is a whole key
// line when the factor count follows; else it may be the start of a longer
// key line whose first bytes ended in blanks or a carriage return that the
// key check trimmed: where that line ended cannot be told, so there is no
// such file (nullopt).
std::optional<std::string> DatabaseFromGet(std::string_view payload);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_CLIENT_H_
