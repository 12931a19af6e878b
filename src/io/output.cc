#include "io/output.h"

#include "io/fd.h"

namespace talvenplan {

bool Output::Flush() {
  if (used_ != 0 && !failed_) {
    failed_ = !WriteAll(fd_, {buffer_.data(), used_});
  }
  used_ = 0;
  return !failed_;
}

void Output::WriteSlow(std::string_view data) {
  Flush();
  if (data.size() >= buffer_.size()) {
    // Too big to be worth buffering: send it as it is.
    if (!failed_) failed_ = !WriteAll(fd_, data);
    return;
  }
  Write(data);
}

}  // namespace talvenplan
