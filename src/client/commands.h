// talvenplan-client's commands, in one table: each command's name, the
// number of arguments it takes, its line in --help, and the routine that
// runs it. Reading the command line and the help text come from the table.
#ifndef TALVENPLAN_CLIENT_COMMANDS_H_
#define TALVENPLAN_CLIENT_COMMANDS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "client/transport.h"

namespace talvenplan::client {

struct Command;

// The environment variables the client reads; null where one is not set.
struct Environment {
  const char* url = nullptr;       // TALVENPLAN_URL
  const char* key = nullptr;       // TALVENPLAN_KEY
  const char* password = nullptr;  // TALVENPLAN_PASSWORD
};

struct Invocation {
  const Command* command = nullptr;  // null: --help
  std::string url;                   // --url, else TALVENPLAN_URL
  std::string local;                 // --local PATH: run the program directly
  std::string output;                // get -o FILE
  std::string version;               // get --version STAMP
  bool by = false;                   // list, versions --by: who saved each
  Login login;  // --user, --password-file, --netrc-file, TALVENPLAN_PASSWORD
  std::vector<std::string> args;  // the command's own arguments
  // Where a KEY given as "-" is still to be read from: a file, or "-" for
  // standard input. Empty when the key is in `args` already.
  std::string key_file;
  bool key_hidden = false;    // not given as an argument: messages hide it
  std::string password_file;  // --password-file; "-": standard input
  // --local: the server's settings for the program ("NAME=value"), filled
  // in by Run.
  std::vector<std::string> settings;
  std::string error;  // a usage problem; empty when the invocation is fine
};

// In a command's table row: no argument of that kind.
inline constexpr int kNone = -1;

struct Command {
  std::string_view name;
  std::size_t least, most;  // how many arguments it takes
  // Which argument is the key, and which names the file of the text it
  // sends (standard input where that argument is "-" or left out). A key
  // given as "-" comes from --key-file, else TALVENPLAN_KEY, else standard
  // input, so that it need not show in ps.
  int key, text;
  bool sends;              // whether it sends a request (needs a server)
  std::string_view usage;  // its arguments, as --help shows them
  std::string_view does;   // what it does; lines after the first indented
  int (*run)(const Invocation&);
};

// Reads the command line (`argv[0]` is the program). Options may stand
// anywhere; "--" ends them.
Invocation ParseArguments(int argc, char** argv, const Environment& env);

// The text of --help.
std::string Usage();

// Runs an invocation without an error: reads the key and password it still
// needs and, for --local, the server's settings, then the command. Returns
// the exit status.
int Run(Invocation invocation);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_COMMANDS_H_
