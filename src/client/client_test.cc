#include "client/client.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "client/commands.h"
#include "client/transport.h"
#include "vectors.h"

namespace talvenplan::client {
namespace {

std::string Check(const std::string& what, const std::string& value) {
  if (what == "directory") return DirectoryProblem(value);
  if (what == "name") return NameProblem(value, "name");
  if (what == "factor") return NameProblem(value, "factor name");
  if (what == "create_name") return CreateNameProblem(value);
  if (what == "key") return KeyProblem(value);
  if (what == "offer_text") return OfferTextProblem(value);
  if (what == "put_text") return PutTextProblem(value);
  ADD_FAILURE() << "no check for " << what;
  return {};
}

TEST(CheckTest, RefusesWhatTheProtocolWouldChange) {
  auto vectors = testing::ReadVectors("client.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& vector : vectors) {
    ASSERT_EQ(vector.size(), 3u);
    const std::string& verdict = vector[2];
    ASSERT_TRUE(verdict == "ok" || verdict == "refused") << verdict;
    std::string problem = Check(vector[0], vector[1]);
    EXPECT_EQ(problem.empty(), verdict == "ok")
        << vector[0] << " " << Quote(vector[1]) << ": " << problem;
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
  EXPECT_EQ(DatabaseFromGet("k1\n 12\r\nx\n"), "k1\n 12\r\nx\n");
  // 8 bytes: the key line's own newline follows the one get adds.
  EXPECT_EQ(DatabaseFromGet("ABCDEFGH\n\n0\n"), "ABCDEFGH\n0\n");
  EXPECT_EQ(DatabaseFromGet("ABCDEFGH\nIJ\n0\n"), "ABCDEFGHIJ\n0\n");
  // A short key before a blank line: its key line may have ended in blanks
  // or a carriage return the key check trimmed ('abcdefg\r\n', 'shop1   \n'),
  // and where it ended cannot be told.
  EXPECT_EQ(DatabaseFromGet("abcdefg\n\n1\r\n"), std::nullopt);
  EXPECT_EQ(DatabaseFromGet("shop1\n  \n1\n"), std::nullopt);
  // Or the factor count follows a line the key check cut ('abcdefg xyz').
  EXPECT_EQ(DatabaseFromGet("abcdefg\nxyz\n1\n"), std::nullopt);
}

TEST(OfferLinkTest, PutsTheOfferQueryFirst) {
  std::string error;
  EXPECT_EQ(OfferLink("http://h/t.cgi", "TALVENPLAN_FILE=ab", error),
            "http://h/t.cgi?TALVENPLAN_FILE=ab");
  // The program ignores what follows the directory, but sees an offer link
  // only where the query string begins with the key.
  EXPECT_EQ(
      OfferLink("https://h:8/t.cgi?site=2#top", "TALVENPLAN_FILE=ab", error),
      "https://h:8/t.cgi?TALVENPLAN_FILE=ab&site=2#top");
  EXPECT_EQ(OfferLink("http://", "TALVENPLAN_FILE=ab", error), "");
  EXPECT_EQ(error, curl_url_strerror(CURLUE_NO_HOST));
}

Invocation Parse(std::vector<std::string> words, const char* env_url,
                 Environment env = {}) {
  env.url = env_url;
  static std::vector<std::string> kept;  // getopt may keep pointers
  kept = std::move(words);
  kept.insert(kept.begin(), "talvenplan-client");
  std::vector<char*> argv;
  for (std::string& word : kept) argv.push_back(word.data());
  argv.push_back(nullptr);
  return ParseArguments(static_cast<int>(kept.size()), argv.data(), env);
}

TEST(ArgumentsTest, TakesOptionsAnywhere) {
  Invocation get = Parse(
      {"get", "/d", "-o", "out", "shop", "--url", "u", "k", "-u", "ann:p:w"},
      "ignored");
  EXPECT_EQ(get.error, "");
  ASSERT_NE(get.command, nullptr);
  EXPECT_EQ(get.command->name, "get");
  EXPECT_EQ(get.url, "u");
  EXPECT_EQ(get.output, "out");
  EXPECT_EQ(get.login.user, "ann");
  EXPECT_EQ(get.login.password, "p:w");
  EXPECT_EQ(get.args, (std::vector<std::string>{"/d", "shop", "k"}));

  Invocation put = Parse({"put", "--", "-d", "n", "k", "-"}, "http://x");
  EXPECT_EQ(put.error, "");
  EXPECT_EQ(put.url, "http://x");
  EXPECT_EQ(put.login.user, std::nullopt);
  EXPECT_EQ(put.args, (std::vector<std::string>{"-d", "n", "k", "-"}));

  EXPECT_EQ(Parse({"--user=ann", "list", "d"}, "u").login.password,
            std::nullopt);
  EXPECT_EQ(Parse({"link", "n", "d"}, nullptr).error, "");
  EXPECT_EQ(Parse({"--local", "p", "list", "d"}, "u").url, "");
  Invocation help = Parse({"--help"}, nullptr);
  EXPECT_EQ(help.error, "");
  EXPECT_EQ(help.command, nullptr);
}

// A KEY of "-" comes from --key-file, else TALVENPLAN_KEY, else standard
// input; the password of --user USER from --password-file, else
// TALVENPLAN_PASSWORD. What is given as an argument comes first.
TEST(ArgumentsTest, TakesKeysAndPasswordsFromElsewhere) {
  const Environment secrets = {.key = "k9", .password = "pw"};
  struct Case {
    std::vector<std::string> args;
    Environment env;
    std::string key, key_file;
    std::optional<std::string> password;
  } cases[] = {
      {{"get", "d", "n", "-"}, secrets, "k9", "", std::nullopt},
      // Standard input is left to the text.
      {{"put", "d", "n", "-", "-"}, secrets, "k9", "", std::nullopt},
      {{"restore", "d", "n", "-", "s"}, secrets, "k9", "", std::nullopt},
      {{"get", "d", "n", "k1"}, secrets, "k1", "", std::nullopt},
      {{"--key-file", "f", "get", "d", "n", "-"},
       secrets,
       "-",
       "f",
       std::nullopt},
      {{"get", "d", "n", "-"}, {}, "-", "-", std::nullopt},
      {{"--key-file", "-", "put", "d", "n", "-", "f"},
       {},
       "-",
       "-",
       std::nullopt},
      {{"-u", "ann", "get", "d", "n", "k1"}, secrets, "k1", "", "pw"},
      {{"-u", "ann:x", "get", "d", "n", "k1"}, secrets, "k1", "", "x"},
      {{"-u", "ann", "--password-file", "f", "get", "d", "n", "k1"},
       secrets,
       "k1",
       "",
       std::nullopt},
  };
  for (const Case& c : cases) {
    Invocation invocation = Parse(c.args, "u", c.env);
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    EXPECT_EQ(invocation.error, "") << line;
    ASSERT_GE(invocation.args.size(), 3u) << line;
    EXPECT_EQ(invocation.args[2], c.key) << line;
    EXPECT_EQ(invocation.key_file, c.key_file) << line;
    EXPECT_EQ(invocation.login.password, c.password) << line;
  }
}

TEST(ArgumentsTest, RefusesWhatItCannotRun) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{}, "no command given"},
      {{"fetch", "d"}, "unknown command fetch"},
      {{"list"}, "wrong number of arguments for list"},
      {{"list", "d", "e"}, "wrong number of arguments for list"},
      {{"put", "d", "n", "k", "f", "g"}, "wrong number of arguments for put"},
      {{"list", "d", "-o", "f"}, "-o is for get only"},
      {{"list", "d", "--url"}, "--url needs a value"},
      {{"list", "d", "-x"}, "unknown option -x"},
      {{"list", "d", "--colour"}, "unknown option --colour"},
      {{"list", "d", "--url", "u", "--local", "p"},
       "give either --url or --local, not both"},
      {{"list", "d", "--local", "p", "--user", "ann"},
       "--user and --netrc-file log in to a web server, not --local"},
      {{"list", "d", "--netrc-file", "/nonexistent/netrc"},
       "can't read /nonexistent/netrc: No such file or directory"},
      // An empty value must not fall back to something else.
      {{"get", "d", "n", "k", "-o", ""}, "-o needs a value, not an empty one"},
      {{"list", "d", "--local", ""}, "--local needs a value, not an empty one"},
      {{"list", "d", "--url="}, "--url needs a value, not an empty one"},
      // Standard input can give one thing only.
      {{"put", "d", "n", "-"},
       "the key and the text would both come from standard input, which can "
       "give only one of them: give the other from a file"},
      {{"-u", "ann", "--password-file", "-", "offer", "d", "-"},
       "the password and the text would both come from standard input, which "
       "can give only one of them: give the other from a file"},
      {{"--password-file=-", "-u", "ann", "put", "d", "n", "-"},
       "the key, the password and the text would all come from standard "
       "input, which can give only one of them: give the others from files"},
      {{"--key-file", "k", "list", "d"},
       "--key-file is for commands that take a KEY"},
      {{"--key-file", "k", "get", "d", "n", "k1"},
       "with --key-file, give - as KEY"},
      {{"--key-file", "k", "get", "d", "n"},
       "wrong number of arguments for get (with --key-file, give - as KEY)"},
      {{"--password-file", "p", "list", "d"},
       "--password-file gives the password of --user USER"},
      {{"-u", "ann:x", "--password-file", "p", "list", "d"},
       "give the password after --user USER: or with --password-file, not "
       "both"},
      // Help beside a command runs neither: a key "-h" is no success.
      {{"remove", "d", "n", "-h"},
       "--help stands alone (put -- before arguments that begin with -)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.args, "u").error, c.error)
        << (c.args.empty() ? "" : c.args[0]);
  }
  const char kNoServer[] =
      "no server: give --url URL, set TALVENPLAN_URL, or use --local PATH";
  EXPECT_EQ(Parse({"list", "d"}, nullptr).error, kNoServer);
  EXPECT_EQ(Parse({"list", "d"}, "").error, kNoServer);
}

}  // namespace
}  // namespace talvenplan::client
