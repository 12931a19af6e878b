// The price query core over in-memory database files. Its answers are the
// vectors' (tests/vectors/query.tsv); only lines longer than a vector file
// holds are built here.
#include "database/query.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"
#include "io/line_reader.h"
#include "io/output.h"
#include "vectors.h"

namespace talvenplan {
namespace {

using testing::CgiResult;

// Runs the query over what `in` holds, with a small output buffer so that
// answers cross many flushes.
CgiResult Query(int in, const std::string& name) {
  int out_fd = testing::MemoryFile("");
  std::vector<char> line_buffer(kLineBufferSize);
  char out_buffer[512];
  CgiResult answer;
  {
    Output out(out_fd, out_buffer);
    answer.status = QueryDatabase(in, name, line_buffer, out);
    EXPECT_TRUE(out.Flush());
  }
  answer.out = testing::ReadAll(out_fd);
  ::close(out_fd);
  return answer;
}

CgiResult Query(const std::string& file, const std::string& name) {
  int in = testing::MemoryFile(file);
  CgiResult answer = Query(in, name);
  ::close(in);
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

TEST(QueryDatabaseTest, AnswersTheVectorsExactly) {
  for (const auto& v : testing::ReadVectors("query.tsv")) {
    SCOPED_TRACE(Quote(v[0]) + " / " + Quote(v[1]));
    CgiResult answer = Query(v[0], v[1]);
    EXPECT_EQ(answer.out, v[2]);
    EXPECT_EQ(answer.status, 0);
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

TEST(QueryDatabaseTest, UnreadableFileHasNoFactors) {
  // A directory opens but cannot be read.
  int directory = ::open(".", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  CgiResult answer = Query(directory, "beta");
  EXPECT_EQ(answer.out, "s!");
  EXPECT_EQ(answer.status, 0);
  ::close(directory);
}

}  // namespace
}  // namespace talvenplan
