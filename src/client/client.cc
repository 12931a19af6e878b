#include "client/client.h"

#include <cstdio>

#include "protocol/bytes.h"
#include "protocol/quote.h"
#include "protocol/wire.h"

namespace talvenplan::client {
namespace {

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

std::string CreateNameProblem(std::string_view name) {
  if (IsOfferName(name)) {
    return "the name " + Quote(name) +
           " has the form of an offer file (\".\" and six letters or "
           "digits), which an offer link could show and delete without the "
           "key: the server does not create such databases";
  }
  if (IsPutTempName(name)) {
    return "the name " + Quote(name) +
           " has the form of a temporary file of a put (\".put-\" and six "
           "letters or digits), which the clean-up deletes: the server does "
           "not create such databases";
  }
  return NameProblem(name, "name");
}

std::string KeyProblem(std::string_view key) {
  if (key.empty()) return "the key is empty";
  for (char c : key) {
    if (c == ' ') return "a key cannot hold a space: it ends the key";
    if (IsLineEnd(c) && static_cast<unsigned char>(c) < 0x80) {
      return "the key holds the control byte " + Byte(c);
    }
  }
  if (key.size() > kKeySize) {
    return "a key has at most " + std::to_string(kKeySize) +
           " bytes: the server compares no more of it";
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
  // The stored key the server will read back: at most kKeySize bytes, up to
  // and including a newline, cut at a NUL, trailing separator bytes trimmed.
  std::string_view piece = text.substr(0, kKeySize);
  if (piece.size() == kKeySize && piece.find('\n') == std::string_view::npos &&
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

Answer ReadAnswer(std::string_view answer) {
  if (answer == kRefused) return {Status::kRefused, {}};
  if (answer.starts_with(kDone)) {
    return {Status::kDone, answer.substr(kDone.size())};
  }
  if (answer.starts_with(kFailed)) {
    return {Status::kFailed, answer.substr(kFailed.size())};
  }
  return {Status::kUnexpected, answer};
}

Answer ReadProgramOutput(std::string_view output) {
  if (!output.starts_with(kHeader)) return {Status::kUnexpected, output};
  return ReadAnswer(output.substr(kHeader.size()));
}

std::optional<std::string> DatabaseFromGet(std::string_view payload) {
  // A stored key never holds a newline, so the first newline is the one get
  // put after the key.
  const std::size_t key_end = payload.find('\n');
  if (key_end == kKeySize) {
    std::string file(payload.substr(0, kKeySize));
    file += payload.substr(kKeySize + 1);
    return file;
  }
  if (key_end == std::string_view::npos) return std::string(payload);
  // A shorter key was either a whole key line, and the factor count follows,
  // or the start of a longer one the key check trimmed, and the rest of that
  // line follows. Only a count tells the first case for sure.
  std::string_view next = payload.substr(key_end + 1);
  next = next.substr(0, next.find('\n'));
  while (!next.empty() && IsSeparator(next.front())) next.remove_prefix(1);
  while (!next.empty() && IsSeparator(next.back())) next.remove_suffix(1);
  if (next.starts_with('-') || next.starts_with('+')) next.remove_prefix(1);
  if (next.empty()) return std::nullopt;
  for (char c : next) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::string(payload);
}

}  // namespace talvenplan::client
