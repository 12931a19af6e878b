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

#include "harness.h"
#include "io/line_reader.h"
#include "io/output.h"
#include "vectors.h"

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

TEST(QueryDatabaseTest, AnswersTheVectorsExactly) {
  auto vectors = testing::ReadVectors("query.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    SCOPED_TRACE(testing::Printable(v[0]) + " / " + testing::Printable(v[1]));
    Answer answer = Query(v[0], v[1]);
    EXPECT_EQ(answer.out, v[2]);
    EXPECT_EQ(answer.status, 0);
  }
}

// A price line keeps everything up to its last space; the price after it is
// read as the vectors say and written as "%f" writes it.
TEST(QueryDatabaseTest, RepricesThePriceTheVectorsName) {
  auto vectors = testing::ReadVectors("prices.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    const std::string& line = v[0];
    SCOPED_TRACE(testing::Printable(line));
    std::string kept = line.substr(0, line.size() - v[1].size());
    char price[400];
    std::snprintf(price, sizeof price, "%f",
                  std::strtod(v[1].c_str(), nullptr));
    std::string file = "key\n1\nf 1\nA\nB\n1\n" + line;
    EXPECT_EQ(Query(file, "f").out, "sA\nB\n1\n" + kept + price + "\n");
  }
}

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
