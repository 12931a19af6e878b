#include "vectors.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace talvenplan::testing {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const std::string& field, const std::string& where) {
  std::string bytes;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      bytes += field[i];
      continue;
    }
    char next = i + 1 < field.size() ? field[i + 1] : '\0';
    i += 1;
    switch (next) {
      case 'n': bytes += '\n'; break;
      case 'r': bytes += '\r'; break;
      case 't': bytes += '\t'; break;
      case '\\': bytes += '\\'; break;
      case 'x': {
        int high = i + 1 < field.size() ? HexDigit(field[i + 1]) : -1;
        int low = i + 2 < field.size() ? HexDigit(field[i + 2]) : -1;
        if (high < 0 || low < 0) {
          throw std::runtime_error(where + ": bad \\x escape");
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        throw std::runtime_error(where + ": bad escape in \"" + field + "\"");
    }
  }
  return bytes;
}

}  // namespace

std::vector<std::vector<std::string>> ReadVectors(const std::string& file) {
  // TALVENPLAN_VECTORS_DIR in the environment names a copy elsewhere.
  const char* dir = std::getenv("TALVENPLAN_VECTORS_DIR");
  const std::string path =
      std::string(dir != nullptr ? dir : TALVENPLAN_VECTORS_DIR) + "/" + file;
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(path.c_str(), "rb"),
                                           &std::fclose);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::vector<std::string>> vectors;
  std::string line;
  int number = 0;
  for (;;) {
    int c = std::fgetc(in.get());
    if (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (c == EOF && line.empty()) break;
    number += 1;
    if (!line.empty() && line[0] != '#') {
      const std::string where = path + ":" + std::to_string(number);
      std::vector<std::string> fields;
      std::size_t start = 0;
      for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab - start), where));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      vectors.push_back(std::move(fields));
    }
    line.clear();
    if (c == EOF) break;
  }
  if (std::ferror(in.get())) throw std::runtime_error("cannot read " + path);
  return vectors;
}

OfferPage ReadOfferPage() {
  std::vector<std::string> page = ReadVectors("offer_page.tsv").at(0);
  return {page.at(0), page.at(1)};
}

}  // namespace talvenplan::testing
