#include "client/commands.h"

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

#include "client/client.h"
#include "client/login.h"
#include "client/secret.h"
#include "client/settings.h"
#include "io/fd.h"
#include "io/versions.h"
#include "protocol/letter_pair.h"
#include "protocol/percent.h"
#include "protocol/request.h"
#include "protocol/wire.h"

namespace talvenplan::client {
namespace {

int Reject(const std::string& problem) {
  ::warnx("%s", problem.c_str());
  return kExitUsage;
}

int Print(std::string_view bytes) {
  if (WriteAll(1, bytes)) return kExitDone;
  ::warn("can't write standard output");
  return kExitUsage;
}

// Reads the file `name` whole, or standard input for "-" or no name.
bool ReadInput(const std::string& name, std::string& text) {
  Fd file;
  int fd = 0;
  if (!name.empty() && name != "-") {
    file = Fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
      ::warn("can't open %s", name.c_str());
      return false;
    }
    fd = file.get();
  }
  char block[65536];
  for (;;) {
    long got = ReadSome(fd, block, sizeof block);
    if (got == 0) return true;
    if (got < 0) {
      ::warn("can't read %s", fd == 0 ? "standard input" : name.c_str());
      return false;
    }
    text.append(block, static_cast<std::size_t>(got));
  }
}

// Reads the text a command sends, from the file its argument `index` names
// (standard input for "-" or none), and checks it with `problem`.
int ReadText(const Invocation& invocation, std::size_t index,
             std::string (*problem)(std::string_view), std::string& text) {
  const std::string& name =
      invocation.args.size() > index ? invocation.args[index] : "";
  if (!ReadInput(name, text)) return kExitUsage;
  if (std::string found = problem(text); !found.empty()) return Reject(found);
  return kExitDone;
}

int WriteFile(const std::string& path, std::string_view content) {
  Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file || !WriteAll(file.get(), content) || !file.Close()) {
    ::warn("can't write %s", path.c_str());
    return kExitUsage;
  }
  return kExitDone;
}

// Sends `body` over HTTP, asking for the password first when --user named
// a user alone.
Transfer Post(const Invocation& invocation, const std::string& body) {
  Login login = invocation.login;
  if (login.user && !login.password) {
    login.password =
        AskPassword("Enter host password for user '" + *login.user + "':");
    if (!login.password) {
      Transfer failed;
      failed.fault = Fault::kNotReached;
      failed.detail =
          "can't ask for the password of " + Quote(*login.user) +
          " on the terminal: " + (errno != 0 ? ::strerror(errno) : "no input");
      return failed;
    }
  }
  return PostOverHttp(invocation.url, body, login);
}

// Says what went wrong with a transfer and returns its exit status, or
// returns kExitDone when the answer arrived whole.
int TransferStatus(const Invocation& invocation, const Transfer& transfer,
                   const Answer& answer) {
  const char* program = invocation.local.c_str();
  const char* url = invocation.url.c_str();
  const std::string code = std::to_string(transfer.code);
  switch (transfer.fault) {
    case Fault::kNone: return kExitDone;
    case Fault::kNotReached:
      if (!invocation.local.empty() || transfer.code == 0) {
        return Reject(transfer.detail);
      }
      return Reject("can't reach " + invocation.url + ": " + transfer.detail +
                    " (curl error " + code + ")");
    case Fault::kHttpStatus:
      if (transfer.code == 401 && invocation.login.user) {
        ::warnx("the server did not accept the login of %s (HTTP status 401)",
                Quote(*invocation.login.user).c_str());
        return kExitLogin;
      }
      if (transfer.code == 401) {
        ::warnx("the server asks for a login: use --user or ~/.netrc");
        return kExitLogin;
      }
      ::warnx("%s answered with HTTP status %s, not with the program's answer",
              url, code.c_str());
      return kExitServerFailed;
    case Fault::kCutShort:
      ::warnx(
          "the answer was cut short: %s%s; the command may have been carried "
          "out or not",
          transfer.detail.c_str(),
          *program ? "" : (" (curl error " + code + ")").c_str());
      return kExitServerFailed;
    case Fault::kKilled:
      ::warnx("%s was killed by signal %s (%s)%s", program, code.c_str(),
              ::strsignal(static_cast<int>(transfer.code)),
              transfer.answer.empty() ? " before it answered"
                                      : ": its answer may be cut short");
      return kExitServerFailed;
    case Fault::kExited:
      // A failure ("fs") ends the program with status 1: that is its
      // answer, read as any other.
      if (answer.status == Status::kFailed) return kExitDone;
      ::warnx("%s exited with status %s%s", program, code.c_str(),
              transfer.answer.empty() ? " without an answer"
                                      : ": its answer may be cut short");
      return kExitServerFailed;
  }
  return kExitServerFailed;
}

