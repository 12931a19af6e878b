#include "database/key.h"

#include <fcntl.h>

#include <cstring>

#include "io/beneath.h"
#include "protocol/bytes.h"
#include "protocol/messages.h"

namespace talvenplan {

bool NameLeavesDirectory(const Request& request) {
  return request.root != nullptr &&
         request.name.find('/') != std::string_view::npos;
}

Fd OpenDatabase(const Request& request) {
  if (NameLeavesDirectory(request)) return Fd();
  return OpenBeneath(request.root, request.name.data(), O_RDONLY);
}

KeyCheckResult CheckKey(LineReader& reader, std::string_view request_key) {
  KeyCheckResult result;
  std::string_view piece = reader.ReadPiece(kKeySize);
  if (piece.empty()) return result;

  // The key ends at a NUL byte, as a C string would.
  std::size_t size = piece.size();
  if (const void* nul = std::memchr(piece.data(), '\0', size)) {
    size =
        static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data());
  }
  while (size > 0 && IsSeparator(piece[size - 1])) --size;

  std::memcpy(result.stored, piece.data(), size);
  result.stored_size = size;
  result.outcome = result.stored_key() == request_key ? KeyCheck::kMatch
                                                      : KeyCheck::kMismatch;
  return result;
}

int OpenKeyed(const Request& request, WhenMissing missing, KeyedDatabase& db,
              Output& out) {
  db.file = OpenDatabase(request);
  if (!db.file) {
    if (missing == WhenMissing::kFail) {
      return Fail(out, Message::kCantOpenDatabase);
    }
    out.Write(kRefused);
    return 0;
  }
  db.reader = LineReader(db.file.get(), request.line_buffer);
  db.check = CheckKey(db.reader, request.key);
  switch (db.check.outcome) {
    case KeyCheck::kMatch: return kKeyMatched;
    case KeyCheck::kMismatch: out.Write(kRefused); return 0;
    case KeyCheck::kUnreadable: break;
  }
  return Fail(out, Message::kCantReadDatabase);
}

}  // namespace talvenplan
