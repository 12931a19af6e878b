#include "database/key_check.h"

#include <cstring>

#include "request/bytes.h"

namespace talvenplan {

KeyCheckResult CheckKey(LineReader& reader, std::string_view request_key) {
  KeyCheckResult result;
  std::string_view piece = reader.ReadPiece(kKeyPieceSize);
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

int RefuseKey(const KeyCheckResult& check, Output& out) {
  if (check.outcome == KeyCheck::kUnreadable) {
    return Fail(out, "can't read database on server");
  }
  out.Write("s!");
  return 0;
}

}  // namespace talvenplan