// Sends `body` and reads the answer: on "s" the payload is left in `payload`
// and the result is kExitDone; otherwise what happened is said on standard
// error (`refusal` says what "s!" means here; empty: nothing is said) and
// its exit status returned.
// Sends `body` to the server or the program, and reads its answer.
Transfer Send(const Invocation& invocation, const std::string& body,
              Answer& answer) {
  bool local = !invocation.local.empty();
  Transfer transfer =
      local ? RunProgram(invocation.local, body, invocation.settings)
            : Post(invocation, body);
  answer =
      local ? ReadProgramOutput(transfer.answer) : ReadAnswer(transfer.answer);
  return transfer;
}

int Exchange(const Invocation& invocation, const std::string& body,
             const std::string& refusal, std::string& payload,
             std::string_view failure_hint = {}) {
  // The program takes body lengths that fit a signed 32-bit integer.
  if (body.size() >= INT32_MAX) return Reject("the request is too big");
  bool local = !invocation.local.empty();
  Answer answer;
  Transfer transfer = Send(invocation, body, answer);
  if (int status = TransferStatus(invocation, transfer, answer);
      status != kExitDone) {
    return status;
  }
  switch (answer.status) {
    case Status::kDone: payload.assign(answer.text); return kExitDone;
    case Status::kRefused:
      if (!refusal.empty()) ::warnx("refused: %s", refusal.c_str());
      return kExitRefused;
    case Status::kFailed:
      ::warnx("the server failed: %.*s%s", static_cast<int>(answer.text.size()),
              answer.text.data(), std::string(failure_hint).c_str());
      return kExitServerFailed;
    case Status::kUnexpected: break;
  }
  if (local && !transfer.answer.starts_with(kHeader)) {
    ::warnx("%s does not answer as talvenplan.cgi: its output %s",
            invocation.local.c_str(),
            transfer.answer.empty() ? "is empty"
                                    : ("begins " + Quote(answer.text)).c_str());
  } else if (answer.text.empty()) {
    ::warnx("the server sent an empty answer");
  } else {
    ::warnx("the server's answer is not one of talvenplan.cgi's: %s",
            Quote(answer.text).c_str());
  }
  return kExitServerFailed;
}

// The key as a refusal names it: a key that came from a file, standard
// input or the environment stays out of messages, which end up in logs.
std::string KeyText(const Invocation& invocation) {
  if (invocation.key_hidden) return "the key given";
  return Quote(
      invocation.args[static_cast<std::size_t>(invocation.command->key)]);
}

// The checks shared by get, put and remove.
std::string DatabaseProblem(const Invocation& invocation) {
  std::string problem = DirectoryProblem(invocation.args[0]);
  if (problem.empty()) problem = NameProblem(invocation.args[1], "name");
  if (problem.empty()) problem = KeyProblem(invocation.args[2]);
  return problem;
}

// A list request, asking for the logins with --by.
std::string ListBody(const Invocation& invocation, const std::string& dir) {
  return BuildBody('l', dir, {}, {},
                   invocation.by ? std::string(kListByWord) + "\n" : "");
}

// A listed line split at its last tab: the name, and the login the server
// sent percent-encoded (none from a server that sends none).
std::pair<std::string, std::string> NameAndLogin(const std::string& line) {
  std::size_t tab = line.rfind('\t');
  if (tab == line.npos) return {line, ""};
  return {line.substr(0, tab), line.substr(tab + 1)};
}

// A login for the terminal: decoded, but a control byte stays encoded so
// that it never breaks the line it is printed in.
std::string ShownLogin(const std::string& encoded) {
  std::string shown;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    int high = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
    int low = high >= 0 ? HexValue(encoded[i + 2]) : -1;
    int value = high * 16 + low;
    if (encoded[i] == '%' && low >= 0 && value >= 0x20 && value != 0x7f) {
      shown += static_cast<char>(value);
      i += 2;
    } else {
      shown += encoded[i];
    }
  }
  return shown;
}

