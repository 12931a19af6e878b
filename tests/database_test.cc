// Creating, reading, replacing and removing databases, seen from outside the
// program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

using namespace std::string_literals;

// A command body for the directory ".".
std::string Body(char letter, const std::string& key, const std::string& name,
                 const std::string& text = "") {
  return letter + "\n.\n"s + key + " " + name + "\n" + text;
}

std::string NewDatabase(const std::string& key) {
  return key + "\n0\n0\n\"\"\n0\n0\n0\n";
}

// One command on one file: what the file holds before and after (nullopt:
// no such file), the answer and the exit status. The directory must hold
// nothing else afterwards.
struct CommandCase {
  const char* label;
  std::string name;
  std::optional<std::string> before;
  std::string body;
  std::string answer;  // after the header
  int status;
  std::optional<std::string> after;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.label; }

class CommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTest, AnswersAndLeavesTheFileExactly) {
  const CommandCase& c = GetParam();
  TempDir dir;
  if (c.before) WriteFile(dir.Path(c.name), *c.before);
  CgiResult result = RunCommand(c.body, dir.path);
  ExpectAnswer(result, c.answer, c.status);
  if (c.after) {
    EXPECT_EQ(ListNames(dir.path), Names{c.name});
    EXPECT_EQ(ReadFile(dir.Path(c.name)), *c.after);
  } else {
    EXPECT_EQ(ListNames(dir.path), Names{});
  }
}

const std::string kOld = "k1\n2\nA 1.5\nB 2\nhead\n\"\"\n1\nitem 10\n";

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTest,
    ::testing::Values(
        CommandCase{"create_new", "db", std::nullopt, Body('c', "k1", "db"),
                    "s", 0, NewDatabase("k1")},
        CommandCase{"create_long_key_in_full", "db", std::nullopt,
                    Body('c', "ABCDEFGHIJ", "db"), "s", 0,
                    NewDatabase("ABCDEFGHIJ")},
        CommandCase{"create_empty_key", "db", std::nullopt, Body('c', "", "db"),
                    "s", 0, NewDatabase("")},
        CommandCase{"create_demo_name", "DEMO_db", std::nullopt,
                    Body('c', "k1", "DEMO_db"), "s", 0, NewDatabase("k1")},
        CommandCase{"create_existing", "db", kOld, Body('c', "k2", "db"), "s!",
                    0, kOld},
        CommandCase{"create_in_missing_directory", "no/db", std::nullopt,
                    Body('c', "k1", "no/db"), "fscan't open database on server",
                    1, std::nullopt},
        CommandCase{"create_empty_name", "", std::nullopt, Body('c', "k1", ""),
                    "fscan't open database on server", 1, std::nullopt},
        CommandCase{"create_directory_name_too_long", "", std::nullopt,
                    Body('c', "k1", std::string(4200, 'a') + "/x"),
                    "fscan't open database on server", 1, std::nullopt},
        // The clean-up deletes old files of a put's temporary form.
        CommandCase{"create_put_temporary_name", ".put-abc123", std::nullopt,
                    Body('c', "k1", ".put-abc123"), "s!", 0, std::nullopt},
        // An offer link would show and delete it without a key.
        CommandCase{"create_offer_form_name", ".dbAB12", std::nullopt,
                    Body('c', "k1", ".dbAB12"), "s!", 0, std::nullopt},
        // Nor rewritten, whatever its key line: it may be an offer.
        CommandCase{"put_offer_form_name", ".dbAB12", kOld,
                    Body('p', "k1", ".dbAB12", "k1\nnew\n"), "s!", 0, kOld},
        CommandCase{"get_new", "db", NewDatabase("k1"), Body('g', "k1", "db"),
                    "sk1\n0\n0\n\"\"\n0\n0\n0\n", 0, NewDatabase("k1")},
        CommandCase{"get_trims_key_line", "db", "abc  \t\nrest\n",
                    Body('g', "abc", "db"), "sabc\nrest\n", 0,
                    "abc  \t\nrest\n"},
        CommandCase{"get_eight_byte_key", "db", "ABCDEFGH\nrest\n",
                    Body('g', "ABCDEFGH", "db"), "sABCDEFGH\n\nrest\n", 0,
                    "ABCDEFGH\nrest\n"},
        CommandCase{"get_long_key_whole", "db", NewDatabase("ABCDEFGHIJ"),
                    Body('g', "ABCDEFGHIJ", "db"), "s!", 0,
                    NewDatabase("ABCDEFGHIJ")},
        CommandCase{"get_long_key_by_eight", "db", NewDatabase("ABCDEFGHIJ"),
                    Body('g', "ABCDEFGH", "db"),
                    "sABCDEFGH\nIJ\n0\n0\n\"\"\n0\n0\n0\n", 0,
                    NewDatabase("ABCDEFGHIJ")},
        CommandCase{"get_empty_file", "db", "", Body('g', "", "db"),
                    "fscan't read database on server", 1, ""},
        CommandCase{"get_missing", "db", std::nullopt, Body('g', "k1", "db"),
                    "s!", 0, std::nullopt},
        CommandCase{"put", "db", kOld, Body('p', "k1", "db", "k1\nnew\n"), "s",
                    0, "k1\nnew\n"},
        CommandCase{"put_changes_key", "db", kOld,
                    Body('p', "k1", "db", "k2\nnew"), "s", 0, "k2\nnew"},
        CommandCase{"put_percent_literally", "db", kOld,
                    Body('p', "k1", "db", "k1\n%d %s %n %%\n"), "s", 0,
                    "k1\n%d %s %n %%\n"},
        CommandCase{"put_empty_text", "db", kOld, Body('p', "k1", "db"), "s", 0,
                    ""},
        CommandCase{"put_wrong_key", "db", kOld, Body('p', "k2", "db", "x\n"),
                    "s!", 0, kOld},
        CommandCase{"put_empty_file", "db", "", Body('p', "", "db", "x\n"),
                    "fscan't read database on server", 1, ""},
        CommandCase{"put_missing", "db", std::nullopt,
                    Body('p', "k1", "db", "k1\n"),
                    "fscan't open database on server", 1, std::nullopt},
        CommandCase{"put_demo", "DEMO_prices", kOld,
                    Body('p', "k1", "DEMO_prices", "k1\nnew\n"), "s", 0, kOld},
        CommandCase{"put_demo_wrong_key", "DEMO_prices", kOld,
                    Body('p', "k2", "DEMO_prices", "k1\nnew\n"), "s", 0, kOld},
        CommandCase{"put_demo_missing", "DEMO_prices", std::nullopt,
                    Body('p', "k1", "DEMO_prices", "k1\nnew\n"), "s", 0,
                    std::nullopt},
        CommandCase{"put_demo_lower_case", "demo_prices", kOld,
                    Body('p', "k1", "demo_prices", "k1\nnew\n"), "s", 0,
                    "k1\nnew\n"},
        CommandCase{"remove", "db", kOld, Body('r', "k1", "db"), "s", 0,
                    std::nullopt},
        CommandCase{"remove_demo", "DEMO_prices", kOld,
                    Body('r', "k1", "DEMO_prices"), "s", 0, std::nullopt},
        CommandCase{"remove_wrong_key", "db", kOld, Body('r', "k2", "db"), "s!",
                    0, kOld},
        CommandCase{"remove_empty_file", "db", "", Body('r', "", "db"),
                    "fscan't read database on server", 1, ""},
        CommandCase{"remove_missing", "db", std::nullopt, Body('r', "k1", "db"),
                    "fscan't open database on server", 1, std::nullopt}),
    kLabelName);

