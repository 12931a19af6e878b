#include "request/request.h"

#include <cstring>
#include <limits>

#include "request/bytes.h"

namespace talvenplan {

Request CutRequest(char* body, std::size_t count) {
  char* const end = body + count;
  char* p = body + (count < 2 ? count : 2);
  Request request;
  request.letter = body[0];

  // Ends the field at `p` and steps past the byte that ended it. At the end
  // of the body the trailing NUL already ends the field.
  auto cut = [end](char*& p) {
    if (p < end) *p++ = '\0';
  };

  char* directory = p;
  while (p < end && !IsLineEnd(*p)) ++p;
  request.directory = {directory, p};
  cut(p);

  if (request.letter == 'l') return request;
  if (request.letter == 's') {
    while (p < end && IsSeparator(*p)) ++p;
    request.text = {p, end};
    return request;
  }

  while (p < end && IsLineEnd(*p)) ++p;
  char* key = p;
  while (p < end && *p != ' ') ++p;
  request.key = {key, ::strnlen(key, static_cast<std::size_t>(p - key))};
  cut(p);

  char* name = p;
  while (p < end && !IsSeparator(*p)) ++p;
  request.name = {name, p};
  cut(p);

  request.text = {p, end};
  return request;
}

std::optional<std::int32_t> ParseContentLength(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Digits beyond the limit cannot make the value valid again, so stop
  // accumulating once it is out of range.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= kLimit) value = value * 10 + (*p - '0');
  }
  if (negative || value == 0 || value >= kLimit) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace talvenplan
