#include "database/key.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

namespace talvenplan {
namespace {

using namespace std::string_literals;

struct KeyCase {
  const char* label;
  std::string file;
  std::string request_key;
  KeyCheck outcome;
  std::string stored;  // the stored key as trimmed
  std::string rest;    // what the reader has left of the file afterwards
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.label; }

class KeyCheckTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyCheckTest, ReadsAtMostEightBytesAndTrims) {
  const KeyCase& c = GetParam();
  int fd = ::memfd_create("database", 0);
  ASSERT_EQ(::write(fd, c.file.data(), c.file.size()),
            static_cast<ssize_t>(c.file.size()));
  ::lseek(fd, 0, SEEK_SET);
  std::vector<char> storage(kLineBufferSize);
  LineReader reader(fd, storage);

  KeyCheckResult result = CheckKey(reader, c.request_key);
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.stored_key(), c.stored);

  std::string rest(reader.TakeBuffered());
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    rest.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(rest, c.rest);
  ::close(fd);
}

constexpr KeyCheck kMatch = KeyCheck::kMatch;
constexpr KeyCheck kMismatch = KeyCheck::kMismatch;
constexpr KeyCheck kUnreadable = KeyCheck::kUnreadable;

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyCheckTest,
    ::testing::Values(
        KeyCase{"plain", "abc\n0\n", "abc", kMatch, "abc", "0\n"},
        KeyCase{"trailing_blanks_and_tab", "abc  \t\n0\n", "abc", kMatch, "abc",
                "0\n"},
        KeyCase{"carriage_return", "abc\r\n0\n", "abc", kMatch, "abc", "0\n"},
        KeyCase{"high_byte_trimmed", "abc\xe4\n", "abc", kMatch, "abc", ""},
        KeyCase{"high_byte_kept_by_request", "abc\xe4\n", "abc\xe4", kMismatch,
                "abc", ""},
        KeyCase{"inner_space_kept", "ab c\n", "ab", kMismatch, "ab c", ""},
        KeyCase{"case_sensitive", "abc\n", "ABC", kMismatch, "abc", ""},
        KeyCase{"prefix_of_stored", "abcd\n", "abc", kMismatch, "abcd", ""},
        KeyCase{"eight_bytes_leave_newline", "ABCDEFGH\n0\n", "ABCDEFGH",
                kMatch, "ABCDEFGH", "\n0\n"},
        KeyCase{"nine_byte_request_never_matches", "ABCDEFGHI\n", "ABCDEFGHI",
                kMismatch, "ABCDEFGH", "I\n"},
        KeyCase{"long_key_reached_by_eight", "ABCDEFGHIJ\n0\n", "ABCDEFGH",
                kMatch, "ABCDEFGH", "IJ\n0\n"},
        KeyCase{"trim_within_the_eight", "ABCDEF  GH\n", "ABCDEF", kMatch,
                "ABCDEF", "GH\n"},
        KeyCase{"nul_ends_key", "ab\0cd\n0\n"s, "ab", kMatch, "ab", "0\n"},
        KeyCase{"blank_line_matches_empty_key", "  \n0\n", "", kMatch, "",
                "0\n"},
        KeyCase{"blank_line_refuses_a_key", "\n0\n", "k", kMismatch, "", "0\n"},
        KeyCase{"no_newline_at_end", "abc", "abc", kMatch, "abc", ""},
        KeyCase{"empty_file", "", "", kUnreadable, "", ""}),
    [](const ::testing::TestParamInfo<KeyCase>& info) {
      return std::string(info.param.label);
    });

TEST(KeyCheckErrorTest, ReadErrorIsUnreadable) {
  int fd = ::open("/", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::vector<char> storage(kLineBufferSize);
  LineReader reader(fd, storage);
  EXPECT_EQ(CheckKey(reader, "").outcome, kUnreadable);
  ::close(fd);
}

}  // namespace
}  // namespace talvenplan
