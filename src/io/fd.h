// A move-only owner of a file descriptor, and the few raw I/O loops the
// program needs on top of it.
#ifndef TALVENPLAN_IO_FD_H_
#define TALVENPLAN_IO_FD_H_

#include <cstddef>
#include <string_view>

namespace talvenplan {

struct Fd {
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();
  // Closes now and reports whether the kernel accepted the close. Use it
  // where a failed close means lost data (after writing a file).
  bool Close();

 private:
  int fd_ = -1;
};

// Writes all of `data`, retrying short writes. False on any error.
bool WriteAll(int fd, std::string_view data);

// One read(2), retried on EINTR. Returns the count, 0 at end of file, -1 on
// error.
long ReadSome(int fd, char* buffer, std::size_t size);

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_FD_H_
