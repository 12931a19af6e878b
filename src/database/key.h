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

#include "io/context.h"
#include "io/file.h"
#include "io/line_reader.h"
#include "io/output.h"
#include "io/place.h"
#include "protocol/messages.h"
#include "protocol/request.h"
#include "protocol/wire.h"

namespace talvenplan {

// Under a site's root a database name must stay in the request's directory,
// which was checked: a name holding "/" fails like a file that cannot be
// opened.
bool NameLeavesDirectory(const Request& request, const Root& root);

// Opens the request's file name, relative to the request's directory, for
// reading: get and query read what they open, following a link. Under a
// site's root the file must resolve inside it; one that does not, and
// anything but a regular file, fails like a file that cannot be opened.
OpenFile OpenDatabase(const Request& request, const Context& context);

// Opens the request's database as OpenDatabase does, and finds its place
// (the directory a link led to, and the file's name there), for put and
// remove to change what they opened and nothing else.
OpenFile OpenDatabaseAt(const Request& request, const Context& context,
                        Place& place);

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

// A database open for reading, and its key check.
struct KeyedDatabase {
  OpenFile file;
  LineReader reader;  // after the check: stands right after the key piece
  KeyCheckResult check;
};

// Checks the request's key against the database open in `db.file`. Answers
// "s!" when another key guards it, or fails when its key cannot be read;
// answers nothing when the key matched.
Answered CheckRequestKey(const Request& request, const Context& context,
                         KeyedDatabase& db, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_KEY_H_
