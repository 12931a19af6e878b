#include <fcntl.h>

#include "database/commands.h"
#include "database/key_check.h"
#include "database/open.h"
#include "request/fd.h"
#include "request/line_reader.h"

namespace talvenplan {

int RunGet(const Request& request, Output& out) {
  Fd file = OpenDatabase(request, O_RDONLY);
  if (!file) {
    out.Write("s!");
    return 0;
  }
  LineReader reader(file.get(), request.line_buffer);
  KeyCheckResult check = CheckKey(reader, request.key);
  if (check.outcome != KeyCheck::kMatch) return RefuseKey(check, out);

  out.Write('s');
  out.Write(check.stored_key());
  out.Write('\n');

  // The rest of the file goes out byte for byte: what the key check read
  // ahead, then the file in large blocks. A read error ends the copy like the
  // end of the file does; the answer has begun and cannot be taken back.
  out.Write(reader.TakeBuffered());
  char* block = request.line_buffer.data();
  while (!out.failed()) {
    long got = ReadSome(file.get(), block, request.line_buffer.size());
    if (got <= 0) break;
    out.Write({block, static_cast<std::size_t>(got)});
  }
  return 0;
}

}  // namespace talvenplan
