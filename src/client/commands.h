// talvenplan-client's commands, in one table: each command's name, the
// number of arguments it takes, its line in --help, and the routine that
// runs it. Reading the command line and the help text come from the table.
#ifndef TALVENPLAN_CLIENT_COMMANDS_H_
#define TALVENPLAN_CLIENT_COMMANDS_H_

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/transport.h"

namespace talvenplan::client {

struct Command;

struct Invocation {
  const Command* command = nullptr;  // null: --help
  std::string url;                   // --url, else TALVENPLAN_URL
  std::string local;                 // --local PATH: run the program directly
  std::string output;                // get -o FILE
  std::string version;               // get --version STAMP
  Login login;                       // --user, --netrc-file
  std::vector<std::string> args;     // the command's own arguments
  std::string error;  // a usage problem; empty when the invocation is fine
};

struct Command {
  std::string_view name;
  std::size_t least, most;  // how many arguments it takes
  bool sends;               // whether it sends a request (needs a server)
  std::string_view usage;   // its arguments, as --help shows them
  std::string_view does;    // what it does; lines after the first indented
  int (*run)(const Invocation&);
};

std::span<const Command> Commands();

// Reads the command line (`argv[0]` is the program). Options may stand
// anywhere; "--" ends them. `env_url` is TALVENPLAN_URL, or null.
Invocation ParseArguments(int argc, char** argv, const char* env_url);

// The text of --help.
std::string Usage();

// Runs an invocation without an error; returns the exit status.
int Run(const Invocation& invocation);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_COMMANDS_H_
