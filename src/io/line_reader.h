// Reads a file in line pieces, the way a line reader with a fixed-size line
// buffer does: a piece ends after a newline, at the end of the file, or when
// it has reached the size asked for. A longer line comes back in several
// pieces, and every piece counts as a line.
//
// The reader buffers what it reads in storage the caller provides, so it
// allocates nothing. Pieces point into that storage and stay valid until the
// next call.
#ifndef TALVENPLAN_IO_LINE_READER_H_
#define TALVENPLAN_IO_LINE_READER_H_

#include <cassert>
#include <cstddef>
#include <span>
#include <string_view>

#include "io/output.h"

namespace talvenplan {

// The longest piece a line read returns: a 60000-byte line buffer less its
// terminating NUL.
inline constexpr std::size_t kMaxPiece = 59999;

// Storage the program provides once for line reads: more than a piece, so
// that a copy of the rest of a file goes in large blocks.
inline constexpr std::size_t kLineBufferSize = 128 * 1024;

struct LineReader {
  LineReader() = default;
  // `storage` must hold more than `kMaxPiece` bytes.
  LineReader(int fd, std::span<char> storage) : fd_(fd), storage_(storage) {
    assert(storage.size() > kMaxPiece);
  }

  // The next piece of at most `max` bytes (1 <= max <= kMaxPiece), or an
  // empty view at the end of the file. A read error ends the file too; error()
  // tells the two apart.
  std::string_view ReadPiece(std::size_t max = kMaxPiece);

  // Hands over the bytes read from the file but not yet returned as pieces
  // (possibly none); the caller continues with raw reads on the descriptor.
  std::string_view TakeBuffered();

  // Sends the rest of the file to `out` byte for byte: the bytes read ahead,
  // then the file in large blocks through the reader's storage. Stops early
  // once `out` has failed. False when a read error cut the copy short.
  bool CopyRestTo(Output& out);

  bool error() const { return error_; }

 private:
  int fd_ = -1;
  std::span<char> storage_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool error_ = false;
};

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_LINE_READER_H_
