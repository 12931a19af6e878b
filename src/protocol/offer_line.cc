#include "protocol/offer_line.h"

namespace talvenplan {
namespace {

bool IsKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDate(std::string_view date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!IsDigit(date[i])) return false;
  }
  return true;
}

// Takes `word` off the front of `rest` where it is there.
bool Take(std::string_view& rest, std::string_view word) {
  if (!rest.starts_with(word)) return false;
  rest.remove_prefix(word.size());
  return true;
}

}  // namespace

OfferLine ReadOfferLine(std::string_view line) {
  if (!line.ends_with('\n')) return {};
  line.remove_suffix(1);
  if (line.size() > kOfferLineMax || !line.starts_with(kOfferLineStart) ||
      !line.ends_with(kOfferLineEnd)) {
    return {};
  }
  line =
      line.substr(kOfferLineStart.size(),
                  line.size() - kOfferLineStart.size() - kOfferLineEnd.size());
  std::size_t size = 0;
  while (size < line.size() && IsKeyChar(line[size])) ++size;
  if (size < kOfferKeyMin || size > kOfferKeyMax) return {};
  OfferLine read;
  read.key = line.substr(0, size);
  std::string_view rest = line.substr(size);
  if (Take(rest, " until=")) {
    read.until = rest.substr(0, 10);
    if (!IsDate(read.until)) return {};
    rest.remove_prefix(10);
  }
  read.answer = Take(rest, " answer=1");
  if (!rest.empty()) return {};
  return read;
}

}  // namespace talvenplan
