#include "database/key.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "vectors.h"

namespace talvenplan {
namespace {

using namespace std::string_literals;

KeyCheck Outcome(const std::string& word) {
  if (word == "match") return KeyCheck::kMatch;
  if (word == "mismatch") return KeyCheck::kMismatch;
  EXPECT_EQ(word, "unreadable");
  return KeyCheck::kUnreadable;
}

// The check reads one piece: at most kKeySize bytes, ending early after a
// newline. Afterwards the reader holds exactly the rest of the file.
TEST(KeyCheckTest, AgreesWithTheVectorsAndReadsOnePiece) {
  auto vectors = testing::ReadVectors("keys.tsv");
  ASSERT_FALSE(vectors.empty());
  std::vector<char> storage(kLineBufferSize);
  for (const auto& v : vectors) {
    const std::string& file = v[0];
    SCOPED_TRACE(Quote(file) + " / " + Quote(v[1]));
    int fd = ::memfd_create("database", 0);
    ASSERT_EQ(::write(fd, file.data(), file.size()),
              static_cast<ssize_t>(file.size()));
    ::lseek(fd, 0, SEEK_SET);
    LineReader reader(fd, storage);

    KeyCheckResult result = CheckKey(reader, v[1]);
    EXPECT_EQ(result.outcome, Outcome(v[2]));
    EXPECT_EQ(result.stored_key(), v[3]);

    std::size_t piece = std::min(file.size(), kKeySize);
    std::size_t newline = file.find('\n');
    if (newline < piece) piece = newline + 1;
    EXPECT_EQ(reader.ReadPiece(),
              file.substr(piece, file.find('\n', piece) - piece + 1));
    ::close(fd);
  }
}

TEST(KeyCheckErrorTest, ReadErrorIsUnreadable) {
  int fd = ::open("/", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::vector<char> storage(kLineBufferSize);
  LineReader reader(fd, storage);
  EXPECT_EQ(CheckKey(reader, "").outcome, KeyCheck::kUnreadable);
  ::close(fd);
}

}  // namespace
}  // namespace talvenplan
