// The program's one output path: a buffered writer on standard output.
//
// Everything the program answers goes through one Output. When a write to
// the descriptor fails (a closed pipe, a full disk) the Output remembers it
// and drops everything after, so handlers need not check each write; long
// copies look at failed() to stop early.
#ifndef TALVENPLAN_IO_OUTPUT_H_
#define TALVENPLAN_IO_OUTPUT_H_

#include <cassert>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace talvenplan {

struct Output {
  Output(int fd, std::span<char> buffer) : fd_(fd), buffer_(buffer) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void Write(std::string_view data) {
    if (data.size() <= buffer_.size() - used_) {
      std::memcpy(buffer_.data() + used_, data.data(), data.size());
      used_ += data.size();
    } else {
      WriteSlow(data);
    }
  }
  void Write(char c) {
    if (used_ == buffer_.size()) Flush();
    buffer_[used_++] = c;
  }
  // Room to format into directly: at least `size` bytes (size must not exceed
  // the buffer). Commit what was used with Commit().
  char* Reserve(std::size_t size) {
    assert(size <= buffer_.size());
    if (buffer_.size() - used_ < size) Flush();
    return buffer_.data() + used_;
  }
  void Commit(std::size_t size) { used_ += size; }

  // Sends what is buffered. False once any write has failed.
  bool Flush();
  bool failed() const { return failed_; }

 private:
  void WriteSlow(std::string_view data);

  int fd_;
  std::span<char> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_OUTPUT_H_
