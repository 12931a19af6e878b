#include "io/line_reader.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace talvenplan {
namespace {

struct Pieces {
  std::vector<std::string> pieces;
  std::string rest;
};

// Reads `content` piece by piece (`max` bytes at most) until `stop_after`
// pieces, then takes what is buffered and reads the file to its end.
Pieces Read(const std::string& content, std::size_t max,
            std::size_t stop_after = SIZE_MAX) {
  int fd = ::memfd_create("lines", 0);
  EXPECT_EQ(::write(fd, content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
  ::lseek(fd, 0, SEEK_SET);
  std::vector<char> storage(kLineBufferSize);
  LineReader reader(fd, storage);
  Pieces result;
  while (result.pieces.size() < stop_after) {
    std::string_view piece = reader.ReadPiece(max);
    if (piece.empty()) break;
    result.pieces.emplace_back(piece);
  }
  result.rest = reader.TakeBuffered();
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    result.rest.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_FALSE(reader.error());
  ::close(fd);
  return result;
}

using Strings = std::vector<std::string>;

TEST(LineReaderTest, PiecesEndAfterNewlineOrAtEnd) {
  EXPECT_EQ(Read("a\nbc\n\nd", kMaxPiece).pieces,
            (Strings{"a\n", "bc\n", "\n", "d"}));
  EXPECT_EQ(Read("", kMaxPiece).pieces, Strings{});
  using namespace std::string_literals;
  EXPECT_EQ(Read("a\0b\nc"s, kMaxPiece).pieces, (Strings{"a\0b\n"s, "c"}));
}

TEST(LineReaderTest, LongLinesComeInPiecesOfTheSizeAsked) {
  EXPECT_EQ(Read("ABCDEFGHIJ\nx\n", 8).pieces,
            (Strings{"ABCDEFGH", "IJ\n", "x\n"}));
  EXPECT_EQ(Read("ABCDEFGH\n", 8).pieces, (Strings{"ABCDEFGH", "\n"}));

  std::string line(2 * kMaxPiece + 5, 'x');
  Pieces got = Read(line + "\nnext\n", kMaxPiece);
  ASSERT_EQ(got.pieces.size(), 4u);
  EXPECT_EQ(got.pieces[0], std::string(kMaxPiece, 'x'));
  EXPECT_EQ(got.pieces[1], std::string(kMaxPiece, 'x'));
  EXPECT_EQ(got.pieces[2], "xxxxx\n");
  EXPECT_EQ(got.pieces[3], "next\n");
}

TEST(LineReaderTest, PiecesAndRestCoverTheFileExactlyAcrossRefills) {
  std::string content;
  for (int i = 0; i < 50000; ++i) content += "line " + std::to_string(i) + "\n";
  for (std::size_t stop : {0, 1, 7, 20000}) {
    Pieces got = Read(content, kMaxPiece, stop);
    std::string joined;
    for (const std::string& piece : got.pieces) joined += piece;
    EXPECT_EQ(joined + got.rest, content) << stop;
  }
}

}  // namespace
}  // namespace talvenplan
