// Black-box tests: the built talvenplan-client against the built program,
// run directly (--local) and served by lighttpd (the e2e fixture; those tests
// are named Http/...).
#include "client/client.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "client/run_client.h"
#include "harness.h"
#include "protocol/request.h"
#include "vectors.h"

namespace talvenplan::client {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kOfferForm =
    " has the form of an offer file (\".\" and six letters or digits), which "
    "an offer link could show and delete without the key: the server does "
    "not create such databases";
const std::string kPrices =
    "k1\n2\nretail 1.0\nhalf 0.5\nTitle\n\"B\"\n2\nChair 10\nTable 99.5\nend\n";
const std::string kOffer =
    "<p>Dear customer,</p><table><tr><td>Chair</td>"
    "<td>39.92</td></tr></table>";

enum class Via { kProgram, kLighttpd };

void PrintTo(Via via, std::ostream* out) {
  *out << (via == Via::kProgram ? "--local" : "TALVENPLAN_URL");
}

class ClientTest : public ::testing::TestWithParam<Via> {
 protected:
  void SetUp() override {
    if (GetParam() == Via::kProgram) {
      dir_ = local_.Path("data");
      std::filesystem::create_directory(dir_);
      return;
    }
    std::string e2e = TALVENPLAN_E2E_DIR;
    std::string port = ReadFile(e2e + "/port");
    url_ = "http://127.0.0.1:" + port.substr(0, port.find('\n')) +
           "/talvenplan.cgi";
    // A dot directory inside the served data, so that other tests' listings
    // of the data directory do not see it.
    std::string pattern = e2e + "/data/.client-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (GetParam() == Via::kLighttpd) std::filesystem::remove_all(dir_);
  }

  // The client with the server to use: --local, or TALVENPLAN_URL.
  Outcome Client(std::vector<std::string> args, const std::string& input = "") {
    if (GetParam() == Via::kProgram) {
      args.insert(args.begin(), {"--local", TALVENPLAN_CGI});
      return RunClient(args, input, {"TALVEN_VERSIONS=50"});
    }
    return RunClient(args, input, {"TALVENPLAN_URL=" + url_});
  }

  // Opens an offer link the client printed, as a browser would.
  std::string OpenLink(const std::string& printed) {
    std::string link = printed.substr(0, printed.find('\n'));
    if (GetParam() == Via::kLighttpd) {
      return RunProgram({"curl", "-s", link}, "", {}).out;
    }
    testing::CgiRun run;
    run.env = {"QUERY_STRING=" + link};
    return testing::RunCgi(run).out.substr(testing::kHeader.size());
  }