// Runs one command in `dir` and expects the exit status that goes with the
// answer.
std::string Command(const TempDir& dir, const std::string& body) {
  CgiResult result = RunCommand(body, dir.path);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, result.out.starts_with(kHeader + "fs"s) ? 1 : 0);
  return result.out;
}

TEST(DatabaseTest, LifeOfADatabase) {
  TempDir dir;
  EXPECT_EQ(Command(dir, Body('c', "k1", "db")), kHeader + "s");
  EXPECT_EQ(Command(dir, Body('c', "k2", "db")), kHeader + "s!");
  EXPECT_EQ(Command(dir, Body('g', "k1", "db")),
            kHeader + "sk1\n0\n0\n\"\"\n0\n0\n0\n");
  EXPECT_EQ(Command(dir, Body('p', "k1", "db", "k2\n1\nF 2\n")), kHeader + "s");
  EXPECT_EQ(Command(dir, Body('g', "k1", "db")), kHeader + "s!");
  EXPECT_EQ(Command(dir, Body('g', "k2", "db")), kHeader + "sk2\n1\nF 2\n");
  EXPECT_EQ(Command(dir, Body('p', "k2", "db")), kHeader + "s");
  EXPECT_EQ(Command(dir, Body('g', "k2", "db")),
            kHeader + "fscan't read database on server");
  EXPECT_EQ(Command(dir, Body('r', "", "db")),
            kHeader + "fscan't read database on server");
  WriteFile(dir.Path("db"), "k3\n");
  EXPECT_EQ(Command(dir, Body('r', "k3", "db")), kHeader + "s");
  EXPECT_EQ(Command(dir, Body('g', "k3", "db")), kHeader + "s!");
  EXPECT_EQ(ListNames(dir.path), Names{});
}

