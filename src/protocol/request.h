// A command request's body: its layout, cutting a body into fields, and
// building one from them.
//
// The layout: the command letter, one byte of any value, the directory up to
// its line end, then (for every letter but `l` and `s`) the key up to a space
// and the file name up to a separator byte, then the text. For `s` the text
// starts at the first byte after the directory that is not a separator byte.
#ifndef TALVENPLAN_PROTOCOL_REQUEST_H_
#define TALVENPLAN_PROTOCOL_REQUEST_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace talvenplan {

// A command request as its handler gets it.
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
  // For `l`: the line after the directory, after any line-end bytes, is
  // kListByWord, asking for the logins. Nothing else there means anything.
  bool logins = false;
};

// Cuts the fields from `body`, which holds `count` bytes followed by a NUL
// byte. No scan passes the end of the body: a field that would start after
// it is empty.
Request CutRequest(char* body, std::size_t count);

// The body a client sends: for `l` and `s` the letter, a newline, the
// directory, a newline and the text (for `l`, kListByWord and a newline, or
// nothing); for every other letter
// the letter, a newline, the directory, a newline, the key, a space, the
// name, a newline, and the text.
std::string BuildBody(char letter, std::string_view directory,
                      std::string_view key = {}, std::string_view name = {},
                      std::string_view text = {});

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_REQUEST_H_