  TempDir local_;  // files of the client's own
  std::string dir_;
  std::string url_;
};

TEST_P(ClientTest, DatabaseRoundTrip) {
  ExpectDone(Client({"create", dir_, "shop", "k1"}), "");
  ExpectFailure(Client({"create", dir_, "shop", "k1"}), 3,
                "refused: \"shop\" already exists in " + Quote(dir_));
  ExpectDone(Client({"list", dir_}), "shop\n");
  ExpectDone(Client({"get", dir_, "shop", "k1"}), "k1\n0\n0\n\"\"\n0\n0\n0\n");

  WriteFile(local_.Path("prices"), kPrices);
  ExpectDone(Client({"put", dir_, "shop", "k1", local_.Path("prices")}), "");
  ExpectDone(Client({"get", dir_, "shop", "k1", "-o", local_.Path("copy")}),
             "");
  EXPECT_EQ(ReadFile(local_.Path("copy")), kPrices);

  const std::string no_such =
      "refused: there is no database \"shop\" in " + Quote(dir_) + ", or \"";
  ExpectFailure(Client({"get", dir_, "shop", "k2"}), 3,
                no_such + "k2\" is not its key");
  ExpectFailure(Client({"put", dir_, "shop", "k2", "-"}, kPrices), 3,
                "refused: \"k2\" is not the key of \"shop\"");
  ExpectFailure(Client({"remove", dir_, "shop", "k2"}), 3,
                "refused: \"k2\" is not the key of \"shop\"");
  // A key that was kept out of the command line stays out of messages too.
  ExpectFailure(Client({"remove", dir_, "shop", "-"}, "k2\n"), 3,
                "refused: the key given is not the key of \"shop\"");
  ExpectDone(Client({"remove", dir_, "shop", "k1"}), "");
  ExpectFailure(Client({"get", dir_, "shop", "k1"}), 3,
                no_such + "k1\" is not its key");
  ExpectFailure(Client({"remove", dir_, "shop", "k1"}), 1,
                "the server failed: can't open database on server");
  ExpectDone(Client({"list", dir_}), "\n");
}

// Versions the server keeps, listed oldest first, read with the key each
// had, and put back; a removed database comes back the same way.
TEST_P(ClientTest, VersionsAreListedReadAndRestored) {
  ExpectDone(Client({"create", dir_, "shop", "k1"}), "");
  ExpectFailure(Client({"versions", dir_, "shop"}), 1,
                "the server failed: can't change directory on server (no "
                "versions of \"shop\": the server keeps none "
                "(TALVEN_VERSIONS), or it was never replaced or removed)");
  ExpectDone(Client({"put", dir_, "shop", "k1", "-"}, kPrices), "");
  // Who saved each, as a web server's login would have recorded it: shown
  // decoded, but for a control byte, which would break the line.
  constexpr char kLogin[] = "J%C3%A4rvi%40shop%0A";
  if (::setxattr((dir_ + "/shop").c_str(), "user.talvenplan.by", kLogin,
                 sizeof kLogin - 1, 0) == 0) {
    ExpectDone(Client({"list", dir_, "--by"}), "shop\tJ\xc3\xa4rvi@shop%0A\n");
    Outcome saved = Client({"versions", dir_, "shop", "--by"});
    EXPECT_EQ(saved.out.substr(23), "\t\n") << saved.out;
  }
  ExpectDone(Client({"remove", dir_, "shop", "k1"}), "");
  // A removed list's history is kept apart, under its name and the time it
  // was removed.
  Outcome lists = Client({"versions", dir_});
  ASSERT_EQ(lists.out.size(), 5 + 24u) << lists.out;
  EXPECT_EQ(lists.out.substr(0, 5), "shop ");
  Outcome versions = Client({"versions", dir_, "shop"});
  ASSERT_EQ(versions.status, 0);
  ASSERT_EQ(versions.out.size(), 2 * 24u) << versions.out;
  std::string first = versions.out.substr(0, 23);
  std::string last = versions.out.substr(24, 23);
  EXPECT_LT(first, last);
  ExpectDone(Client({"get", dir_, "shop", "k1", "--version", first}),
             "k1\n0\n0\n\"\"\n0\n0\n0\n");
  ExpectFailure(Client({"get", dir_, "shop", "k2", "--version", first}), 3,
                "refused: there is no version " + Quote(first) +
                    " of \"shop\", or \"k2\" is not the key it had");
  ExpectFailure(Client({"restore", dir_, "shop", "k1", "2026-12-09"}), 2,
                "\"2026-12-09\" is not a version's name (such as "
                "20261209T045512.123456Z)");

  ExpectDone(Client({"restore", dir_, "shop", "k1", last}), "");
  ExpectDone(Client({"get", dir_, "shop", "k1"}), kPrices);
  ExpectDone(Client({"restore", dir_, "shop", "k1", first}), "");
  ExpectDone(Client({"get", dir_, "shop", "k1"}), "k1\n0\n0\n\"\"\n0\n0\n0\n");
  // The removed list's two, the made-again database the first restore
  // replaced, and what the second replaced.
  EXPECT_EQ(Client({"versions", dir_, "shop"}).out.size(), 4 * 24u);
  // A new list under the name of a removed one: both histories are listed,
  // and the removed one's versions are still read and restored by stamp.
  ExpectDone(Client({"remove", dir_, "shop", "k1"}), "");
  ExpectDone(Client({"create", dir_, "shop", "k2"}), "");
  ExpectDone(Client({"put", dir_, "shop", "k2", "-"}, "k2\nnew\n"), "");
  EXPECT_EQ(Client({"versions", dir_, "shop"}).out.size(), 6 * 24u);
  ExpectDone(Client({"get", dir_, "shop", "k1", "--version", last}), kPrices);
}

// get answers an 8-byte key and a newline, and the rest of the key line
// after it: -o joins them again, so the file goes back unchanged.
TEST_P(ClientTest, LongKeyLineSurvivesGetAndPut) {
  const std::string text = "ABCDEFGHIJ\n1\nhalf 0.5\nA\nB\n0\n";
  ExpectDone(Client({"create", dir_, "shop", "ABCDEFGH"}), "");
  ExpectDone(Client({"put", dir_, "shop", "ABCDEFGH"}, text), "");
  ExpectDone(Client({"get", dir_, "shop", "ABCDEFGH"}),
             "ABCDEFGH\nIJ\n1\nhalf 0.5\nA\nB\n0\n");
  ExpectDone(Client({"get", dir_, "shop", "ABCDEFGH", "-o", local_.Path("f")}),
             "");
  EXPECT_EQ(ReadFile(local_.Path("f")), text);
  ExpectDone(Client({"put", dir_, "shop", "ABCDEFGH", local_.Path("f")}), "");
  EXPECT_EQ(ReadFile(dir_ + "/shop"), text);
}

TEST_P(ClientTest, QueryRepricesThePriceSection) {
  ExpectDone(Client({"create", dir_, "shop", "k1"}), "");
  ExpectDone(Client({"put", dir_, "shop", "k1"}, kPrices), "");
  ExpectDone(Client({"query", dir_, "shop", "half"}),
             "Title\n\"B\"\n2\nChair 5.000000\nTable 49.750000\nend\n");
  ExpectFailure(Client({"query", dir_, "shop", "double"}), 3,
                "refused: there is no database \"shop\" in " + Quote(dir_) +
                    ", or it has no factor \"double\"");
}

TEST_P(ClientTest, OfferIsShownOnceThroughItsLink) {
  WriteFile(local_.Path("offer.html"), kOffer);
  Outcome offer = Client({"offer", dir_, local_.Path("offer.html")});
  EXPECT_EQ(offer.status, 0) << offer.err;
  EXPECT_EQ(offer.err, "");
  std::vector<std::string> names = testing::ListNames(dir_);
  ASSERT_EQ(names.size(), 1u);
  Outcome link = RunClient({"link", names[0], dir_});
  std::string prefix = GetParam() == Via::kProgram ? "" : url_ + "?";
  EXPECT_EQ(link.status, 0) << link.err;
  EXPECT_EQ(offer.out, prefix + link.out);

  EXPECT_EQ(OpenLink(offer.out), testing::ReadOfferPage().Around(kOffer));
  EXPECT_EQ(OpenLink(offer.out), "error on server: can't open temp file");
}

// The server creates no database named like an offer file, which an offer
// link could show and delete without the key; one already there is still
// put and removed with its key.
// A file of an offer's name may be an offer: the server never rewrites or
// removes one by a database key.
TEST_P(ClientTest, OfferFormNamesAreNeverWritten) {
  ExpectFailure(Client({"create", dir_, ".dbAB12", "k1"}), 2,
                "the name \".dbAB12\"" + kOfferForm);
  const std::string made = "k1\n0\n0\n\"\"\n0\n0\n0\n";
  WriteFile(dir_ + "/.dbAB12", made);
  ExpectFailure(Client({"put", dir_, ".dbAB12", "k1"}, kPrices), 3,
                "refused: \"k1\" is not the key of \".dbAB12\"");
  ExpectFailure(Client({"remove", dir_, ".dbAB12", "k1"}), 3,
                "refused: \"k1\" is not the key of \".dbAB12\"");
  EXPECT_EQ(ReadFile(dir_ + "/.dbAB12"), made);
}

// A key line with a blank at its 8th byte: the key check trims it, and get's
// answer reads as the key line "abcdefg" and a second line "xyz". get -o says
// so and writes nothing.
TEST_P(ClientTest, GetToFileRefusesAKeyLineItCannotGiveBack) {
  WriteFile(dir_ + "/shop", "abcdefg xyz\n1\nhalf 0.5\nA\nB\n0\n");
  ExpectFailure(
      Client({"get", dir_, "shop", "abcdefg", "-o", local_.Path("copy")}), 2,
      "the key line of \"shop\" ends in blanks or a carriage return within "
      "its first 8 bytes, and the server trims them: get cannot give this "
      "database back whole, so no file was written (get it without -o to see "
      "the answer)");
  EXPECT_FALSE(testing::Exists(local_.Path("copy")));
  ExpectDone(Client({"get", dir_, "shop", "abcdefg"}),
             "abcdefg\nxyz\n1\nhalf 0.5\nA\nB\n0\n");
}

TEST_P(ClientTest, ServerFailureIsStatusOne) {
  ExpectFailure(Client({"list", "/nonexistent/talvenplan"}), 1,
                "the server failed: can't change directory on server");
}

std::string ViaName(const ::testing::TestParamInfo<Via>& info) {
  return info.param == Via::kProgram ? "program" : "lighttpd";
}

INSTANTIATE_TEST_SUITE_P(Local, ClientTest, ::testing::Values(Via::kProgram),
                         ViaName);
INSTANTIATE_TEST_SUITE_P(Http, ClientTest, ::testing::Values(Via::kLighttpd),
                         ViaName);

// Nothing is sent for these, one of each kind of argument (the rules
// themselves are the vectors'): were it sent, the missing program would be
// reported instead.
TEST(ClientRejectionTest, RefusesWhatTheProtocolCannotCarry) {
  struct Case {
    std::vector<std::string> args;
    std::string input, message;
  } cases[] = {
      {{"list", ""}, "", "the directory is empty"},
      {{"create", "/d", "my shop", "k1"},
       "",
       "the name holds the byte 0x20 (a space), which would end it early"},
      {{"create", "/d", ".aB3xY9", "k1"},
       "",
       "the name \".aB3xY9\"" + kOfferForm},
      {{"get", "/d", "shop", "ABCDEFGHI"},
       "",
       "a key has at most 8 bytes: the server compares no more of it"},
      {{"query", "/d", "shop", "x\ty"},
       "",
       "the factor name holds the byte 0x09 (a tab), which would end it early"},
      {{"put", "/d", "shop", "k1", "-"},
       "\n0\n",
       "the text's first line is the new key line, and its key \"\" could not "
       "be sent again (the key is empty)"},
      {{"put", "/d", "shop", "k1", "/nonexistent/f"},
       "",
       "can't open /nonexistent/f: No such file or directory"},
      {{"offer", "/d"},
       "\n<p>x</p>",
       "the offer text begins with the byte 0x0a (a newline); the server drops "
       "blank, control and non-ASCII bytes at the start of an offer, so begin "
       "it with a visible character such as '<'"},
      {{"link", "", "/d"},
       "",
       "the offer file name and the directory must not be empty"},
      // A key from elsewhere passes the same checks.
      {{"get", "/d", "shop", "-"},
       "a b\n",
       "a key cannot hold a space: it ends the key"},
      {{"get", "/d", "shop", "-"},
       "",
       "no key in standard input: its first line is empty"},
      {{"--key-file", "/nonexistent/key", "get", "/d", "shop", "-"},
       "",
       "can't open /nonexistent/key: No such file or directory"},
      {{"put", "/d", "shop", "-"},
       "k1\n0\n",
       "the key and the text would both come from standard input, which can "
       "give only one of them: give the other from a file (see "
       "talvenplan-client --help)"},
  };
  for (Case& c : cases) {
    c.args.insert(c.args.begin(), {"--local", "/nonexistent/talvenplan.cgi"});
    ExpectFailure(RunClient(c.args, c.input), 2, c.message);
  }
}

TEST(ClientExitTest, UsageAndConnectionErrorsAreStatusTwo) {
  ExpectFailure(RunClient({"list", "/d"}), 2,
                "no server: give --url URL, set TALVENPLAN_URL, or use --local "
                "PATH (see talvenplan-client --help)");
  ExpectFailure(RunClient({"list"}), 2,
                "wrong number of arguments for list (see talvenplan-client "
                "--help)");
  ExpectFailure(RunClient({"--local", "/nonexistent/x.cgi", "list", "/d"}), 2,
                "can't run /nonexistent/x.cgi: No such file or directory");
  // curl's own words say how long the attempt took.
  Outcome unreached =
      RunClient({"--url", "http://127.0.0.1:1/x.cgi", "list", "/d"});
  EXPECT_EQ(unreached.status, 2);
  EXPECT_TRUE(
      unreached.err.starts_with(
          "talvenplan-client: can't reach http://127.0.0.1:1/x.cgi: ") &&
      unreached.err.ends_with(" (curl error 7)\n"))
      << unreached.err;
}

// README shows --help whole, so the two cannot drift apart.
TEST(ClientHelpTest, ReadmeShowsTheHelpText) {
  Outcome help = RunClient({"--help"});
  ExpectDone(help, help.out);
  EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
  std::string readme = ReadFile(TALVENPLAN_README);
  EXPECT_NE(
      readme.find("```text\n$ talvenplan-client --help\n" + help.out + "```\n"),
      std::string::npos)
      << help.out;
}

TEST(ClientExitTest, LocalProgramMustAnswerWithTheHeader) {
  ExpectFailure(RunClient({"--local", "/bin/true", "list", "/d"}), 1,
                "/bin/true does not answer as talvenplan.cgi: its output is "
                "empty");
}

// The settings the web server configurations give the program: the root
// that confines it, and the versions a put keeps.
TEST(ClientExitTest, LocalRunPassesOnTheServerSettings) {
  TempDir root;
  const std::vector<std::string> confined = {"TALVEN_ROOT=" + root.path};
  std::vector<std::string> versions = confined;
  versions.push_back("TALVEN_VERSIONS=3");
  auto local = [](std::vector<std::string> args,
                  const std::vector<std::string>& env,
                  const std::string& input = "") {
    args.insert(args.begin(), {"--local", TALVENPLAN_CGI});
    return RunClient(args, input, env);
  };
  ExpectFailure(local({"list", "/tmp"}, confined), 1,
                "the server failed: can't change directory on server");
  ExpectDone(local({"list", root.path}, confined), "\n");

  ExpectDone(local({"create", root.path, "shop", "k1"}, versions), "");
  ExpectDone(local({"put", root.path, "shop", "k1"}, versions, kPrices), "");
  Outcome kept = local({"versions", root.path, "shop"}, versions);
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out.size(), 24u) << kept.out;
  // Without TALVEN_VERSIONS a put keeps none.
  ExpectDone(local({"create", root.path, "plain", "k1"}, confined), "");
  ExpectDone(local({"put", root.path, "plain", "k1"}, confined, kPrices), "");
  EXPECT_FALSE(testing::Exists(root.Path(".versions/plain")));
}