TEST(DatabaseTest, GetPutGetIsByteExact) {
  TempDir dir;
  const std::string content = "k1\n2\nA\0x 1.5\n"s + std::string(200000, 'L') +
                              "\n\xff\x80\x01 \r\n\0\0\n"s +
                              std::string(70000, '\0') + "no newline at end";
  WriteFile(dir.Path("db"), content);

  std::string first = Command(dir, Body('g', "k1", "db"));
  ASSERT_EQ(first, kHeader + "s" + content);
  std::string payload = first.substr(kHeader.size() + 1);  // after "s"
  EXPECT_EQ(Command(dir, Body('p', "k1", "db", payload)), kHeader + "s");
  EXPECT_EQ(ReadFile(dir.Path("db")), content);
  EXPECT_EQ(Command(dir, Body('g', "k1", "db")), first);
}

// Only a regular file is a database. A FIFO or a device under a database's
// name is one that cannot be opened, and opening it never waits; a directory
// is one that cannot be read. Nothing is read from it, written to it or
// removed.
TEST(DatabaseTest, OnlyARegularFileIsADatabase) {
  const std::string cant_open = "fscan't open database on server";
  const std::string cant_read = "fscan't read database on server";
  for (std::string kind : {"directory", "FIFO", "device"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string db = dir.Path("db");
    int made = kind == "directory" ? ::mkdir(db.c_str(), 0777)
               : kind == "FIFO"    ? ::mkfifo(db.c_str(), 0666)
                                   : ::symlink("/dev/null", db.c_str());
    ASSERT_EQ(made, 0);
    const std::string& unusable = kind == "directory" ? cant_read : cant_open;
    const auto before = Snapshot(dir.path);
    for (auto [letter, answer] : {std::pair{'c', "s!"s},
                                  {'g', kind == "directory" ? cant_read : "s!"},
                                  {'q', "s!"s},
                                  {'p', unusable},
                                  {'r', unusable}}) {
      // A program that waited for a writer to open the FIFO gets one here,
      // and then finds it empty: a wrong answer, not a hang.
      std::thread writer;
      if (kind == "FIFO") {
        writer = std::thread([&db] { ::close(::open(db.c_str(), O_WRONLY)); });
      }
      EXPECT_EQ(Command(dir, Body(letter, "", "db", "\n")), kHeader + answer)
          << letter;
      if (writer.joinable()) {
        int release = ::open(db.c_str(), O_RDONLY | O_NONBLOCK);
        writer.join();
        ::close(release);
      }
    }
    EXPECT_EQ(Snapshot(dir.path), before);
  }
}

TEST(PutTest, KeepsPermissionBits) {
  TempDir dir;
  WriteFile(dir.Path("db"), kOld);
  ASSERT_EQ(::chmod(dir.Path("db").c_str(), 0604), 0);
  EXPECT_EQ(Command(dir, Body('p', "k1", "db", "k1\nnew\n")), kHeader + "s");
  struct stat st {};
  ASSERT_EQ(::stat(dir.Path("db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(ReadFile(dir.Path("db")), "k1\nnew\n");
}

// A put writes the file its name leads to, and nothing else changes.
TEST(PutTest, WritesTheFileItsNameLeadsTo) {
  std::string near_the_limit;
  for (int i = 0; i < 2045; ++i) near_the_limit += "./";
  near_the_limit += "db";  // the temporary file goes beside it, by a short name
  struct Case {
    const char* label;
    const char* directory;  // made first, unless null
    std::string name;
    const char* file;  // what the name leads to
    bool link;         // the name is a link to the file
  } cases[] = {
      {"through a link", "store", "db", "store/db", true},
      {"in a subdirectory", "sub", "sub/db", "sub/db", false},
      {"near the path limit", nullptr, near_the_limit, "db", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    if (c.directory) {
      ASSERT_EQ(::mkdir(dir.Path(c.directory).c_str(), 0777), 0);
    }
    WriteFile(dir.Path(c.file), kOld);
    if (c.link) {
      ASSERT_EQ(::symlink(c.file, dir.Path(c.name).c_str()), 0);
    }
    auto expected = Snapshot(dir.path);
    expected[dir.Path(c.file)] = "k1\nnew\n";
    EXPECT_EQ(Command(dir, Body('p', "k1", c.name, "k1\nnew\n")),
              kHeader + "s");
    EXPECT_EQ(Snapshot(dir.path), expected);
  }
}

// A demonstration database stays as it is, whatever name leads to it, and
// a link to one that does not exist is answered as a put to its name is.
TEST(PutTest, DemoRuleHoldsForTheFileALinkLeadsTo) {
  TempDir dir;
  WriteFile(dir.Path("DEMO_list"), kOld);
  ASSERT_EQ(::symlink("DEMO_list", dir.Path("list").c_str()), 0);
  ASSERT_EQ(::symlink("sub/DEMO_none", dir.Path("dangling").c_str()), 0);
  for (const char* name : {"list", "dangling"}) {
    EXPECT_EQ(Command(dir, Body('p', "k1", name, "k1\nnew\n")), kHeader + "s")
        << name;
  }
  EXPECT_EQ(ReadFile(dir.Path("DEMO_list")), kOld);
  EXPECT_EQ(ListNames(dir.path), (Names{"DEMO_list", "dangling", "list"}));
}

// Remove of a link removes the link once the key of the file it leads to
// matched. The file stays: other names may lead to it.
TEST(RemoveTest, RemovesTheLinkAndLeavesTheFile) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.Path("lists").c_str(), 0777), 0);
  WriteFile(dir.Path("lists/shared"), kOld);
  for (const char* name : {"a", "b"}) {
    ASSERT_EQ(::symlink("lists/shared", dir.Path(name).c_str()), 0);
  }
  EXPECT_EQ(Command(dir, Body('r', "k2", "a")), kHeader + "s!");
  EXPECT_EQ(Command(dir, Body('r', "k1", "a")), kHeader + "s");
  EXPECT_EQ(ListNames(dir.path), (Names{"b", "lists"}));
  EXPECT_EQ(Command(dir, Body('g', "k1", "b")), kHeader + "s" + kOld);
}

TEST(PutTest, ReadOnlyDatabaseStaysAsItIs) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes every file";
  TempDir dir;
  WriteFile(dir.Path("db"), kOld);
  ASSERT_EQ(::chmod(dir.Path("db").c_str(), 0444), 0);
  EXPECT_EQ(Command(dir, Body('p', "k1", "db", "k1\nnew\n")),
            kHeader + "fscan't write database on server");
  EXPECT_EQ(ReadFile(dir.Path("db")), kOld);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});
}

