#include "client/client.h"

#include <cstdio>

#include "protocol/bytes.h"
#include "protocol/request.h"

namespace talvenplan::client {
namespace {

// The number of arguments each command takes: at least, at most.
struct Arity {
  std::size_t least;
  std::size_t most;
};

Arity ArityOf(Command command) {
  switch (command) {
    case Command::kHelp:
      return {0, 0};
    case Command::kList:
      return {1, 1};
    case Command::kOffer:
      return {1, 2};
    case Command::kLink:
      return {2, 2};
    case Command::kPut:
      return {3, 4};
    default:
      return {3, 3};
  }
}

bool CommandNamed(std::string_view name, Command& command) {
  constexpr struct {
    std::string_view name;
    Command command;
  } kNames[] = {{"list", Command::kList},     {"create", Command::kCreate},
                {"get", Command::kGet},       {"put", Command::kPut},
                {"remove", Command::kRemove}, {"query", Command::kQuery},
                {"offer", Command::kOffer},   {"link", Command::kLink}};
  for (const auto& entry : kNames) {
    if (entry.name == name) {
      command = entry.command;
      return true;
    }
  }
  return false;
}

// "0x0a (a newline)": a byte as messages name it.
std::string Byte(char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(c));
  std::string text = hex;
  if (c == ' ') text += " (a space)";
  if (c == '\t') text += " (a tab)";
  if (c == '\n') text += " (a newline)";
  if (c == '\r') text += " (a carriage return)";
  if (static_cast<unsigned char>(c) >= 0x80) text += " (not ASCII)";
  return text;
}

}  // namespace

const char kUsage[] =
    "usage: talvenplan-client [--url URL | --local PATH] COMMAND ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  list DIR                    list the databases in the directory DIR\n"
    "  create DIR NAME KEY         create the database NAME, guarded by KEY\n"
    "  get DIR NAME KEY [-o FILE]  print the database, or write it to FILE\n"
    "                              as a file that put can send back\n"
    "  put DIR NAME KEY [FILE|-]   replace the database with FILE or\n"
    "                              standard input; its first line is the key\n"
    "  remove DIR NAME KEY         remove the database\n"
    "  query DIR NAME FACTOR       print the price section, every price\n"
    "                              multiplied by the database's FACTOR\n"
    "  offer DIR [FILE|-]          stage an offer text (HTML) and print the\n"
    "                              link that shows it once\n"
    "  link NAME DIR               print the query string of the offer link\n"
    "                              for the offer file NAME in DIR\n"
    "\n"
    "Server:\n"
    "  --url URL     the program's URL, for example\n"
    "                https://shop.example/cgi-bin/talvenplan.cgi\n"
    "                (default: the environment variable TALVENPLAN_URL)\n"
    "  --local PATH  run the program PATH directly, as a web server would;\n"
    "                only TALVEN_ROOT is passed on from the environment.\n"
    "                offer then prints the link's query string only.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the server failed (its message is printed), or its answer was not\n"
    "     one of the protocol's\n"
    "  2  usage error, an argument the protocol cannot carry, a local file\n"
    "     error, a database get -o cannot give back whole, or the server\n"
    "     could not be reached or run\n"
    "  3  refused: no such database, wrong key, unknown factor, or the\n"
    "     name is already taken\n";

Invocation ParseArguments(std::span<const char* const> args,
                          const char* env_url) {
  Invocation result;
  std::vector<std::string_view> words;
  bool options = true;
  bool named_url = false;
  bool help = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!options || arg == "-" || !arg.starts_with('-')) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--url" || arg == "--local" || arg == "-o") {
      if (i + 1 == args.size()) {
        result.error = std::string(arg) + " needs a value";
        return result;
      }
      std::string value = args[++i];
      if (value.empty()) {
        result.error = std::string(arg) + " needs a value, not an empty one";
        return result;
      }
      if (arg == "--url") {
        result.url = value;
        named_url = true;
      } else if (arg == "--local") {
        result.local = value;
      } else {
        result.output = value;
      }
    } else {
      result.error = "unknown option " + std::string(arg);
      return result;
    }
  }
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
  if (!CommandNamed(words[0], result.command)) {
    result.error = "unknown command " + std::string(words[0]);
    return result;
  }
  result.args.assign(words.begin() + 1, words.end());
  Arity arity = ArityOf(result.command);
  if (result.args.size() < arity.least || result.args.size() > arity.most) {
    result.error = "wrong number of arguments for " + std::string(words[0]);
  } else if (!result.output.empty() && result.command != Command::kGet) {
    result.error = "-o is for get only";
  } else if (named_url && !result.local.empty()) {
    result.error = "give either --url or --local, not both";
  } else if (result.url.empty() && result.local.empty() &&
             result.command != Command::kLink) {
    if (env_url != nullptr && *env_url != '\0') {
      result.url = env_url;
    } else {
      result.error =
          "no server: give --url URL, set TALVENPLAN_URL, or use --local PATH";
    }
  }
  return result;
}

