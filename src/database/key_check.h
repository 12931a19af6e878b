// The key check that guards get, put and remove.
//
// A database file's first line holds its key, but only the first 8 bytes of
// that line are ever read back. The stored key is that piece up to its first
// NUL byte, with trailing separator bytes (blanks, control bytes, 0x80-0xFF)
// trimmed; it must equal the request key byte for byte. A longer key is
// therefore reached by its first 8 bytes, and what the piece left unread of
// the key line is read next as a line of its own.
#ifndef TALVENPLAN_DATABASE_KEY_CHECK_H_
#define TALVENPLAN_DATABASE_KEY_CHECK_H_

#include <cstddef>
#include <string_view>

#include "request/line_reader.h"
#include "request/output.h"

namespace talvenplan {

// The most bytes of the key line the check reads.
inline constexpr std::size_t kKeyPieceSize = 8;

enum class KeyCheck {
  kMatch,
  kMismatch,
  kUnreadable,  // nothing could be read: an empty file or a read error
};

struct KeyCheckResult {
  KeyCheck outcome = KeyCheck::kUnreadable;
  char stored[kKeyPieceSize] = {};
  std::size_t stored_size = 0;

  // The stored key as trimmed (empty when unreadable).
  std::string_view stored_key() const { return {stored, stored_size}; }
};

// Reads the key piece from `reader`, which stands at the start of the file,
// and compares it with `request_key`. Afterwards the reader stands right
// after the piece: at the start of the second line for a key line of up to 7
// bytes.
KeyCheckResult CheckKey(LineReader& reader, std::string_view request_key);

// Answers a key check that did not match, the same way for every guarded
// command: "fscan't read database on server" when the key line could not be
// read (exit status 1), "s!" when the key differs. Returns the exit status.
int RefuseKey(const KeyCheckResult& check, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_KEY_CHECK_H_
