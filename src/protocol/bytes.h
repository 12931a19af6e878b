// Byte classes shared by the request fields and the database lines.
//
// Bytes are compared as signed 8-bit values, so 0x80-0xFF sort below the
// space: they end fields and names just like control bytes do.
#ifndef TALVENPLAN_PROTOCOL_BYTES_H_
#define TALVENPLAN_PROTOCOL_BYTES_H_

namespace talvenplan {

// 0x00-0x1F and 0x80-0xFF: ends the directory line of a request.
inline bool IsLineEnd(char c) { return static_cast<signed char>(c) < 0x20; }

// 0x00-0x20 and 0x80-0xFF: ends file names and factor names.
inline bool IsSeparator(char c) { return static_cast<signed char>(c) <= 0x20; }

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_BYTES_H_
