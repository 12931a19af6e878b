#include "io/line_reader.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "io/fd.h"

namespace talvenplan {

std::string_view LineReader::ReadPiece(std::size_t max) {
  assert(max >= 1 && max <= kMaxPiece);
  std::size_t scanned = 0;  // bytes after begin_ known to hold no newline
  for (;;) {
    std::size_t limit = std::min(end_ - begin_, max);
    const char* start = storage_.data() + begin_;
    if (const void* newline =
            std::memchr(start + scanned, '\n', limit - scanned)) {
      std::size_t size = static_cast<const char*>(newline) - start + 1;
      begin_ += size;
      return {start, size};
    }
    if (limit == max || at_end_) {
      begin_ += limit;
      return {start, limit};
    }
    scanned = limit;
    if (begin_ != 0) {
      std::memmove(storage_.data(), start, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    long got = ReadSome(fd_, storage_.data() + end_, storage_.size() - end_);
    if (got <= 0) {
      at_end_ = true;
      error_ = got < 0;
    } else {
      end_ += static_cast<std::size_t>(got);
    }
  }
}

std::string_view LineReader::TakeBuffered() {
  std::string_view rest(storage_.data() + begin_, end_ - begin_);
  begin_ = end_ = 0;
  return rest;
}

bool LineReader::CopyRestTo(Output& out) {
  out.Write(TakeBuffered());
  while (!out.failed()) {
    long got = ReadSome(fd_, storage_.data(), storage_.size());
    if (got == 0) break;
    if (got < 0) {
      error_ = true;
      return false;
    }
    out.Write(std::string_view(storage_.data(), static_cast<std::size_t>(got)));
  }
  return true;
}

}  // namespace talvenplan
