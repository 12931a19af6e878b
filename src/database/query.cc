#include "database/query.h"

#include <cstdint>

#include "database/database.h"
#include "database/key.h"
#include "database/number.h"
#include "io/fd.h"
#include "io/line_reader.h"
#include "protocol/bytes.h"
#include "protocol/messages.h"

namespace talvenplan {
namespace {

// A factor entry: the name runs to the line's first separator byte, and the
// factor's text follows that byte. A line without one (the file's last line,
// with no newline) has no factor text.
struct Entry {
  std::string_view name;
  std::string_view factor_text;
};

Entry CutEntry(std::string_view line) {
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (IsSeparator(line[at])) {
      return {{line.data(), at}, {line.data() + at + 1, line.size() - at - 1}};
    }
  }
  return {line, {}};
}

// The number of price lines: the count line read as a floating-point number
// and truncated toward zero. What does not fit a 32-bit int (NaN included)
// counts as none.
std::int32_t PriceCount(std::string_view line) {
  double count = ParseDouble(line);
  if (!(count > -2147483649.0 && count < 2147483648.0)) return 0;
  return static_cast<std::int32_t>(count);
}

// The price is the text after the line's last space; the line is sent up to
// and including that space, then the repriced price and a newline. A line
// without a space is a bare price and is replaced whole.
void WritePriceLine(std::string_view line, double factor, Output& out) {
  std::string_view price = line;
  std::size_t space = line.rfind(' ');
  if (space != std::string_view::npos) {
    out.Write(std::string_view(line.data(), space + 1));
    price.remove_prefix(space + 1);
  }
  char* text = out.Reserve(kMaxFixedText + 1);
  std::size_t size = FormatFixed(ParseDouble(price) * factor, text);
  text[size] = '\n';
  out.Commit(size + 1);
}

// The exit status once the file has ended: 1 when a read error ended it.
int EndStatus(const LineReader& reader) { return reader.error() ? 1 : 0; }

}  // namespace

int QueryDatabase(int fd, std::string_view name, std::span<char> buffer,
                  Output& out) {
  LineReader reader(fd, buffer);

  // The key line is passed over; then the factor count, and the entries. A
  // file that ends before the name is found does not have the factor.
  reader.ReadPiece();
  std::int32_t remaining = ParseInt(reader.ReadPiece());
  float factor = 0;
  bool found = false;
  while (remaining > 0 && !found) {
    std::string_view line = reader.ReadPiece();
    if (line.empty()) break;
    Entry entry = CutEntry(line);
    if (entry.name == name) {
      // Stored in single precision: every product uses the rounded value.
      factor = static_cast<float>(ParseDouble(entry.factor_text));
      found = true;
    } else {
      --remaining;
    }
  }
  if (!found) return Refuse(out);
  Done(out);

  // From here on the end of the file ends the answer: it holds what the file
  // has, and no line twice. A read error ends it the same way, and the exit
  // status then tells the server that the answer was cut short.
  for (std::int32_t skip = remaining - 1; skip > 0; --skip) {
    if (reader.ReadPiece().empty()) return EndStatus(reader);
  }
  std::string_view line;
  for (int copy = 0; copy < 3; ++copy) {  // header lines A, B, price count
    line = reader.ReadPiece();
    if (line.empty()) return EndStatus(reader);
    out.Write(line);
  }
  const double wide_factor = factor;
  for (std::int32_t left = PriceCount(line); left > 0; --left) {
    line = reader.ReadPiece();
    if (line.empty()) return EndStatus(reader);
    WritePriceLine(line, wide_factor, out);
    if (out.failed()) return 0;
  }
  reader.CopyRestTo(out);
  return EndStatus(reader);
}

int RunQuery(const Request& request, const Context& context, Output& out) {
  OpenFile file = OpenDatabase(request, context);
  if (!file.fd) return Refuse(out);
  return QueryDatabase(file.fd.get(), request.key, context.lines, out);
}

}  // namespace talvenplan
