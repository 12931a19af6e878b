// A command request: the fields cut from its body, and the storage every
// handler shares.
#ifndef TALVENPLAN_REQUEST_REQUEST_H_
#define TALVENPLAN_REQUEST_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace talvenplan {

// The body's layout: the command letter, one byte of any value, the
// directory up to its line end, then (for every letter but `l` and `s`) the
// key up to a space and the file name up to a separator byte, then the text.
// For `s` the text starts at the first byte after the directory that is not
// a separator byte.
//
// Fields are cut in place: the byte that ends the directory, the key and the
// file name is overwritten with NUL, so each of those views is also a
// NUL-terminated C string (data()[size()] == '\0'). The key stops at the
// first NUL byte the client sent inside it. The text is the rest of the body,
// NUL bytes included.
struct Request {
  char letter = 0;
  std::string_view directory = "";
  std::string_view key = "";  // fields a letter does not cut stay empty
  std::string_view name = "";
  std::string_view text = "";

  // Set by the front before dispatch.
  std::span<char> line_buffer;  // kLineBufferSize bytes of scratch storage
  // TALVEN_ROOT is set: the directory has been checked to lie below it, and
  // database names must not lead elsewhere.
  bool confined = false;
};

// Cuts the fields from `body`, which holds `count` bytes followed by a NUL
// byte. No scan passes the end of the body: a field that would start after
// it is empty.
Request CutRequest(char* body, std::size_t count);

// Reads an announced content length the way atoi does (leading white space,
// an optional sign, digits up to the first other byte), but refuses what
// cannot be a body length: zero, negative values, and values where
// length + 1 does not fit a signed 32-bit integer.
std::optional<std::int32_t> ParseContentLength(const char* text);

}  // namespace talvenplan

#endif  // TALVENPLAN_REQUEST_REQUEST_H_
