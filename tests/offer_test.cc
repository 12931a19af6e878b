// Staging offers with the store command and showing them once through offer
// links, seen from outside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "vectors.h"

namespace talvenplan::testing {
namespace {

using namespace std::string_literals;

constexpr char kCantOpen[] = "error on server: can't open temp file";
constexpr char kCantChangeDirectory[] =
    "error on server:can't change directory on server";

// The same bytes in other letters: the second letter of each pair is taken
// from outside 'a'-'p' and the first makes up the sum modulo 256.
std::string EncodeWide(const std::string& bytes) {
  std::string letters;
  int second = 'q';
  for (unsigned char c : bytes) {
    for (;;) {
      second = second == 255 ? 1 : second + 1;
      int first = (c - 16 * (second - 97) + 97) & 0xFF;
      if (first == 0 || first == 'z') continue;
      letters += static_cast<char>(first);
      letters += static_cast<char>(second);
      break;
    }
  }
  return letters;
}

std::string Link(const std::string& name, const std::string& directory) {
  return OfferLinkQuery(name, directory).substr(kOfferKey.size());
}

// Opens an offer link: `after_key` is what follows "TALVENPLAN_FILE=".
CgiResult OpenLink(const std::string& after_key, const std::string& cwd = "/",
                   const std::string& method = "GET") {
  CgiRun run;
  run.env = {"QUERY_STRING=TALVENPLAN_FILE=" + after_key,
             "REQUEST_METHOD=" + method};
  run.cwd = cwd;
  return RunCgi(run);
}

std::string Page(const std::string& content) {
  static const OfferPage kPage = ReadOfferPage();
  return kHeader + kPage.Around(content);
}

// Stores `text` in `directory` and returns the offer's name.
std::string StoreOffer(const std::string& directory, const std::string& text) {
  CgiResult result = RunCommand("s\n" + directory + "\n" + text, "/");
  EXPECT_EQ(result.out.substr(0, kHeader.size() + 1), kHeader + "s"s);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  std::string name = result.out.substr(kHeader.size() + 1);
  EXPECT_TRUE(HasOfferForm(name)) << name;
  return name;
}

TEST(StoreTest, StoresTheWholeTextAndAnswersItsName) {
  struct Case {
    const char* label;
    std::string after_directory;
    std::string stored;
  } cases[] = {
      {"plain", "abc", "abc"},
      {"blanks before the text", "\n \t\r\n<p>x</p>\n", "<p>x</p>\n"},
      {"percent and high bytes", "a%s%n\xe4\xff\n", "a%s%n\xe4\xff\n"},
      {"NUL bytes kept", "x\0y\0\0z"s, "x\0y\0\0z"s},
      {"long", "L" + std::string(300000, '\n'),
       "L" + std::string(300000, '\n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    std::string name = StoreOffer(dir.path, c.after_directory);
    EXPECT_EQ(ListNames(dir.path), std::vector<std::string>{name});
    EXPECT_EQ(ReadFile(dir.Path(name)), c.stored);
  }
}

TEST(StoreTest, EmptyTextLeavesNoFile) {
  for (std::string tail : {"\n", "\n \t\n\r", "", "\n\xe4\x01 "}) {
    TempDir dir;
    CgiResult result = RunCommand("s\n" + dir.path + tail, "/");
    ExpectAnswer(result, "fscan't write temporary file");
    EXPECT_EQ(ListNames(dir.path), std::vector<std::string>{});
  }
}

TEST(StoreTest, FailedWriteLeavesNoFile) {
  TempDir dir;
  CgiRun run;
  std::string body = "s\n.\n" + std::string(100000, 'x');
  run.env = {"CONTENT_LENGTH=" + std::to_string(body.size())};
  run.input = body;
  run.cwd = dir.path;
  run.file_size_limit = 4096;
  CgiResult result = RunCgi(run);
  ExpectAnswer(result, "fscan't write temporary file");
  EXPECT_EQ(ListNames(dir.path), std::vector<std::string>{});
}

TEST(StoreTest, UnwritableDirectoryAnswersCantOpen) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes every directory";
  TempDir dir;
  ::mkdir(dir.Path("closed").c_str(), 0555);
  CgiResult result = RunCommand("s\nclosed\nabc", dir.path);
  EXPECT_EQ(result.out, kHeader + "fscan't open temporary file"s);
  EXPECT_EQ(result.status, 0);
}

TEST(StoreTest, ListingNeverShowsOffers) {
  TempDir dir;
  StoreOffer(dir.path, "abc");
  WriteFile(dir.Path("prices"), "");
  CgiResult result = RunCommand("l\n.\n", dir.path);
  EXPECT_EQ(result.out, kHeader + "sprices\n"s);
}

TEST(OfferLinkTest, ShowsTheOfferOnceThenRefuses) {
  TempDir dir;
  std::string content = "<p>Offer\0 100%\xe4</p>\n"s + std::string(200000, 'y');
  std::string name = StoreOffer(dir.path, content);

  CgiResult first = OpenLink(Link(name, dir.path));
  EXPECT_EQ(first.out, Page(content));
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(ListNames(dir.path), std::vector<std::string>{});

  CgiResult second = OpenLink(Link(name, dir.path));
  ExpectAnswer(second, kCantOpen);
}

TEST(OfferLinkTest, DirectoryIsRelativeToTheStartAndTheTailIsIgnored) {
  TempDir dir;
  SKIP_WITHOUT_OFFER_MARKS(dir.path);
  ::mkdir(dir.Path("sub").c_str(), 0777);
  WriteOffer(dir.Path("sub/.Ab3xY9"), "here");
  CgiResult result =
      OpenLink(Link(".Ab3xY9", "sub") + "zz&utm_source=mail", dir.path);
  EXPECT_EQ(result.out, Page("here"));
  EXPECT_FALSE(Exists(dir.Path("sub/.Ab3xY9")));
}

TEST(OfferLinkTest, HeadShowsTheOfferButKeepsIt) {
  TempDir dir;
  std::string name = StoreOffer(dir.path, "kept");
  for (int i = 0; i < 2; ++i) {
    CgiResult head = OpenLink(Link(name, dir.path), "/", "HEAD");
    EXPECT_EQ(head.out, Page("kept"));
    EXPECT_EQ(head.status, 0);
    EXPECT_EQ(ReadFile(dir.Path(name)), "kept");
  }
  // Only the exact method keeps it.
  CgiResult get = OpenLink(Link(name, dir.path), "/", "head");
  EXPECT_EQ(get.out, Page("kept"));
  EXPECT_FALSE(Exists(dir.Path(name)));
}

TEST(OfferLinkTest, AnOfferThatCannotBeClaimedIsNotShown) {
  if (::geteuid() == 0) GTEST_SKIP() << "root removes files anywhere";
  TempDir dir;
  ::mkdir(dir.Path("locked").c_str(), 0777);
  WriteOffer(dir.Path("locked/.aB3dE9"), "offer");
  ::chmod(dir.Path("locked").c_str(), 0555);
  CgiResult result = OpenLink(Link(".aB3dE9", dir.Path("locked")));
  ::chmod(dir.Path("locked").c_str(), 0777);
  EXPECT_EQ(result.out, std::string(kHeader) + kCantOpen);
  EXPECT_EQ(ReadFile(dir.Path("locked/.aB3dE9")), "offer");
}

TEST(OfferLinkTest, RacingOpensShowTheOfferOnce) {
  TempDir dir;
  // A long offer keeps each showing busy for a while, so the openers overlap.
  std::string content(2 * 1024 * 1024, 'r');
  constexpr int kOpeners = 6;
  for (int round = 0; round < 8; ++round) {
    std::string name = StoreOffer(dir.path, content);
    std::vector<CgiResult> results(kOpeners);
    std::latch start(kOpeners);
    std::vector<std::thread> openers;
    for (CgiResult& result : results) {
      openers.emplace_back([&result, &name, &dir, &start] {
        start.arrive_and_wait();
        result = OpenLink(Link(name, dir.path));
      });
    }
    for (std::thread& opener : openers) opener.join();
    int pages = 0;
    int refused = 0;
    for (const CgiResult& result : results) {
      if (result.out == Page(content)) ++pages;
      if (result.out == kHeader + std::string(kCantOpen)) ++refused;
      EXPECT_EQ(result.status, 0);
    }
    EXPECT_EQ(pages, 1) << "round " << round;
    EXPECT_EQ(refused, kOpeners - 1) << "round " << round;
    EXPECT_FALSE(Exists(dir.Path(name)));
  }
}

TEST(OfferLinkTest, EveryByteOfADirectoryNameDecodes) {
  // Every byte value that can stand in a file name, in one directory name,
  // reached through both ways of writing the letters.
  TempDir dir;
  SKIP_WITHOUT_OFFER_MARKS(dir.path);
  std::string odd_name;
  for (int b = 1; b < 256; ++b) {
    if (b != '/') odd_name += static_cast<char>(b);
  }
  std::string odd_dir = dir.Path(odd_name);
  ASSERT_EQ(::mkdir(odd_dir.c_str(), 0777), 0);
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide letters" : "letters a-p");
    WriteOffer(odd_dir + "/.zZ09aA", "found");
    std::string link =
        wide ? EncodeWide(".zZ09aA") + "z" + EncodeWide(odd_dir) + "z"
             : Link(".zZ09aA", odd_dir);
    CgiResult result = OpenLink(link);
    EXPECT_EQ(result.out, Page("found"));
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(Exists(odd_dir + "/.zZ09aA"));
  }
}

TEST(OfferLinkTest, RefusesNamesThatAreNotOffers) {
  enum Kind { kFile, kSymlink, kDirectory, kFifo };
  struct Case {
    const char* label;
    std::string linked;   // the decoded name in the link
    std::string present;  // what lies in the directory
    Kind kind;
  } cases[] = {
      {"too short", ".ab", ".ab", kFile},
      {"six characters", ".abcde", ".abcde", kFile},
      {"eight characters", ".abcdefg", ".abcdefg", kFile},
      {"no leading dot", "abcdefg", "abcdefg", kFile},
      {"other character", ".abc-ef", ".abc-ef", kFile},
      {"high byte", ".abcde\xe4", ".abcde\xe4", kFile},
      {"into a subdirectory", ".abc/de", ".abc/de", kFile},
      {"parent directory", "..", ".aBc123", kFile},
      {"empty", "", ".aBc123", kFile},
      {"NUL inside", ".aBc123\0x"s, ".aBc123", kFile},
      {"NUL as a name byte", ".aBc12\0"s, ".aBc12", kFile},
      {"symbolic link", ".aBc123", ".aBc123", kSymlink},
      {"directory", ".aBc123", ".aBc123", kDirectory},
      {"FIFO", ".aBc123", ".aBc123", kFifo},
      {"no such offer", ".aBc123", ".xYz789", kFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    WriteFile(dir.Path("target"), "secret");
    std::string present = dir.Path(c.present);
    switch (c.kind) {
      case kFile:
        if (c.present == ".abc/de") ::mkdir(dir.Path(".abc").c_str(), 0777);
        WriteOffer(present, "offer");
        break;
      case kSymlink: ASSERT_EQ(::symlink("target", present.c_str()), 0); break;
      case kDirectory: ASSERT_EQ(::mkdir(present.c_str(), 0777), 0); break;
      case kFifo: ASSERT_EQ(::mkfifo(present.c_str(), 0666), 0); break;
    }
    const auto before = Snapshot(dir.path);
    CgiResult result = OpenLink(Link(c.linked, dir.path));
    ExpectAnswer(result, kCantOpen);
    EXPECT_EQ(Snapshot(dir.path), before);
  }
}

TEST(OfferLinkTest, MalformedLinksReadAndDeleteNothing) {
  TempDir dir;
  const std::string name = ".Offer1";
  WriteOffer(dir.Path(name), "offer");
  const std::string n = EncodeLetterPairs(name);
  const std::string d = EncodeLetterPairs(dir.path);
  struct Case {
    const char* label;
    std::string after_key;
    const char* answer;
  } cases[] = {
      {"nothing", "", kCantOpen},
      {"name without z", n, kCantOpen},
      {"name with a lone letter", n + "b", kCantOpen},
      // A 'z' in second place is a letter, so a name of odd length runs on
      // into the directory and never has the offer form.
      {"z as a second letter", n + "bz", kCantOpen},
      {"odd letters then the directory", n + "bz" + d + "z", kCantOpen},
      {"empty name", "z" + d + "z", kCantOpen},
      {"nothing after the name", n + "z", kCantChangeDirectory},
      {"empty directory", n + "zz", kCantChangeDirectory},
      {"directory without z", n + "z" + d, kCantChangeDirectory},
      {"directory with a lone letter", n + "z" + d + "c", kCantChangeDirectory},
      {"NUL inside the directory",
       n + "z" + EncodeLetterPairs(dir.path + "\0/x"s) + "z",
       kCantChangeDirectory},
      {"missing directory",
       n + "z" + EncodeLetterPairs(dir.Path("missing")) + "z",
       kCantChangeDirectory},
      {"directory is a file", n + "z" + EncodeLetterPairs(dir.Path(name)) + "z",
       kCantChangeDirectory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CgiResult result = OpenLink(c.after_key);
    ExpectAnswer(result, c.answer);
    EXPECT_EQ(ReadFile(dir.Path(name)), "offer");
  }
}

// Without a root a link could reach any file of the offer form the server's
// user can write (a ".bashrc" is one); there it shows only what store made.
// Under a root, every such file in the data tree is an offer, as it always
// was.
TEST(OfferLinkTest, WithoutARootOnlyWhatStoreMadeIsShown) {
  TempDir dir;
  WriteFile(dir.Path(".bashrc"), "secret");
  CgiResult refused = OpenLink(Link(".bashrc", dir.path));
  EXPECT_EQ(refused.out, kHeader + std::string(kCantOpen));
  EXPECT_EQ(ReadFile(dir.Path(".bashrc")), "secret");

  CgiRun confined;
  confined.env = {"QUERY_STRING=" + OfferLinkQuery(".bashrc", dir.path),
                  "TALVEN_ROOT=" + dir.path};
  EXPECT_EQ(RunCgi(confined).out, Page("secret"));
  EXPECT_FALSE(Exists(dir.Path(".bashrc")));
}

// Where the mark cannot be set, store stages no offer that no link could
// show; under a root links need no mark, and store goes on.
TEST(StoreTest, WithoutARootAnOfferMustCarryTheMark) {
  if (!CanInjectFaults())
    GTEST_SKIP() << "faults are injected on x86-64, without sanitizers";
  TempDir dir;
  CgiRun run;
  run.cwd = dir.path;
  run.fault = {SYS_fsetxattr, -1, 1, true, EOPNOTSUPP};
  CgiResult unmarked = RunCommand("s\n.\noffer", run);
  EXPECT_EQ(unmarked.out, kHeader + "fscan't write temporary file"s);
  EXPECT_EQ(ListNames(dir.path), Names{});

  run.env = {"TALVEN_ROOT=" + dir.path};
  CgiResult confined = RunCommand("s\n.\noffer", run);
  ASSERT_EQ(confined.out.substr(0, kHeader.size() + 1), kHeader + "s");
  EXPECT_EQ(ListNames(dir.path),
            Names{confined.out.substr(kHeader.size() + 1)});
}

TEST(OfferLinkTest, KeyMatchesOnlyExactlyAtTheStart) {
  TempDir dir;
  std::string name = StoreOffer(dir.path, "wait");
  std::string link = Link(name, dir.path);
  for (std::string query :
       {"talvenplan_file=" + link, "Talvenplan_File=" + link,
        "x&TALVENPLAN_FILE=" + link, " TALVENPLAN_FILE=" + link,
        "TALVENPLAN_FILE" + link, "TALVENPLAN_FILE%3D" + link}) {
    SCOPED_TRACE(query);
    CgiRun run;
    run.env = {"QUERY_STRING=" + query};
    CgiResult result = RunCgi(run);
    EXPECT_EQ(result.out, kHeader + "fsCONTENT_LENGTH not present"s);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ReadFile(dir.Path(name)), "wait");
  }
  // The method is not looked at, and a body does not change the answer.
  CgiRun post;
  post.env = {"QUERY_STRING=TALVENPLAN_FILE=" + link, "REQUEST_METHOD=POST",
              "CONTENT_LENGTH=4"};
  post.input = "l\n.\n";
  EXPECT_EQ(RunCgi(post).out, Page("wait"));
  EXPECT_FALSE(Exists(dir.Path(name)));
}

}  // namespace
}  // namespace talvenplan::testing