int RunList(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  if (std::string problem = DirectoryProblem(directory); !problem.empty()) {
    return Reject(problem);
  }
  std::string payload;
  int status =
      Exchange(invocation, ListBody(invocation, directory),
               "the server would not list " + Quote(directory), payload);
  if (status != kExitDone || !invocation.by) {
    return status == kExitDone ? Print(payload) : status;
  }
  std::string out;
  for (std::size_t at = 0, end; (end = payload.find('\n', at)) != payload.npos;
       at = end + 1) {
    if (end == at) continue;
    auto [name, login] = NameAndLogin(payload.substr(at, end - at));
    out += name + "\t" + ShownLogin(login) + "\n";
  }
  return Print(out.empty() ? "\n" : out);
}

int RunCreate(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  std::string problem = DirectoryProblem(directory);
  if (problem.empty()) problem = CreateNameProblem(name);
  if (problem.empty()) problem = KeyProblem(invocation.args[2]);
  if (!problem.empty()) return Reject(problem);
  std::string payload;
  return Exchange(
      invocation, BuildBody('c', directory, invocation.args[2], name),
      Quote(name) + " already exists in " + Quote(directory), payload);
}

// The directory that keeps the versions of `name` in `directory`.
std::string VersionsOf(const std::string& directory, const std::string& name) {
  return directory + (directory.ends_with('/') ? "" : "/") + kVersionsDir +
         (name.empty() ? "" : "/" + name);
}

// What the server says when a database has no versions directory.
std::string NoVersions(const std::string& name) {
  return " (no versions of " + Quote(name) +
         ": the server keeps none (TALVEN_VERSIONS), or it was never replaced "
         "or removed)";
}

