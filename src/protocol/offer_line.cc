#include "protocol/offer_line.h"

namespace talvenplan {
namespace {

bool IsKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// " until=YYYY-MM-DD", or nothing.
bool IsValidityOrEmpty(std::string_view rest) {
  constexpr std::string_view kUntil = " until=";
  if (rest.empty()) return true;
  if (!rest.starts_with(kUntil)) return false;
  std::string_view date = rest.substr(kUntil.size());
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!IsDigit(date[i])) return false;
  }
  return true;
}

}  // namespace

std::string_view OfferLineKey(std::string_view line) {
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
  if (size < kOfferKeyMin || size > kOfferKeyMax ||
      !IsValidityOrEmpty(line.substr(size))) {
    return {};
  }
  return line.substr(0, size);
}

}  // namespace talvenplan
