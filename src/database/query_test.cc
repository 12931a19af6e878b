// The price query core over in-memory database files.
#include "database/query.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/line_reader.h"
#include "io/output.h"

namespace talvenplan {
namespace {

using namespace std::string_literals;

int MemoryFile(const std::string& content) {
  int fd = ::memfd_create("query", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

struct Answer {
  std::string out;
  int status = -1;
};

// Runs the query over `file` with a small output buffer, so that answers
// cross many flushes.
Answer Query(const std::string& file, const std::string& name) {
  int in = MemoryFile(file);
  int out_fd = MemoryFile("");
  std::vector<char> line_buffer(kLineBufferSize);
  char out_buffer[512];
  Answer answer;
  {
    Output out(out_fd, out_buffer);
    answer.status = QueryDatabase(in, name, line_buffer, out);
    EXPECT_TRUE(out.Flush());
  }
  ::lseek(out_fd, 0, SEEK_SET);
  char chunk[4096];
  for (ssize_t n; (n = ::read(out_fd, chunk, sizeof chunk)) > 0;) {
    answer.out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(in);
  ::close(out_fd);
  return answer;
}

// A database with the given factor entries and price lines, the factor
// count and price count written from their sizes, and one trailing line.
std::string Database(const std::vector<std::string>& entries,
                     const std::vector<std::string>& prices) {
  std::string file = "key\n" + std::to_string(entries.size()) + "\n";
  for (const std::string& entry : entries) file += entry + "\n";
  file += "A\nB\n" + std::to_string(prices.size()) + "\n";
  for (const std::string& price : prices) file += price + "\n";
  return file + "t\n";
}

const std::string kWorkedExample =
    "k1\n2\nalpha 0.5\nbeta 1.25\n7\nTitle\n2\nChair 10.00\nTable 99.5\n"
    "t1\nt2\n";

struct QueryCase {
  const char* label;
  std::string file;
  std::string name;
  std::string answer;
};

class QueryCaseTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryCaseTest, AnswersExactly) {
  const QueryCase& c = GetParam();
  Answer answer = Query(c.file, c.name);
  EXPECT_EQ(answer.out, c.answer);
  EXPECT_EQ(answer.status, 0);
}

// How an answer over a Database() with one price line starts.
const std::string kOnePriceStart = "sA\nB\n1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryCaseTest,
    ::testing::Values(
        QueryCase{"worked_beta", kWorkedExample, "beta",
                  "s7\nTitle\n2\nChair 12.500000\nTable 124.375000\nt1\nt2\n"},
        QueryCase{"worked_alpha", kWorkedExample, "alpha",
                  "s7\nTitle\n2\nChair 5.000000\nTable 49.750000\nt1\nt2\n"},
        QueryCase{"worked_unknown", kWorkedExample, "gamma", "s!"},
        QueryCase{"worked_case_sensitive", kWorkedExample, "Beta", "s!"},
        QueryCase{"worked_prefix_of_name", kWorkedExample, "bet", "s!"},
        QueryCase{"worked_name_longer", kWorkedExample, "betas", "s!"},
        QueryCase{"new_database", "key\n0\n0\n\"\"\n0\n0\n0\n", "0", "s!"},
        QueryCase{"negative_factor_count", "key\n-1\nbeta 2\nA\nB\n0\n", "beta",
                  "s!"},
        QueryCase{"entry_beyond_factor_count",
                  "key\n1\nalpha 2\nbeta 3\nB\n1\nx 1\n", "beta", "s!"},
        // The line after the last counted entry is header line A.
        QueryCase{"extra_entry_is_header",
                  "key\n1\nalpha 2\nbeta 3\nB\n1\nx 1\n", "alpha",
                  "sbeta 3\nB\n1\nx 2.000000\n"},
        QueryCase{"tab_after_name", Database({"beta\t1.25"}, {"Chair 10"}),
                  "beta", kOnePriceStart + "Chair 12.500000\nt\n"},
        QueryCase{"two_spaces_after_name",
                  Database({"beta  1.25"}, {"Chair 10"}), "beta",
                  kOnePriceStart + "Chair 12.500000\nt\n"},
        QueryCase{"crlf_lines",
                  "key\r\n1\r\nbeta 1.25\r\nA\r\nB\r\n1\r\n"
                  "Chair 10\r\nt\r\n",
                  "beta", "sA\r\nB\r\n1\r\nChair 12.500000\nt\r\n"},
        QueryCase{"empty_name_matches_leading_separator",
                  Database({"alpha 2", " 3"}, {"x 1"}), "",
                  kOnePriceStart + "x 3.000000\nt\n"},
        QueryCase{"high_byte_ends_name", Database({"H\xe4ndler 1.2"}, {"x 10"}),
                  "H", kOnePriceStart + "x 0.000000\nt\n"},
        QueryCase{"high_byte_name_never_matches",
                  Database({"H\xe4ndler 1.2"}, {"x 10"}), "H\xe4ndler", "s!"},
        QueryCase{"nul_ends_name", Database({"be\0ta 2"s}, {"x 10"}), "be",
                  kOnePriceStart + "x 0.000000\nt\n"},
        QueryCase{"entry_without_factor", Database({"beta"}, {"x 10", "y -5"}),
                  "beta", "sA\nB\n2\nx 0.000000\ny -0.000000\nt\n"},
        // Only the text after the last space is the price.
        QueryCase{"price_after_last_space",
                  Database({"beta 1.25"}, {"Big chair 10"}), "beta",
                  kOnePriceStart + "Big chair 12.500000\nt\n"},
        QueryCase{"space_before_newline",
                  Database({"beta 1.25"}, {"Chair 10 "}), "beta",
                  kOnePriceStart + "Chair 10 0.000000\nt\n"},
        QueryCase{"decimal_comma", Database({"beta 2"}, {"Chair 12,50"}),
                  "beta", kOnePriceStart + "Chair 24.000000\nt\n"},
        QueryCase{"bare_price", Database({"beta 1.25"}, {"10", "Chair"}),
                  "beta", "sA\nB\n2\n12.500000\n0.000000\nt\n"},
        QueryCase{
            "special_prices",
            Database({"beta 1.25"}, {"a 0x1p3", "b -INF", "c nan", "d -nan",
                                     "e 1e400", "f -0", "g  +7e-1", "h \t5"}),
            "beta",
            "sA\nB\n8\na 10.000000\nb -inf\nc nan\nd -nan\ne inf\n"
            "f -0.000000\ng  0.875000\nh 6.250000\nt\n"},
        QueryCase{"single_precision_factors",
                  Database({"a 0.9", "b 1.1", "c 2.5"}, {"x 100", "y 4"}), "a",
                  "sA\nB\n2\nx 89.999998\ny 3.600000\nt\n"},
        QueryCase{"factor_1_1", Database({"a 0.9", "b 1.1"}, {"x 100"}), "b",
                  kOnePriceStart + "x 110.000002\nt\n"},
        QueryCase{"factor_2_5", Database({"c 2.5"}, {"y 4"}), "c",
                  kOnePriceStart + "y 10.000000\nt\n"},
        QueryCase{"factor_beyond_float", Database({"a 1e300"}, {"x 1", "y 0"}),
                  "a", "sA\nB\n2\nx inf\ny -nan\nt\n"},
        QueryCase{"huge_product", Database({"a 2"}, {"x 1e300"}), "a",
                  kOnePriceStart + "x " +
                      "200000000000000010500952051040884049740893716221631830"
                      "983170823102360491597781639157274275016089572808740888"
                      "766576775635388504647072086115128958436957341396569677"
                      "440185315160747566046758957618011873790646994159989016"
                      "223807793528176014930548556028498915851757764011368567"
                      "6231338944392773730918801080320.000000\nt\n"},
        QueryCase{"factor_text_hex_and_blanks",
                  Database({"a \t 0x1p-1"}, {"x 3"}), "a",
                  kOnePriceStart + "x 1.500000\nt\n"},
        QueryCase{"nul_bytes_sent_as_stored",
                  "key\n1\nbeta 2\nA\0a\nB\n1\nCh\0air 10\0x\nt\0t\n"s, "beta",
                  "sA\0a\nB\n1\nCh\0air 20.000000\nt\0t\n"s},
        QueryCase{"last_line_without_newline",
                  "key\n1\nbeta 2\nA\nB\n1\nChair 10", "beta",
                  "sA\nB\n1\nChair 20.000000\n"}),
    [](const ::testing::TestParamInfo<QueryCase>& info) {
      return std::string(info.param.label);
    });

// The price count line decides how many lines are repriced; it is sent as
// stored either way.
struct CountCase {
  const char* count;
  int repriced;
};

TEST(QueryDatabaseTest, PriceCountIsTruncatedAndBounded) {
  for (CountCase c : {CountCase{"2.9", 2},
                      {"0", 0},
                      {"-1", 0},
                      {"-0.9", 0},
                      {"1e10", 0},
                      {"-1e10", 0},
                      {"nan", 0},
                      {"inf", 0},
                      {"abc", 0},
                      {" +1e0", 1},
                      {"0x2", 2},
                      {"3", 3}}) {
    std::string file = "key\n1\nbeta 2\nA\nB\n" + std::string(c.count) +
                       "\nx 1\ny 2\nz 3\nw 4\n";
    std::string answer = "sA\nB\n" + std::string(c.count) + "\n";
    const char* repriced[] = {"x 2.000000\n", "y 4.000000\n", "z 6.000000\n"};
    const char* stored[] = {"x 1\n", "y 2\n", "z 3\n"};
    for (int line = 0; line < 3; ++line) {
      answer += line < c.repriced ? repriced[line] : stored[line];
    }
    answer += "w 4\n";
    EXPECT_EQ(Query(file, "beta").out, answer) << c.count;
  }
}

// Every line piece of at most 59999 bytes counts as a line.
TEST(QueryDatabaseTest, LongLinesCountAsSeveralLines) {
  const std::string x10(10, 'x');
  const std::string two_pieces = std::string(kMaxPiece, 'x') + x10;

  // A piece without a space is a bare price.
  std::string file = Database({"beta 1.25"}, {two_pieces + " 10"});
  EXPECT_EQ(Query(file, "beta").out, "sA\nB\n1\n0.000000\n" + x10 + " 10\nt\n");
  file = "key\n1\nbeta 1.25\nA\nB\n2\n" + two_pieces + " 10\nt\n";
  EXPECT_EQ(Query(file, "beta").out,
            "sA\nB\n2\n0.000000\n" + x10 + " 12.500000\nt\n");

  // A price cut by the end of a piece.
  file = "key\n1\nbeta 1.25\nA\nB\n2\n" + std::string(kMaxPiece - 3, 'x') +
         " 12345\nt\n";
  EXPECT_EQ(Query(file, "beta").out, "sA\nB\n2\n" +
                                         std::string(kMaxPiece - 3, 'x') +
                                         " 15.000000\n431.250000\nt\n");

  // A long entry is two entries: the one after it is out of count.
  const std::string long_entry(kMaxPiece + 5, 'y');
  file = Database({long_entry, "beta 2"}, {"x 1"});
  EXPECT_EQ(Query(file, "beta").out, "s!");
  file.replace(file.find("\n2\n"), 3, "\n3\n");
  EXPECT_EQ(Query(file, "beta").out, "sA\nB\n1\nx 2.000000\nt\n");

  // A long header line A takes two of the three copied lines: header line B
  // is then read as the price count, 0, and the rest goes out as stored.
  const std::string long_header(kMaxPiece + 5, 'A');
  file = "key\n1\nbeta 2\n" + long_header + "\nB\n1\nx 1\nt\n";
  EXPECT_EQ(Query(file, "beta").out, "s" + long_header + "\nB\n1\nx 1\nt\n");
}

// What a file that ends early gives: every read that finds the end ends the
// answer. Worked out here from the whole file's answer, line by line: the
// lines before the cut as in the whole answer, then the cut line as a last
// line of its own, and nothing more.
class QueryTruncatedTest : public ::testing::TestWithParam<const char*> {};

TEST_P(QueryTruncatedTest, AnswersWhatTheFileHoldsAndNothingTwice) {
  const std::string name = GetParam();
  std::vector<std::string> lines;  // kWorkedExample's lines
  for (std::size_t at = 0; at < kWorkedExample.size();) {
    std::size_t end = kWorkedExample.find('\n', at) + 1;
    lines.push_back(kWorkedExample.substr(at, end - at));
    at = end;
  }
  const std::size_t match = name == "alpha" ? 2 : 3;  // the entry's line
  const double factor = name == "alpha" ? 0.5 : 1.25;
  auto repriced = [factor](const std::string& line) {
    std::size_t space = line.rfind(' ');
    std::size_t start = space == std::string::npos ? 0 : space + 1;
    char price[64];
    std::snprintf(price, sizeof price, "%f\n",
                  std::strtod(line.c_str() + start, nullptr) * factor);
    return line.substr(0, start) + price;
  };
  // The answer for each line: nothing for the key, count and entries, the
  // two price lines (7 and 8) repriced, the others as stored.
  auto answer_for = [&](std::size_t index, const std::string& line) {
    if (index < 4 || line.empty()) return std::string();
    return index == 7 || index == 8 ? repriced(line) : line;
  };

  std::size_t line_start = 0;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    for (std::size_t cut = 0; cut < lines[index].size(); ++cut) {
      std::string partial = lines[index].substr(0, cut);
      std::string expected;
      if (index < match) {
        expected = "s!";
      } else if (index == match) {
        std::string entry_name = partial.substr(0, partial.find(' '));
        expected = entry_name == name ? "s" : "s!";
      } else {
        expected = "s";
        for (std::size_t before = 4; before < index; ++before) {
          expected += answer_for(before, lines[before]);
        }
        expected += answer_for(index, partial);
      }
      Answer answer = Query(kWorkedExample.substr(0, line_start + cut), name);
      EXPECT_EQ(answer.out, expected) << "cut after byte " << line_start + cut;
      EXPECT_EQ(answer.status, 0);
    }
    line_start += lines[index].size();
  }
}

INSTANTIATE_TEST_SUITE_P(Lookups, QueryTruncatedTest,
                         ::testing::Values("alpha", "beta"));

TEST(QueryDatabaseTest, UnreadableFileHasNoFactors) {
  // A directory opens but cannot be read.
  int directory = ::open(".", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  std::vector<char> line_buffer(kLineBufferSize);
  int out_fd = MemoryFile("");
  char out_buffer[64];
  Output out(out_fd, out_buffer);
  EXPECT_EQ(QueryDatabase(directory, "beta", line_buffer, out), 0);
  out.Flush();
  char answer[8] = {};
  EXPECT_EQ(::pread(out_fd, answer, sizeof answer, 0), 2);
  EXPECT_STREQ(answer, "s!");
  ::close(directory);
  ::close(out_fd);
}

}  // namespace
}  // namespace talvenplan
