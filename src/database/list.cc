#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "database/commands.h"
#include "request/fd.h"

namespace talvenplan {

int RunList(const Request& request, Output& out) {
  Fd directory(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory) return Fail(out, "can't open directory on server");
  out.Write("s");

  // Entries come in the directory's own order; names that begin with "."
  // (".", "..", hidden files and pending offers) are passed over. A read
  // error ends the list like its end does.
  bool listed_any = false;
  char* entries = request.line_buffer.data();
  for (;;) {
    ssize_t size =
        ::getdents64(directory.get(), entries, request.line_buffer.size());
    if (size <= 0) break;
    for (ssize_t at = 0; at < size;) {
      const auto* entry =
          reinterpret_cast<const struct dirent64*>(entries + at);
      at += entry->d_reclen;
      if (entry->d_name[0] == '.') continue;
      out.Write(std::string_view(entry->d_name));
      out.Write('\n');
      listed_any = true;
    }
  }
  if (!listed_any) out.Write('\n');
  return 0;
}

}  // namespace talvenplan
