// Runs the key check over arbitrary files and keys: the stored key is at
// most 8 bytes of the file's start, and what the check leaves unread is
// exactly the rest of the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "database/key.h"
#include "io/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t key_size =
      data[0] % 12 < size - 1 ? data[0] % 12 : size - 1;
  std::string_view key(reinterpret_cast<const char*>(data) + 1, key_size);
  std::string_view content(key.data() + key_size, size - 1 - key_size);

  static int fd = ::memfd_create("database", 0);
  static std::vector<char> storage(talvenplan::kLineBufferSize);
  ::ftruncate(fd, 0);
  ::pwrite(fd, content.data(), content.size(), 0);
  ::lseek(fd, 0, SEEK_SET);

  talvenplan::LineReader reader(fd, storage);
  talvenplan::KeyCheckResult check = talvenplan::CheckKey(reader, key);
  std::string_view stored = check.stored_key();
  if (stored.size() > 8 || !content.starts_with(stored)) std::abort();
  if (check.outcome == talvenplan::KeyCheck::kUnreadable) {
    if (!content.empty()) std::abort();
    return 0;
  }
  if ((check.outcome == talvenplan::KeyCheck::kMatch) != (stored == key)) {
    std::abort();
  }

  std::string rest(reader.TakeBuffered());
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    rest.append(buffer, static_cast<std::size_t>(n));
  }
  // The check read one piece: up to 8 bytes, ending early after a newline.
  std::size_t piece = content.size() - rest.size();
  if (piece == 0 || piece > 8 || !content.ends_with(rest)) std::abort();
  if (piece < 8 && piece < content.size() && content[piece - 1] != '\n') {
    std::abort();
  }
  return 0;
}
