// The price query: a database file's price section, every price multiplied
// by one of the file's own named factors.
#ifndef TALVENPLAN_DATABASE_QUERY_H_
#define TALVENPLAN_DATABASE_QUERY_H_

#include <span>
#include <string_view>

#include "io/output.h"

namespace talvenplan {

// Answers a price query over the database file open for reading on `fd`,
// from its first byte: "s!" when `name` is not among the file's factors, or
// "s", header lines A and B and the price count line as stored, the price
// lines repriced, and the trailing lines as stored. The file is streamed
// through `buffer` (more than kMaxPiece bytes of scratch storage), one line
// piece at a time. Returns the process's exit status.
int QueryDatabase(int fd, std::string_view name, std::span<char> buffer,
                  Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_DATABASE_QUERY_H_