std::string DirectoryProblem(std::string_view directory) {
  if (directory.empty()) return "the directory is empty";
  for (char c : directory) {
    if (IsLineEnd(c)) {
      return "the directory holds the byte " + Byte(c) +
             ", which would end it early";
    }
  }
  return {};
}

std::string NameProblem(std::string_view name, std::string_view what) {
  std::string label(what);
  if (name.empty()) return "the " + label + " is empty";
  for (char c : name) {
    if (IsSeparator(c)) {
      return "the " + label + " holds the byte " + Byte(c) +
             ", which would end it early";
    }
  }
  return {};
}

std::string KeyProblem(std::string_view key) {
  if (key.empty()) return "the key is empty";
  for (char c : key) {
    if (c == ' ') return "a key cannot hold a space: it ends the key";
    if (IsLineEnd(c) && static_cast<unsigned char>(c) < 0x80) {
      return "the key holds the control byte " + Byte(c);
    }
  }
  if (key.size() > 8) {
    return "a key has at most 8 bytes: the server compares no more of it";
  }
  if (IsLineEnd(key.front())) {
    return "a key cannot begin with a byte from 0x80 up: the server skips it";
  }
  if (IsLineEnd(key.back())) {
    return "a key cannot end with a byte from 0x80 up: the server drops it "
           "from the stored key, so it would never match";
  }
  return {};
}

std::string OfferTextProblem(std::string_view text) {
  if (text.empty()) return "the offer text is empty";
  if (IsSeparator(text.front())) {
    return "the offer text begins with the byte " + Byte(text.front()) +
           "; the server drops blank, control and non-ASCII bytes at the "
           "start of an offer, so begin it with a visible character such as "
           "'<'";
  }
  return {};
}

std::string PutTextProblem(std::string_view text) {
  if (text.empty()) {
    return "the text is empty: it would leave an empty database that could "
           "never be read or removed again";
  }
  // The stored key the server will read back: at most 8 bytes, up to and
  // including a newline, cut at a NUL, trailing separator bytes trimmed.
  std::string_view piece = text.substr(0, 8);
  if (piece.size() == 8 && piece.find('\n') == std::string_view::npos &&
      (piece.find('\0') != std::string_view::npos ||
       IsSeparator(piece.back()))) {
    // The key check would trim or cut the key inside a longer key line, and
    // get could no longer show where that line ends: the database would not
    // come back whole.
    return "the text's first line is the new key line, and its first 8 "
           "bytes end in a blank, control or non-ASCII byte or hold a NUL "
           "byte: get could not give the database back whole";
  }
  piece = piece.substr(0, piece.find('\n'));
  piece = piece.substr(0, piece.find('\0'));
  while (!piece.empty() && IsSeparator(piece.back())) piece.remove_suffix(1);
  std::string problem = KeyProblem(piece);
  if (problem.empty()) return {};
  return "the text's first line is the new key line, and its key " +
         Quote(piece) + " could not be sent again (" + problem + ")";
}

std::string ListBody(std::string_view directory) {
  return BuildBody('l', directory);
}

std::string CommandBody(char letter, std::string_view directory,
                        std::string_view key, std::string_view name,
                        std::string_view text) {
  return BuildBody(letter, directory, key, name, text);
}

std::string StoreBody(std::string_view directory, std::string_view text) {
  return BuildBody('s', directory, {}, {}, text);
}

Answer ReadAnswer(std::string_view answer) {
  if (answer == "s!") return {Status::kRefused, {}};
  if (answer.starts_with('s')) return {Status::kDone, answer.substr(1)};
  if (answer.starts_with("fs")) return {Status::kFailed, answer.substr(2)};
  return {Status::kUnexpected, answer};
}

Answer ReadProgramOutput(std::string_view output) {
  if (!output.starts_with(kHeader)) return {Status::kUnexpected, output};
  return ReadAnswer(output.substr(kHeader.size()));
}

std::string Quote(std::string_view bytes) {
  constexpr std::size_t kLongest = 60;
  std::string text = "\"";
  for (char c : bytes.substr(0, kLongest)) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      text += "\\n";
    } else if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      text += hex;
    }
  }
  text += bytes.size() > kLongest ? "\"..." : "\"";
  return text;
}

std::optional<std::string> DatabaseFromGet(std::string_view payload) {
  // A stored key never holds a newline, so the first newline is the one get
  // put after the key.
  const std::size_t key_end = payload.find('\n');
  if (key_end == 8) {
    std::string file(payload.substr(0, 8));
    file += payload.substr(9);
    return file;
  }
  if (key_end == std::string_view::npos) return std::string(payload);
  std::string_view next = payload.substr(key_end + 1);
  next = next.substr(0, next.find('\n'));
  bool blank = true;
  for (char c : next) blank = blank && IsSeparator(c);
  if (blank) return std::nullopt;
  return std::string(payload);
}

}  // namespace talvenplan::client
