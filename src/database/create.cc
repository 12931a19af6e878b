#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "database/commands.h"
#include "database/open.h"
#include "request/fd.h"

namespace talvenplan {
namespace {

// A new database after its key line: no factors, header lines "0" and "\"\"",
// no prices, two trailing lines.
constexpr std::string_view kNewDatabaseTail = "\n0\n0\n\"\"\n0\n0\n0\n";

}  // namespace

int RunCreate(const Request& request, Output& out) {
  // Exclusive creation: whatever already has the name (a database, any other
  // file, a directory, a dangling link) is left alone, and of two creators
  // racing for one name only one can succeed.
  Fd file = OpenDatabase(request, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (!file) {
    if (errno == EEXIST) {
      out.Write("s!");
      return 0;
    }
    return Fail(out, "can't open database on server");
  }

  // The key goes in in full, though the key check reads back at most its
  // first 8 bytes. The new file must be whole and on disk before "s".
  bool written = WriteAll(file.get(), request.key) &&
                 WriteAll(file.get(), kNewDatabaseTail) &&
                 ::fsync(file.get()) == 0;
  if (!file.Close() || !written) {
    ::unlink(request.name.data());
    return Fail(out, "can't write on database");
  }
  out.Write('s');
  return 0;
}

}  // namespace talvenplan