// A directory the program may write but not read cannot be synced, so no
// write there could be made to last: each is refused before anything
// changes, rather than answered as failed after the change was made.
TEST(WriteTest, DirectoryThatCannotBeSyncedChangesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  TempDir dir;
  WriteFile(dir.Path("db"), kOld);
  ASSERT_EQ(::chmod(dir.path.c_str(), 0300), 0);
  EXPECT_EQ(Command(dir, Body('c', "k1", "new")),
            kHeader + "fscan't open database on server");
  EXPECT_EQ(Command(dir, Body('p', "k1", "db", "k1\nnew\n")),
            kHeader + "fscan't write database on server");
  EXPECT_EQ(Command(dir, Body('r', "k1", "db")),
            kHeader + "fscan't remove the database");
  EXPECT_EQ(RunCommand("s\n.\noffer", dir.path).out,
            kHeader + "fscan't open temporary file");
  ASSERT_EQ(::chmod(dir.path.c_str(), 0700), 0);
  EXPECT_EQ(ReadFile(dir.Path("db")), kOld);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});
}

// Writes beyond a file size limit fail (EFBIG); the answer itself stays far
// below the limit.
constexpr rlim_t kSizeLimit = 1024;

CgiResult RunLimited(const TempDir& dir, const std::string& body) {
  CgiRun run;
  run.cwd = dir.path;
  run.file_size_limit = kSizeLimit;
  return RunCommand(body, run);
}

TEST(FailingWriteTest, PutKeepsTheOldDatabase) {
  TempDir dir;
  WriteFile(dir.Path("db"), kOld);
  std::string text = "k1\n" + std::string(5000, 'x');
  CgiResult result = RunLimited(dir, Body('p', "k1", "db", text));
  ExpectAnswer(result, "fscan't write on database", 1);
  EXPECT_EQ(ReadFile(dir.Path("db")), kOld);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});

  // Below the limit the same put goes through.
  text.resize(kSizeLimit);
  result = RunLimited(dir, Body('p', "k1", "db", text));
  EXPECT_EQ(result.out, kHeader + "s");
  EXPECT_EQ(ReadFile(dir.Path("db")), text);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});
}

TEST(FailingWriteTest, CreateLeavesNoFileBehind) {
  TempDir dir;
  WriteFile(dir.Path("other"), kOld);
  std::string key(2 * kSizeLimit, 'K');
  CgiResult result = RunLimited(dir, Body('c', key, "db"));
  ExpectAnswer(result, "fscan't write on database", 1);
  EXPECT_EQ(ListNames(dir.path), Names{"other"});
  EXPECT_EQ(ReadFile(dir.Path("other")), kOld);

  // A template that ends exactly at the limit still fits.
  key.resize(kSizeLimit - NewDatabase("").size());
  result = RunLimited(dir, Body('c', key, "db"));
  EXPECT_EQ(result.out, kHeader + "s");
  EXPECT_EQ(ReadFile(dir.Path("db")), NewDatabase(key));
}

}  // namespace
}  // namespace talvenplan::testing