// A program that answers with the request it got and the command line of
// the client that ran it, as anyone's ps would show it.
const char kShowsCommandLine[] =
    "#!/bin/sh\n"
    "printf 'Content-type: text/html\\n\\ns'\n"
    "head -c \"$CONTENT_LENGTH\"\n"
    "echo\n"
    "tr '\\0' ' ' </proc/$PPID/cmdline\n";

// A key from a file, standard input or the environment reaches the server,
// and the client's command line never holds it.
TEST(ClientSecretTest, KeyFromElsewhereIsSentButNotOnTheCommandLine) {
  TempDir dir;
  const std::string program = dir.Path("shows.cgi");
  WriteFile(program, kShowsCommandLine);
  ::chmod(program.c_str(), 0755);
  const std::string key_file = dir.Path("key"), crlf_file = dir.Path("crlf");
  WriteFile(key_file, "Zq7kW2\nsecond line\n");
  WriteFile(crlf_file, "Zq7kW2\r\n");
  ::chmod(key_file.c_str(), 0600);
  ::chmod(crlf_file.c_str(), 0600);
  struct Case {
    std::vector<std::string> options;
    std::string input;
    std::vector<std::string> env;
  } cases[] = {
      {{"--key-file", key_file}, "", {}},
      {{"--key-file", crlf_file}, "", {}},
      {{"--key-file", key_file}, "", {"TALVENPLAN_KEY=other"}},
      {{"--key-file", "-"}, "Zq7kW2\n", {}},
      {{}, "Zq7kW2", {}},
      {{}, "", {"TALVENPLAN_KEY=Zq7kW2"}},
  };
  const std::string body = BuildBody('g', "/d", "Zq7kW2", "shop");
  for (Case& c : cases) {
    std::vector<std::string> args = {"--local", program};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"get", "/d", "shop", "-"});
    std::string command_line = TALVENPLAN_CLIENT " ";
    for (const std::string& arg : args) command_line += arg + " ";
    ExpectDone(RunClient(args, c.input, c.env), body + "\n" + command_line);
  }

  ::chmod(key_file.c_str(), 0644);
  Outcome open = RunClient(
      {"--local", program, "--key-file", key_file, "get", "/d", "shop", "-"});
  EXPECT_EQ(open.status, 0);
  EXPECT_EQ(open.err,
            "talvenplan-client: warning: every user can read the key "
            "in " +
                key_file + " (chmod o-r " + key_file + ")\n");
}

}  // namespace
}  // namespace talvenplan::client
