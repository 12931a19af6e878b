// talvenplan-client: talks to talvenplan.cgi for shop staff and scripts.
// One routine per command: check the arguments, send one request, and turn
// the answer into output and an exit status (see kUsage).
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/transport.h"
#include "io/fd.h"

namespace talvenplan::client {
namespace {

void Say(std::string_view message) {
  std::string line = "talvenplan-client: ";
  line += message;
  line += '\n';
  static_cast<void>(WriteAll(2, line));
}

int Reject(std::string_view problem) {
  Say(problem);
  return kExitUsage;
}

int Print(std::string_view bytes) {
  if (WriteAll(1, bytes)) return kExitDone;
  Say(std::string("can't write standard output: ") + ::strerror(errno));
  return kExitUsage;
}

// Reads the file `name` whole, or standard input for "-" or no name.
bool ReadInput(std::string_view name, std::string& text) {
  Fd file;
  int fd = 0;
  if (!name.empty() && name != "-") {
    file = Fd(::open(std::string(name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
      Say("can't open " + std::string(name) + ": " + ::strerror(errno));
      return false;
    }
    fd = file.get();
  }
  char block[65536];
  for (;;) {
    long got = ReadSome(fd, block, sizeof block);
    if (got == 0) return true;
    if (got < 0) {
      Say("can't read " + std::string(fd == 0 ? "standard input" : name) +
          ": " + ::strerror(errno));
      return false;
    }
    text.append(block, static_cast<std::size_t>(got));
  }
}

int WriteFile(const std::string& path, std::string_view content) {
  Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file || !WriteAll(file.get(), content) || !file.Close()) {
    return Reject("can't write " + path + ": " + ::strerror(errno));
  }
  return kExitDone;
}

// Sends `body` and reads the answer: on "s" the payload is left in `payload`
// and the result is kExitDone; otherwise the answer is explained on standard
// error (`refusal` says what "s!" means here) and its exit status returned.
int Exchange(const Invocation& invocation, const std::string& body,
             const std::string& refusal, std::string& payload) {
  // The program takes body lengths that fit a signed 32-bit integer.
  if (body.size() >= INT32_MAX) return Reject("the request is too big");
  bool local = !invocation.local.empty();
  Transfer transfer =
      local ? RunProgram(invocation.local, body, ::getenv("TALVEN_ROOT"))
            : PostOverHttp(invocation.url, body);
  if (!transfer.reached) return Reject(transfer.problem);
  if (!transfer.problem.empty()) {
    Say(transfer.problem);
    return kExitServerFailed;
  }
  Answer answer =
      local ? ReadProgramOutput(transfer.answer) : ReadAnswer(transfer.answer);
  switch (answer.status) {
    case Status::kDone:
      if (local && transfer.exit_status != 0) {
        // The program began its answer and then failed (a read error):
        // what arrived may be cut short.
        Say(invocation.local + " ended with status " +
            std::to_string(transfer.exit_status) +
            " after it began to answer: the answer may be incomplete");
        return kExitServerFailed;
      }
      payload.assign(answer.text);
      return kExitDone;
    case Status::kRefused:
      Say("refused: " + refusal);
      return kExitRefused;
    case Status::kFailed:
      Say("the server failed: " + std::string(answer.text));
      return kExitServerFailed;
    case Status::kUnexpected:
      break;
  }
  if (local && !transfer.answer.starts_with(kHeader)) {
    Say(invocation.local + " does not answer as talvenplan.cgi: its output " +
        (transfer.answer.empty() ? "is empty"
                                 : "begins " + Quote(answer.text)));
  } else if (answer.text.empty()) {
    Say("the server sent an empty answer");
  } else {
    Say("the server's answer is not one of talvenplan.cgi's: " +
        Quote(answer.text));
  }
  return kExitServerFailed;
}

// The checks shared by create, get, put and remove.
std::string DatabaseProblem(const Invocation& invocation) {
  std::string problem = DirectoryProblem(invocation.args[0]);
  if (problem.empty()) problem = NameProblem(invocation.args[1], "name");
  if (problem.empty()) problem = KeyProblem(invocation.args[2]);
  return problem;
}

int RunList(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  if (std::string problem = DirectoryProblem(directory); !problem.empty()) {
    return Reject(problem);
  }
  std::string payload;
  int status =
      Exchange(invocation, ListBody(directory),
               "the server would not list " + Quote(directory), payload);
  return status == kExitDone ? Print(payload) : status;
}

int RunCreate(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  std::string payload;
  return Exchange(
      invocation, CommandBody('c', directory, invocation.args[2], name),
      Quote(name) + " already exists in " + Quote(directory), payload);
}

int RunGet(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  const std::string& key = invocation.args[2];
  std::string payload;
  int status =
      Exchange(invocation, CommandBody('g', directory, key, name),
               "there is no database " + Quote(name) + " in " +
                   Quote(directory) + ", or " + Quote(key) + " is not its key",
               payload);
  if (status != kExitDone) return status;
  if (invocation.output.empty()) return Print(payload);
  std::optional<std::string> file = DatabaseFromGet(payload);
  if (!file) {
    return Reject(
        "the key line of " + Quote(name) +
        " ends in blanks or a carriage return within its first 8 bytes, and "
        "the server trims them: get cannot give this database back whole, "
        "so no file was written (get it without -o to see the answer)");
  }
  return WriteFile(invocation.output, *file);
}

int RunPut(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& name = invocation.args[1];
  const std::string& key = invocation.args[2];
  std::string text;
  if (!ReadInput(invocation.args.size() > 3 ? invocation.args[3] : "", text)) {
    return kExitUsage;
  }
  if (std::string problem = PutTextProblem(text); !problem.empty()) {
    return Reject(problem);
  }
  std::string payload;
  int status = Exchange(
      invocation, CommandBody('p', invocation.args[0], key, name, text),
      Quote(key) + " is not the key of " + Quote(name), payload);
  if (status == kExitDone && name.starts_with("DEMO_")) {
    Say("note: the server never changes databases whose names begin with "
        "DEMO_, so " +
        Quote(name) + " is as it was");
  }
  return status;
}

int RunRemove(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& name = invocation.args[1];
  const std::string& key = invocation.args[2];
  std::string payload;
  return Exchange(invocation, CommandBody('r', invocation.args[0], key, name),
                  Quote(key) + " is not the key of " + Quote(name), payload);
}

int RunQuery(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  const std::string& factor = invocation.args[2];
  std::string problem = DirectoryProblem(directory);
  if (problem.empty()) problem = NameProblem(name, "name");
  if (problem.empty()) problem = NameProblem(factor, "factor name");
  if (!problem.empty()) return Reject(problem);
  std::string payload;
  int status =
      Exchange(invocation, CommandBody('q', directory, factor, name),
               "there is no database " + Quote(name) + " in " +
                   Quote(directory) + ", or it has no factor " + Quote(factor),
               payload);
  return status == kExitDone ? Print(payload) : status;
}

int RunOffer(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  if (std::string problem = DirectoryProblem(directory); !problem.empty()) {
    return Reject(problem);
  }
  std::string text;
  if (!ReadInput(invocation.args.size() > 1 ? invocation.args[1] : "", text)) {
    return kExitUsage;
  }
  if (std::string problem = OfferTextProblem(text); !problem.empty()) {
    return Reject(problem);
  }
  std::string name;
  int status = Exchange(invocation, StoreBody(directory, text),
                        "the server would not store the offer", name);
  if (status != kExitDone) return status;
  if (!NameProblem(name, "").empty()) {
    Say("the server's answer is not an offer file name: " + Quote(name));
    return kExitServerFailed;
  }
  std::string query = OfferLinkQuery(name, directory);
  if (!invocation.local.empty()) return Print(query + "\n");
  return Print(invocation.url + "?" + query + "\n");
}

int RunLink(const Invocation& invocation) {
  const std::string& name = invocation.args[0];
  const std::string& directory = invocation.args[1];
  if (name.empty() || directory.empty()) {
    return Reject("the offer file name and the directory must not be empty");
  }
  return Print(OfferLinkQuery(name, directory) + "\n");
}

}  // namespace
}  // namespace talvenplan::client

int main(int argc, char** argv) {
  using namespace talvenplan::client;
  const char* const* args = argv + 1;
  Invocation invocation =
      ParseArguments({args, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)},
                     ::getenv("TALVENPLAN_URL"));
  if (!invocation.error.empty()) {
    return Reject(invocation.error + " (see talvenplan-client --help)");
  }
  switch (invocation.command) {
    case Command::kHelp:
      return Print(kUsage);
    case Command::kList:
      return RunList(invocation);
    case Command::kCreate:
      return RunCreate(invocation);
    case Command::kGet:
      return RunGet(invocation);
    case Command::kPut:
      return RunPut(invocation);
    case Command::kRemove:
      return RunRemove(invocation);
    case Command::kQuery:
      return RunQuery(invocation);
    case Command::kOffer:
      return RunOffer(invocation);
    case Command::kLink:
      return RunLink(invocation);
  }
  return kExitUsage;
}
