#include "protocol/quote.h"

#include <cstdio>

namespace talvenplan {

std::string Quote(std::string_view bytes, std::size_t longest) {
  std::string text = "\"";
  for (char c : bytes.substr(0, longest)) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      text += "\\n";
    } else if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      text += hex;
    }
  }
  text += bytes.size() > longest ? "\"..." : "\"";
  return text;
}

}  // namespace talvenplan
