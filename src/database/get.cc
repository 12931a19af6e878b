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

  // The rest of the file goes out byte for byte. A read error cuts the
  // answer short after it has begun; the exit status tells the server.
  return reader.CopyRestTo(out) ? 0 : 1;
}

}  // namespace talvenplan
