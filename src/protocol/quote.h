// Bytes quoted for a message a person reads: the client's and the tests'.
#ifndef TALVENPLAN_PROTOCOL_QUOTE_H_
#define TALVENPLAN_PROTOCOL_QUOTE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace talvenplan {

// `bytes` in double quotes, a newline as \n, a quote or backslash after a
// backslash, any other byte outside printable ASCII as \xNN; cut after
// `longest` bytes, with "..." after the closing quote.
std::string Quote(std::string_view bytes, std::size_t longest = 60);

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_QUOTE_H_