// The lines of a listing, sorted: names as the server lists them come in
// the directory's own order.
std::vector<std::string> SortedLines(const std::string& payload) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = payload.find('\n', at)) != payload.npos;
       at = end + 1) {
    if (end > at) lines.push_back(payload.substr(at, end - at));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Whether `entry` of a versions directory holds versions of `name`: its own
// history, or the shelf of one of its removals ("NAME STAMP").
bool IsHistoryOf(const std::string& entry, const std::string& name) {
  if (entry == name) return true;
  return entry.size() == name.size() + 1 + kStampSize &&
         entry.starts_with(name + " ") &&
         ParseStamp(std::string_view(entry).substr(name.size() + 1)) >= 0;
}

// A version: its stamp, the directory that holds it, and with --by the
// login that saved it, percent-encoded.
struct Version {
  std::string stamp, history, by;
  auto operator<=>(const Version&) const = default;
};

// Every version of `name` in `directory`, its own history's and its removed
// predecessors', oldest first. Nothing, and no failure, when the server keeps
// none.
int FindVersions(const Invocation& invocation, std::vector<Version>& versions) {
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  // A server that keeps no versions fails to list them: that says nothing
  // here, and the request that follows tells what went wrong, if anything.
  Answer answer;  // its text points into the transfer's answer
  Transfer listed =
      Send(invocation, BuildBody('l', VersionsOf(directory, "")), answer);
  if (answer.status != Status::kDone) return kExitDone;
  std::string payload(answer.text);
  for (const std::string& entry : SortedLines(payload)) {
    if (!IsHistoryOf(entry, name)) continue;
    std::string history = VersionsOf(directory, entry);
    int status = Exchange(invocation, ListBody(invocation, history),
                          "the server would not list the versions", payload);
    if (status != kExitDone) return status;
    for (const std::string& line : SortedLines(payload)) {
      auto [stamp, login] = NameAndLogin(line);
      if (ParseStamp(stamp) >= 0) versions.push_back({stamp, history, login});
    }
  }
  std::sort(versions.begin(), versions.end());
  return kExitDone;
}

// Gets the database, or with `stamp` its version of that name, whole, into
// `payload` as get answers it.
int GetDatabase(const Invocation& invocation, const std::string& stamp,
                std::string& payload) {
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  const std::string& key = invocation.args[2];
  if (stamp.empty()) {
    return Exchange(invocation, BuildBody('g', directory, key, name),
                    "there is no database " + Quote(name) + " in " +
                        Quote(directory) + ", or " + KeyText(invocation) +
                        " is not its key",
                    payload);
  }
  if (ParseStamp(stamp) < 0) {
    return Reject(Quote(stamp) +
                  " is not a version's name (such as 20261209T045512.123456Z)");
  }
  // The version may be in the history of a removed list of that name.
  std::vector<Version> versions;
  if (int status = FindVersions(invocation, versions); status != kExitDone) {
    return status;
  }
  std::string history = VersionsOf(directory, name);
  for (const Version& version : versions) {
    if (version.stamp == stamp) history = version.history;
  }
  return Exchange(invocation, BuildBody('g', history, key, stamp),
                  "there is no version " + Quote(stamp) + " of " + Quote(name) +
                      ", or " + KeyText(invocation) + " is not the key it had",
                  payload, NoVersions(name));
}

int RunGet(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& name = invocation.args[1];
  std::string payload;
  int status = GetDatabase(invocation, invocation.version, payload);
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
  if (int status = ReadText(invocation, 3, PutTextProblem, text);
      status != kExitDone) {
    return status;
  }
  std::string payload;
  int status = Exchange(
      invocation, BuildBody('p', invocation.args[0], key, name, text),
      KeyText(invocation) + " is not the key of " + Quote(name), payload);
  if (status == kExitDone && name.starts_with("DEMO_")) {
    ::warnx(
        "note: the server never changes databases whose names begin with "
        "DEMO_, so %s is as it was",
        Quote(name).c_str());
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
  return Exchange(invocation, BuildBody('r', invocation.args[0], key, name),
                  KeyText(invocation) + " is not the key of " + Quote(name),
                  payload);
}

int RunVersions(const Invocation& invocation) {
  const std::string& directory = invocation.args[0];
  std::string name = invocation.args.size() > 1 ? invocation.args[1] : "";
  std::string problem = DirectoryProblem(directory);
  if (problem.empty() && !name.empty()) problem = NameProblem(name, "name");
  if (!problem.empty()) return Reject(problem);
  // A list's versions: its own, and those of the lists removed under its
  // name before it, which the server keeps apart.
  if (!name.empty()) {
    std::vector<Version> versions;
    if (int status = FindVersions(invocation, versions); status != kExitDone) {
      return status;
    }
    if (!versions.empty()) {
      std::string out;
      for (const Version& version : versions) {
        out += version.stamp;
        if (invocation.by) out += "\t" + ShownLogin(version.by);
        out += "\n";
      }
      return Print(out);
    }
  }
  std::string payload;
  int status = Exchange(
      invocation, BuildBody('l', VersionsOf(directory, name)),
      "the server would not list the versions", payload,
      name.empty() ? " (no versions in " + Quote(directory) +
                         ": the server keeps none (TALVEN_VERSIONS), or no "
                         "list there was ever replaced or removed)"
                   : NoVersions(name));
  if (status != kExitDone) return status;
  // Lists, and the removed lists each shown with the time of its removal.
  std::string sorted;
  for (const std::string& line : SortedLines(payload)) sorted += line + "\n";
  return Print(sorted);
}

// Puts a version back: its bytes become the database's content, and what
// the database held becomes a version in turn. A removed database is made
// again first.
int RunRestore(const Invocation& invocation) {
  if (std::string problem = DatabaseProblem(invocation); !problem.empty()) {
    return Reject(problem);
  }
  const std::string& directory = invocation.args[0];
  const std::string& name = invocation.args[1];
  const std::string& key = invocation.args[2];
  std::string payload;
  int status = GetDatabase(invocation, invocation.args[3], payload);
  if (status != kExitDone) return status;
  std::optional<std::string> file = DatabaseFromGet(payload);
  if (!file) {
    return Reject(
        "the key line of that version ends in blanks or a carriage "
        "return within its first 8 bytes, and the server trims "
        "them: it cannot be put back whole (get it with --version "
        "to see it)");
  }
  // A removed database is made again; one that is there refuses the
  // create, which says nothing here.
  status =
      Exchange(invocation, BuildBody('c', directory, key, name), "", payload);
  if (status != kExitDone && status != kExitRefused) return status;
  return Exchange(invocation, BuildBody('p', directory, key, name, *file),
                  KeyText(invocation) + " is not the key of " + Quote(name),
                  payload);
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
  // The key field carries the factor's name.
  int status =
      Exchange(invocation, BuildBody('q', directory, factor, name),
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
  std::string error;
  // Nothing is staged for a link that could not be made.
  if (invocation.local.empty() &&
      OfferLink(invocation.url, "", error).empty()) {
    return Reject("can't make links on " + invocation.url + ": " + error);
  }
  std::string text;
  if (int status = ReadText(invocation, 1, OfferTextProblem, text);
      status != kExitDone) {
    return status;
  }
  std::string name;
  int status = Exchange(invocation, BuildBody('s', directory, {}, {}, text),
                        "the server would not store the offer", name);
  if (status != kExitDone) return status;
  if (!IsOfferName(name)) {
    ::warnx("the server's answer is not an offer file name: %s",
            Quote(name).c_str());
    return kExitServerFailed;
  }
  std::string query = OfferLinkQuery(name, directory);
  if (!invocation.local.empty()) return Print(query + "\n");
  return Print(OfferLink(invocation.url, query, error) + "\n");
}

int RunLink(const Invocation& invocation) {
  const std::string& name = invocation.args[0];
  const std::string& directory = invocation.args[1];
  if (name.empty() || directory.empty()) {
    return Reject("the offer file name and the directory must not be empty");
  }
  return Print(OfferLinkQuery(name, directory) + "\n");
}

constexpr Command kCommands[] = {
    {"list", 1, 1, kNone, kNone, true, "DIR",
     "list the databases in the directory DIR;\n"
     "--by: each with who saved it, after a tab",
     RunList},
    {"create", 3, 3, 2, kNone, true, "DIR NAME KEY",
     "create the database NAME, guarded by KEY", RunCreate},
    {"get", 3, 3, 2, kNone, true, "DIR NAME KEY [-o FILE]",
     "print the database, or write it to FILE\n"
     "as a file that put can send back;\n"
     "--version STAMP: that version of it",
     RunGet},
    {"put", 3, 4, 2, 3, true, "DIR NAME KEY [FILE|-]",
     "replace the database with FILE or\n"
     "standard input; its first line is the key",
     RunPut},
    {"remove", 3, 3, 2, kNone, true, "DIR NAME KEY", "remove the database",
     RunRemove},
    {"versions", 1, 2, kNone, kNone, true, "DIR [NAME]",
     "list the versions kept of NAME, oldest\n"
     "first; without NAME, the names that have\n"
     "versions, removed ones included;\n"
     "--by: each with who saved it, after a tab",
     RunVersions},
    {"restore", 4, 4, 2, kNone, true, "DIR NAME KEY STAMP",
     "put the version STAMP back (KEY: the key\n"
     "it had); what NAME held becomes a version,\n"
     "and a removed NAME is made again",
     RunRestore},
    {"query", 3, 3, kNone, kNone, true, "DIR NAME FACTOR",
     "print the price section, every price\n"
     "multiplied by the database's FACTOR",
     RunQuery},
    {"offer", 1, 2, kNone, 1, true, "DIR [FILE|-]",
     "stage an offer text (HTML) and print the\n"
     "link that shows it once",
     RunOffer},
    {"link", 2, 2, kNone, kNone, false, "NAME DIR",
     "print the query string of the offer link\n"
     "for the offer file NAME in DIR",
     RunLink},
};

const char kOptionsAndStatuses[] =
    "\n"
    "Options:\n"
    "  --url URL        the program's URL, for example\n"
    "                   https://shop.example/cgi-bin/talvenplan.cgi\n"
    "                   (default: the environment variable TALVENPLAN_URL)\n"
    "  --local PATH     run the program PATH directly, as a web server would,\n"
    "                   with TALVEN_ROOT and TALVEN_VERSIONS from the\n"
    "                   environment, else for the installed program from\n"
    "                   /etc/default/talvenplan. offer then prints the\n"
    "                   link's query string only.\n"
    "  -u, --user USER[:PASSWORD]\n"
    "                   log in to the web server as USER; without a\n"
    "                   password, take it from --password-file, else\n"
    "                   TALVENPLAN_PASSWORD, else ask on the terminal\n"
    "  --password-file FILE\n"
    "                   read the password of --user USER from the first\n"
    "                   line of FILE (- for standard input)\n"
    "  --netrc-file FILE\n"
    "                   take logins from FILE instead of ~/.netrc\n"
    "  --key-file FILE  read the key from the first line of FILE (- for\n"
    "                   standard input); give - as KEY. A KEY of - without\n"
    "                   --key-file takes TALVENPLAN_KEY, else standard input\n"
    "  -o, --output FILE\n"
    "                   get: write the database to FILE\n"
    "  --version STAMP  get: the version STAMP (see versions)\n"
    "  --by             list, versions: who saved each (the web server's\n"
    "                   login), after a tab; nothing after it where none\n"
    "  -h, --help       print this help\n"
    "\n"
    "A key or password given as an argument shows in ps and in the shell's\n"
    "history: give it from a file, standard input or the environment.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the server failed (its message is printed), or no whole answer\n"
    "     came: an HTTP status other than 200, an answer cut short, or the\n"
    "     program killed by a signal or ended with a status other than 0\n"
    "  2  usage error, an argument the protocol cannot carry, a local file\n"
    "     error, a database get -o cannot give back whole, or the server\n"
    "     could not be reached or run\n"
    "  3  refused: no such database, wrong key, unknown factor, or the\n"
    "     name is already taken\n"
    "  4  the server asks for a login (HTTP status 401) or refused the one\n"
    "     given: use --user or ~/.netrc\n";

// Long options without a short form.
enum { kUrl = 256, kLocal, kNetrcFile, kVersion, kKeyFile, kPasswordFile, kBy };

const option kOptions[] = {
    {"url", required_argument, nullptr, kUrl},
    {"local", required_argument, nullptr, kLocal},
    {"user", required_argument, nullptr, 'u'},
    {"netrc-file", required_argument, nullptr, kNetrcFile},
    {"key-file", required_argument, nullptr, kKeyFile},
    {"password-file", required_argument, nullptr, kPasswordFile},
    {"output", required_argument, nullptr, 'o'},
    {"version", required_argument, nullptr, kVersion},
    {"by", no_argument, nullptr, kBy},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// Where the key and password come from, once the command line is known to
// be fine: a KEY of "-" from --key-file, else TALVENPLAN_KEY, else standard
// input; the password of --user USER from --password-file, else
// TALVENPLAN_PASSWORD. Standard input can give only one of them and the
// text: two readers would each see a part.
void TakeSecrets(const Environment& env, Invocation& invocation) {
  const Command& command = *invocation.command;
  if (command.key != kNone) {
    std::string& key = invocation.args[static_cast<std::size_t>(command.key)];
    invocation.key_hidden = key == "-";
    if (key == "-" && invocation.key_file.empty()) {
      if (IsSet(env.key)) {
        key = env.key;
      } else {
        invocation.key_file = "-";
      }
    }
  }
  if (invocation.login.user && !invocation.login.password &&
      invocation.password_file.empty() && IsSet(env.password)) {
    invocation.login.password = env.password;
  }
  std::vector<std::string> readers;
  if (invocation.key_file == "-") readers.push_back("the key");
  if (invocation.password_file == "-") readers.push_back("the password");
  if (command.text != kNone) {
    const auto text = static_cast<std::size_t>(command.text);
    if (invocation.args.size() <= text || invocation.args[text] == "-") {
      readers.push_back("the text");
    }
  }
  if (readers.size() < 2) return;
  const bool two = readers.size() == 2;
  std::string which = readers[0];
  for (std::size_t i = 1; i < readers.size(); ++i) {
    which += (i + 1 == readers.size() ? " and " : ", ") + readers[i];
  }
  invocation.error =
      which + (two ? " would both" : " would all") +
      " come from standard input, which can give only one of them: give " +
      (two ? "the other from a file" : "the others from files");
}

// Whether `path` is the installed program, under any name.
bool IsInstalledProgram(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> given(
      ::realpath(path.c_str(), nullptr), ::free);
  std::unique_ptr<char, decltype(&::free)> installed(
      ::realpath(kInstalledProgram, nullptr), ::free);
  return given && installed && ::strcmp(given.get(), installed.get()) == 0;
}

// The server's settings for --local, as the web server configurations give
// them to the program: from the client's environment, and for the
// installed program, what that leaves unset from the package's settings
// file, as the package's own scripts read it. A file that is not there or
// cannot be read is passed over, as those scripts pass it over.
std::string ReadServerSettings(Invocation& invocation) {
  std::map<std::string, std::string> environment, file;
  for (std::string_view setting : kServerSettings) {
    std::string name(setting);
    if (const char* value = ::getenv(name.c_str())) environment[name] = value;
  }
  Fd settings;
  if (environment.size() < std::size(kServerSettings) &&
      IsInstalledProgram(invocation.local)) {
    settings = Fd(::open(kSettingsFile, O_RDONLY | O_CLOEXEC));
  }
  if (settings) {
    std::string text;
    char block[4096];
    for (long got;
         (got = ReadSome(settings.get(), block, sizeof block)) != 0;) {
      if (got < 0) {
        return std::string("can't read ") + kSettingsFile + ": " +
               ::strerror(errno);
      }
      text.append(block, static_cast<std::size_t>(got));
    }
    if (std::string problem = ReadSettings(text, file); !problem.empty()) {
      return std::string("can't use ") + kSettingsFile + ": " + problem;
    }
  }
  invocation.settings = ProgramSettings(environment, file);
  return {};
}

// Keeps the value of the option `c`.
void SetOption(int c, std::string value, Invocation& invocation) {
  switch (c) {
    case kUrl: invocation.url = value; break;
    case kLocal: invocation.local = value; break;
    case 'o': invocation.output = value; break;
    case kVersion: invocation.version = value; break;
    case kNetrcFile: invocation.login.netrc_file = value; break;
    case kKeyFile: invocation.key_file = value; break;
    case kPasswordFile: invocation.password_file = value; break;
    case 'u':
      // As curl reads it: the user up to the first colon, the password
      // after it.
      if (std::size_t colon = value.find(':'); colon != std::string::npos) {
        invocation.login.password = value.substr(colon + 1);
        value.resize(colon);
      }
      invocation.login.user = value;
      break;
  }
}

// Reads the options into `invocation`, leaving ::optind at the first word
// that is not one. Returns what is wrong with them, or an empty string.
std::string ReadOptions(int argc, char** argv, Invocation& invocation,
                        bool& help) {
  ::opterr = 0;  // messages of our own, with the hint to --help
  ::optind = 0;  // start afresh, as every call reads a new command line
  for (int c, index = -1;
       (c = ::getopt_long(argc, argv, ":hu:o:", kOptions, &index)) != -1;
       index = -1) {
    std::string name = ::optopt > 0 && ::optopt < 256
                           ? std::string("-") + static_cast<char>(::optopt)
                           : std::string(argv[::optind - 1]);
    if (c == '?') return "unknown option " + name;
    if (c == ':') return name + " needs a value";
    if (c == 'h') {
      help = true;
      continue;
    }
    if (c == kBy) {
      invocation.by = true;
      continue;
    }
    if (*::optarg == '\0') {
      // As given: "-o" and its value may be one word or two.
      return (index >= 0 ? "--" + std::string(kOptions[index].name)
                         : "-" + std::string(1, static_cast<char>(c))) +
             " needs a value, not an empty one";
    }
    SetOption(c, ::optarg, invocation);
  }
  return {};
}

// Options that do not go together, or not with the command: the first
// that applies is the problem. Until the server's URL is filled in from the
// environment, a URL is one given by --url.
struct Conflict {
  bool (*applies)(const Invocation&);
  std::string_view problem;
};

bool IsGet(const Invocation& i) { return i.command->run == RunGet; }

constexpr Conflict kConflicts[] = {
    {[](const Invocation& i) { return !i.output.empty() && !IsGet(i); },
     "-o is for get only"},
    {[](const Invocation& i) { return !i.version.empty() && !IsGet(i); },
     "--version is for get only"},
    {[](const Invocation& i) {
       return i.by && i.command->run != RunList &&
              i.command->run != RunVersions;
     },
     "--by is for list and versions only"},
    {[](const Invocation& i) { return !i.url.empty() && !i.local.empty(); },
     "give either --url or --local, not both"},
    {[](const Invocation& i) {
       return !i.local.empty() && (i.login.user || !i.login.netrc_file.empty());
     },
     "--user and --netrc-file log in to a web server, not --local"},
    {[](const Invocation& i) {
       return !i.password_file.empty() && !i.login.user;
     },
     "--password-file gives the password of --user USER"},
    {[](const Invocation& i) {
       return !i.password_file.empty() && i.login.password;
     },
     "give the password after --user USER: or with --password-file, not "
     "both"},
    {[](const Invocation& i) {
       return !i.key_file.empty() && i.command->key == kNone;
     },
     "--key-file is for commands that take a KEY"},
    {[](const Invocation& i) {
       return !i.key_file.empty() &&
              i.args[static_cast<std::size_t>(i.command->key)] != "-";
     },
     "with --key-file, give - as KEY"},
};

// What is wrong with a command and its options, or an empty string. Fills
// in the server's URL from the environment where none was given.
std::string InvocationProblem(const Environment& env, Invocation& invocation) {
  const Command& command = *invocation.command;
  const std::size_t count = invocation.args.size();
  if (count < command.least || count > command.most) {
    std::string problem =
        "wrong number of arguments for " + std::string(command.name);
    if (!invocation.key_file.empty() && command.key != kNone) {
      problem += " (with --key-file, give - as KEY)";
    }
    return problem;
  }
  for (const Conflict& conflict : kConflicts) {
    if (conflict.applies(invocation)) return std::string(conflict.problem);
  }
  const std::string& netrc = invocation.login.netrc_file;
  if (!netrc.empty() && ::access(netrc.c_str(), R_OK) != 0) {
    return "can't read " + netrc + ": " + ::strerror(errno);
  }
  if (command.sends && invocation.url.empty() && invocation.local.empty()) {
    if (!IsSet(env.url)) {
      return "no server: give --url URL, set TALVENPLAN_URL, or use --local "
             "PATH";
    }
    invocation.url = env.url;
  }
  return {};
}

}  // namespace

std::string Usage() {
  constexpr std::size_t kColumn = 30;
  std::string text =
      "usage: talvenplan-client [OPTIONS] COMMAND ARGUMENTS\n\nCommands:\n";
  for (const Command& command : kCommands) {
    std::string line =
        "  " + std::string(command.name) + " " + std::string(command.usage);
    line.resize(kColumn - 2, ' ');
    text += line + "  ";
    for (char c : command.does) {
      text += c;
      if (c == '\n') text += std::string(kColumn, ' ');
    }
    text += '\n';
  }
  return text + kOptionsAndStatuses;
}

Invocation ParseArguments(int argc, char** argv, const Environment& env) {
  Invocation result;
  bool help = false;
  result.error = ReadOptions(argc, argv, result, help);
  if (!result.error.empty()) return result;
  std::vector<std::string_view> words(argv + ::optind, argv + argc);
  if (help) {
    // A help request that also names a command runs neither: a key or name
    // "-h" must not look like a success.
    if (!words.empty()) {
      result.error =
          "--help stands alone (put -- before arguments that begin with -)";
    }
    return result;
  }
  if (words.empty()) {
    result.error = "no command given";
    return result;
  }
  for (const Command& command : kCommands) {
    if (command.name == words[0]) result.command = &command;
  }
  if (result.command == nullptr) {
    result.error = "unknown command " + std::string(words[0]);
    return result;
  }
  result.args.assign(words.begin() + 1, words.end());
  result.error = InvocationProblem(env, result);
  if (result.error.empty()) TakeSecrets(env, result);
  return result;
}

int Run(Invocation invocation) {
  if (invocation.command == nullptr) return Print(Usage());
  if (!invocation.key_file.empty()) {
    std::string& key =
        invocation.args[static_cast<std::size_t>(invocation.command->key)];
    if (std::string problem = ReadSecret(invocation.key_file, "key", key);
        !problem.empty()) {
      return Reject(problem);
    }
  }
  if (!invocation.password_file.empty()) {
    std::string password;
    if (std::string problem =
            ReadSecret(invocation.password_file, "password", password);
        !problem.empty()) {
      return Reject(problem);
    }
    invocation.login.password = password;
  }
  if (!invocation.local.empty()) {
    if (std::string problem = ReadServerSettings(invocation);
        !problem.empty()) {
      return Reject(problem);
    }
  }
  return invocation.command->run(invocation);
}

}  // namespace talvenplan::client
