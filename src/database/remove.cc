#include <fcntl.h>
#include <unistd.h>

#include "database/commands.h"
#include "database/key_check.h"
#include "database/open.h"
#include "request/fd.h"
#include "request/line_reader.h"

namespace talvenplan {

int RunRemove(const Request& request, Output& out) {
  Fd file = OpenDatabase(request, O_RDONLY);
  if (!file) return Fail(out, "can't open database on server");
  LineReader reader(file.get(), request.line_buffer);
  KeyCheckResult check = CheckKey(reader, request.key);
  if (check.outcome != KeyCheck::kMatch) return RefuseKey(check, out);

  file.Close();
  if (::unlink(request.name.data()) != 0) {
    return Fail(out, "can't remove the database");
  }
  out.Write('s');
  return 0;
}

}  // namespace talvenplan
