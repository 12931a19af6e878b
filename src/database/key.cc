#include "database/key.h"

#include <cstring>

#include "io/beneath.h"
#include "protocol/bytes.h"

namespace talvenplan {

bool NameLeavesDirectory(const Request& request, const Root& root) {
  return root.confined && request.name.find('/') != std::string_view::npos;
}

OpenFile OpenDatabase(const Request& request, const Context& context) {
  if (NameLeavesDirectory(request, context.root)) return {};
  return OpenRegularBeneath(context.root, request.name.data());
}

OpenFile OpenDatabaseAt(const Request& request, const Context& context,
                        Place& place) {
  if (NameLeavesDirectory(request, context.root)) return {};
  return OpenAtPlace(context.root, request.name.data(), place);
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

Answered CheckRequestKey(const Request& request, const Context& context,
                         KeyedDatabase& db, Output& out) {
  db.reader = LineReader(db.file.fd.get(), context.lines);
  db.check = CheckKey(db.reader, request.key);
  switch (db.check.outcome) {
    case KeyCheck::kMatch: return std::nullopt;
    case KeyCheck::kMismatch: return Refuse(out);
    case KeyCheck::kUnreadable: break;
  }
  return Fail(out, Message::kCantReadDatabase);
}

}  // namespace talvenplan
