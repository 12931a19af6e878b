#include "client/client.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "protocol/letter_pair.h"
#include "protocol/request.h"

namespace talvenplan::client {
namespace {

using namespace std::string_literals;

// Decodes a query string made by OfferLinkQuery with the program's own
// decoder: the offer file's name and the directory.
std::pair<std::string, std::string> DecodeQuery(const std::string& query) {
  const std::string key = "TALVENPLAN_FILE=";
  EXPECT_EQ(query.substr(0, key.size()), key);
  std::vector<char> buffer(query.size());
  DecodedName name = DecodeLetterPairs(query.c_str() + key.size(), buffer);
  EXPECT_TRUE(name.complete);
  std::string first(buffer.data(), name.size);
  DecodedName directory = DecodeLetterPairs(name.rest, buffer);
  EXPECT_TRUE(directory.complete);
  EXPECT_STREQ(directory.rest, "");
  return {first, std::string(buffer.data(), directory.size)};
}

TEST(LetterPairTest, EveryByteSurvivesTheProgramsDecoder) {
  std::string all;
  for (int value = 0; value < 256; ++value) {
    char byte = static_cast<char>(value);
    std::string name = {'a', byte, 'z'};
    std::string directory = {byte, '/', 'd'};
    auto [decoded_name, decoded_directory] =
        DecodeQuery(OfferLinkQuery(name, directory));
    EXPECT_EQ(decoded_name, name) << "byte " << value;
    EXPECT_EQ(decoded_directory, directory) << "byte " << value;
    all += byte;
  }
  auto [name, directory] = DecodeQuery(OfferLinkQuery(all, all));
  EXPECT_EQ(name, all);
  EXPECT_EQ(directory, all);
}

TEST(LetterPairTest, WritesLowBitsFirst) {
  EXPECT_EQ(EncodeLetterPairs("abc"), "bgcgdg");
  EXPECT_EQ(OfferLinkQuery("./", "/"), "TALVENPLAN_FILE=ocpczpcz");
}

// Every body the client builds, cut by the program's own parser, gives back
// the fields the client put in.
TEST(BodyTest, ProgramCutsTheFieldsTheClientMeant) {
  struct Case {
    std::string body;
    char letter;
    std::string directory, key, name, text;
  } cases[] = {
      {ListBody("/srv/a b"), 'l', "/srv/a b", "", "", ""},
      {StoreBody("/srv/t", "<p>x\n\0y"s), 's', "/srv/t", "", "", "<p>x\n\0y"s},
      {CommandBody('c', "/d", "k1", "shop"), 'c', "/d", "k1", "shop", ""},
      {CommandBody('p', "/d", "A~!", "x.y", "\nk\n1\n"), 'p', "/d", "A~!",
       "x.y", "\nk\n1\n"},
      {CommandBody('q', "d", "half", "shop"), 'q', "d", "half", "shop", ""},
  };
  for (const Case& c : cases) {
    std::string body = c.body;
    Request request = CutRequest(body.data(), body.size());
    EXPECT_EQ(request.letter, c.letter);
    EXPECT_EQ(request.directory, c.directory) << c.body;
    EXPECT_EQ(request.key, c.key) << c.body;
    EXPECT_EQ(request.name, c.name) << c.body;
    EXPECT_EQ(request.text, c.text) << c.body;
  }
}

TEST(CheckTest, RejectsWhatTheProtocolWouldCutShort) {
  struct Case {
    const char* label;
    std::string problem;
    bool rejected;
  } cases[] = {
      {"directory", DirectoryProblem("/srv/talvenplan/shop 1"), false},
      {"empty directory", DirectoryProblem(""), true},
      {"directory with a newline", DirectoryProblem("/srv\n/x"), true},
      {"directory with a tab", DirectoryProblem("/srv\t"), true},
      {"directory with UTF-8", DirectoryProblem("/srv/h\xc3\xa4"), true},
      {"name", NameProblem("prices.2024-1", "name"), false},
      {"empty name", NameProblem("", "name"), true},
      {"name with a space", NameProblem("a b", "name"), true},
      {"name with a tab", NameProblem("a\tb", "name"), true},
      {"name with UTF-8", NameProblem("h\xc3\xa4ndler", "name"), true},
      {"key", KeyProblem("k1"), false},
      {"key of 8 bytes", KeyProblem("ABCDEFGH"), false},
      {"key with UTF-8 inside", KeyProblem("p\xc3\xa4ss"), false},
      {"empty key", KeyProblem(""), true},
      {"key with a space", KeyProblem("a b"), true},
      {"key with a NUL", KeyProblem("a\0b"s), true},
      {"key with a tab", KeyProblem("a\tb"), true},
      {"key of 9 bytes", KeyProblem("ABCDEFGHI"), true},
      {"key starting with UTF-8", KeyProblem("\xc3\xa4x"), true},
      {"key ending with UTF-8", KeyProblem("x\xc3\xa4"), true},
      {"offer", OfferTextProblem("<p>Dear customer</p>\n"), false},
      {"empty offer", OfferTextProblem(""), true},
      {"offer after a newline", OfferTextProblem("\n<p>"), true},
      {"offer after a space", OfferTextProblem(" <p>"), true},
      {"offer after a byte-order mark", OfferTextProblem("\xef\xbb\xbf<p>"),
       true},
      {"put text", PutTextProblem("k1\n0\n"), false},
      {"put text with a long key line", PutTextProblem("ABCDEFGHIJ\n0\n"),
       false},
      {"put text with trailing blanks", PutTextProblem("k1 \t\n0\n"), false},
      {"empty put text", PutTextProblem(""), true},
      {"put text with an empty key line", PutTextProblem("\n0\n"), true},
      {"put text with a key holding a space", PutTextProblem("a b\n0\n"), true},
      {"put text whose key line has a blank at byte 8",
       PutTextProblem("abcdefg xyz\n1\n"), true},
      {"put text whose key line has a NUL in its first 8 bytes",
       PutTextProblem(std::string_view("abc\0defghi\n1\n", 14)), true},
      {"put text with an 8-byte key line", PutTextProblem("abcdefgh\n0\n"),
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(!c.problem.empty(), c.rejected) << c.label << ": " << c.problem;
  }
}

TEST(AnswerTest, ReadsTheStatusWords) {
  struct Case {
    std::string_view answer;
    Status status;
    std::string_view text;
  } cases[] = {
      {"s", Status::kDone, ""},
      {"sshop\n", Status::kDone, "shop\n"},
      {"s!", Status::kRefused, ""},
      // A listed name or a stored key may begin with "!".
      {"s!x\n", Status::kDone, "!x\n"},
      {"fscan't open database on server", Status::kFailed,
       "can't open database on server"},
      {"", Status::kUnexpected, ""},
      {"<html>Not Found</html>", Status::kUnexpected, "<html>Not Found</html>"},
  };
  for (const Case& c : cases) {
    Answer answer = ReadAnswer(c.answer);
    EXPECT_EQ(answer.status, c.status) << c.answer;
    EXPECT_EQ(answer.text, c.text) << c.answer;
  }
  EXPECT_EQ(ReadProgramOutput("Content-type: text/html\n\ns!").status,
            Status::kRefused);
  EXPECT_EQ(ReadProgramOutput("s").status, Status::kUnexpected);
}

TEST(DatabaseFromGetTest, RejoinsAKeyLineTheKeyCheckCut) {
  // Up to 7 bytes the key line is read whole: the payload is the file.
  EXPECT_EQ(DatabaseFromGet("k1\n0\n"), "k1\n0\n");
  // 8 bytes: the key line's own newline follows the one get adds.
  EXPECT_EQ(DatabaseFromGet("ABCDEFGH\n\n0\n"), "ABCDEFGH\n0\n");
  EXPECT_EQ(DatabaseFromGet("ABCDEFGH\nIJ\n0\n"), "ABCDEFGHIJ\n0\n");
  // A short key before a blank line: its key line may have ended in blanks
  // or a carriage return the key check trimmed ('abcdefg\r\n', 'shop1   \n'),
  // and where it ended cannot be told.
  EXPECT_EQ(DatabaseFromGet("abcdefg\n\n1\r\n"), std::nullopt);
  EXPECT_EQ(DatabaseFromGet("shop1\n  \n1\n"), std::nullopt);
}

Invocation Parse(std::vector<const char*> args, const char* env_url) {
  return ParseArguments(args, env_url);
}

TEST(ArgumentsTest, TakesOptionsAnywhere) {
  Invocation get =
      Parse({"get", "/d", "-o", "out", "shop", "--url", "u", "k"}, "ignored");
  EXPECT_EQ(get.error, "");
  EXPECT_EQ(get.command, Command::kGet);
  EXPECT_EQ(get.url, "u");
  EXPECT_EQ(get.output, "out");
  EXPECT_EQ(get.args, (std::vector<std::string>{"/d", "shop", "k"}));

  Invocation put = Parse({"put", "--", "-d", "n", "k", "-"}, "http://x");
  EXPECT_EQ(put.error, "");
  EXPECT_EQ(put.url, "http://x");
  EXPECT_EQ(put.args, (std::vector<std::string>{"-d", "n", "k", "-"}));

  EXPECT_EQ(Parse({"link", "n", "d"}, nullptr).error, "");
  EXPECT_EQ(Parse({"--local", "p", "list", "d"}, "u").url, "");
  EXPECT_EQ(Parse({"--help"}, nullptr).command, Command::kHelp);
}

TEST(ArgumentsTest, RefusesWhatItCannotRun) {
  std::vector<const char*> bad[] = {
      {},
      {"fetch", "d"},
      {"list"},
      {"list", "d", "e"},
      {"put", "d", "n", "k", "f", "g"},
      {"list", "d", "-o", "f"},
      {"list", "d", "--url"},
      {"list", "d", "-x"},
      {"list", "d", "--url", "u", "--local", "p"},
      // An empty value must not fall back to something else.
      {"get", "d", "n", "k", "-o", ""},
      {"list", "d", "--local", ""},
      {"list", "d", "--url", ""},
      // Help beside a command runs neither: a key "-h" is no success.
      {"remove", "d", "n", "-h"},
  };
  for (const auto& args : bad) {
    EXPECT_NE(Parse(args, "u").error, "") << (args.empty() ? "" : args[0]);
  }
  EXPECT_NE(Parse({"list", "d"}, nullptr).error, "");
  EXPECT_NE(Parse({"list", "d"}, "").error, "");
}

}  // namespace
}  // namespace talvenplan::client
