// Opening the database a request names, and the key check that guards get,
// put and remove.
//
// A database file's first line holds its key, but only the first kKeySize
// bytes of that line are ever read back. The stored key is that piece up to
// its first NUL byte, with trailing separator bytes (blanks, control bytes,
// 0x80-0xFF) trimmed; it must equal the request key byte for byte. A longer
// key is therefore reached by its first bytes, and what the piece left unread
// of the key line is read next as a line of its own.
#ifndef TALVENPLAN_DATABASE_KEY_H_
#define TALVENPLAN_DATABASE_KEY_H_

#include <cstddef>
#include <string_view>

#include "io/fd.h"
#include "io/line_reader.h"
#include "io/output.h"
#include "protocol/request.h"
#include "protocol/wire.h"

namespace talvenplan {

// Under a site's root a database name must stay in the request's directory,
// which was checked: a name holding "/" fails like a file that cannot be
// opened.
bool NameLeavesDirectory(const Request& request);

// Opens the request's file name, relative to the request's directory, for
// reading. Under a site's root the file must resolve inside it; one that
// does not fails like a file that cannot be opened.
Fd OpenDatabase(const Request& request);

enum class KeyCheck {
  kMatch,
  kMismatch,
  kUnreadable,  // nothing could be read: an empty file or a read error
};

struct KeyCheckResult {
  KeyCheck outcome = KeyCheck::kUnreadable;
  char stored[kKeySize] = {};
  std::size_t stored_size = 0;

  // The stored key as trimmed (empty when unreadable).
  std::string_view stored_key() const { return {stored, stored_size}; }
};

// Reads the key piece from `reader`, which stands at the start of the file,
// and compares it with `request_key`. Afterwards the reader stands right
// after the piece: at the start of the second line for a key line of up to
// kKeySize - 1 bytes.
KeyCheckResult CheckKey(LineReader& reader, std::string_view request_key);

// A database opened for reading whose key matched the request's.
struct KeyedDatabase {
  Fd file;
  LineReader reader;  // stands right after the key piece
  KeyCheckResult check;
};

// What a missing database answers: "s!" for get, a failure for put and
// remove.
enum class WhenMissing { kRefuse, kFail };

// OpenKeyed's result when the key matched and the command goes on.
inline constexpr int kKeyMatched = -1;

// Opens the request's database into `db` and checks the key. Returns
// kKeyMatched, or, when the database is missing, unreadable or guarded by
// another key, writes the answer and returns the exit status to end with.
int OpenKeyed(const Request& request, WhenMissing missing, KeyedDatabase& db,
              Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_KEY_H_
