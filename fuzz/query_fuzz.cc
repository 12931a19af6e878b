// Runs the price query over arbitrary database files and factor names: the
// answer is "s!" or "s" and the price section, never more lines than the
// file holds plus a newline for a last line that lacked one.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "database/query.h"
#include "io/line_reader.h"
#include "io/output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t name_size =
      data[0] % 10 < size - 1 ? data[0] % 10 : size - 1;
  std::string_view name(reinterpret_cast<const char*>(data) + 1, name_size);
  std::string_view content(name.data() + name_size, size - 1 - name_size);

  static int in = ::memfd_create("database", 0);
  static int out_fd = ::memfd_create("answer", 0);
  static std::vector<char> storage(talvenplan::kLineBufferSize);
  static std::vector<char> out_storage(4096);
  ::ftruncate(in, 0);
  ::pwrite(in, content.data(), content.size(), 0);
  ::lseek(in, 0, SEEK_SET);
  ::ftruncate(out_fd, 0);
  ::lseek(out_fd, 0, SEEK_SET);

  talvenplan::Output out(out_fd, out_storage);
  int status = talvenplan::QueryDatabase(in, name, storage, out);
  if (!out.Flush() || status != 0) std::abort();

  std::string answer(static_cast<std::size_t>(::lseek(out_fd, 0, SEEK_END)),
                     '\0');
  ::pread(out_fd, answer.data(), answer.size(), 0);
  if (answer == "s!") return 0;
  if (answer.empty() || answer[0] != 's') std::abort();
  // Within one line piece, every line of the answer is a line of the file:
  // no more newlines than the file holds, plus one for a last price line
  // that lacked its own.
  if (content.size() <= talvenplan::kMaxPiece) {
    auto lines = [](std::string_view text) {
      return std::count(text.begin(), text.end(), '\n');
    };
    if (lines(answer) > lines(content) + 1) std::abort();
  }
  return 0;
}
