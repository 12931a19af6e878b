// Black-box tests: the built talvenplan-client against the built program,
// run directly (--local) and served by lighttpd (the e2e fixture; those tests
// are named Http/...).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

extern char** environ;

namespace talvenplan::client {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct Outcome {
  std::string out, err;
  int status = -1;
};

std::string ReadBack(int fd) {
  std::string content;
  char block[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0;) {
    content.append(block, static_cast<std::size_t>(got));
  }
  return content;
}

// Runs `argv` (searched in PATH) with `input` on standard input and exactly
// the environment `env`.
Outcome RunProgram(std::vector<std::string> argv, const std::string& input,
                   std::vector<std::string> env) {
  int in = ::memfd_create("in", MFD_CLOEXEC);
  int out = ::memfd_create("out", MFD_CLOEXEC);
  int err = ::memfd_create("err", MFD_CLOEXEC);
  EXPECT_EQ(::write(in, input.data(), input.size()),
            static_cast<ssize_t>(input.size()));
  ::lseek(in, 0, SEEK_SET);
  std::vector<char*> args, envp;
  for (std::string& arg : argv) args.push_back(arg.data());
  for (std::string& entry : env) envp.push_back(entry.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  pid_t pid = 0;
  Outcome run;
  if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
                     envp.data()) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadBack(out);
  run.err = ReadBack(err);
  ::close(in);
  ::close(out);
  ::close(err);
  return run;
}

Outcome RunClient(std::vector<std::string> args, const std::string& input = "",
                  std::vector<std::string> env = {}) {
  args.insert(args.begin(), TALVENPLAN_CLIENT);
  return RunProgram(args, input, env);
}

void ExpectDone(const Outcome& run, const std::string& out) {
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, "");
}

void ExpectFailure(const Outcome& run, int status, const std::string& message) {
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(message), std::string::npos)
      << "\"" << message << "\" not in: " << run.err;
}

const std::string kPrices =
    "k1\n2\nretail 1.0\nhalf 0.5\nTitle\n\"B\"\n2\nChair 10\nTable 99.5\nend\n";
const std::string kOffer =
    "<p>Dear customer,</p><table><tr><td>Chair</td>"
    "<td>39.92</td></tr></table>";
const std::string kPage =
    "<html><head><title>Offer</title></head><body>\n<h1 align=\"center\">"
    "Offer</h1>\n" +
    kOffer + "</body></html>\n";

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
      return RunClient(args, input);
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
  ExpectFailure(Client({"create", dir_, "shop", "k1"}), 3, "already exists");
  ExpectDone(Client({"list", dir_}), "shop\n");
  ExpectDone(Client({"get", dir_, "shop", "k1"}), "k1\n0\n0\n\"\"\n0\n0\n0\n");

  WriteFile(local_.Path("prices"), kPrices);
  ExpectDone(Client({"put", dir_, "shop", "k1", local_.Path("prices")}), "");
  ExpectDone(Client({"get", dir_, "shop", "k1", "-o", local_.Path("copy")}),
             "");
  EXPECT_EQ(ReadFile(local_.Path("copy")), kPrices);

  ExpectFailure(Client({"get", dir_, "shop", "k2"}), 3, "is not its key");
  ExpectFailure(Client({"put", dir_, "shop", "k2", "-"}, kPrices), 3,
                "not the key");
  ExpectFailure(Client({"remove", dir_, "shop", "k2"}), 3, "not the key");
  ExpectDone(Client({"remove", dir_, "shop", "k1"}), "");
  ExpectFailure(Client({"get", dir_, "shop", "k1"}), 3, "no database");
  ExpectFailure(Client({"remove", dir_, "shop", "k1"}), 1,
                "the server failed: can't open database on server");
  ExpectDone(Client({"list", dir_}), "\n");
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
  ExpectFailure(Client({"query", dir_, "shop", "double"}), 3, "no factor");
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

  EXPECT_EQ(OpenLink(offer.out), kPage);
  EXPECT_EQ(OpenLink(offer.out), "error on server: can't open temp file");
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

// Nothing is sent for these: were it sent, the missing program would be
// reported instead.
TEST(ClientRejectionTest, RefusesWhatTheProtocolCannotCarry) {
  struct Case {
    std::vector<std::string> args;
    std::string input, message;
  } cases[] = {
      {{"list", ""}, "", "the directory is empty"},
      {{"list", "/srv/h\xc3\xa4"}, "", "would end it early"},
      {{"create", "/d", "my shop", "k1"}, "", "the name holds the byte 0x20"},
      {{"create", "/d", "shop", "k 1"}, "", "cannot hold a space"},
      {{"get", "/d", "shop", ""}, "", "the key is empty"},
      {{"get", "/d", "shop", "ABCDEFGHI"}, "", "at most 8 bytes"},
      {{"query", "/d", "shop", "x\ty"}, "", "factor name holds"},
      {{"put", "/d", "shop", "k1"}, "", "the text is empty"},
      {{"put", "/d", "shop", "k1", "-"}, "\n0\n", "first line"},
      {{"put", "/d", "shop", "k1", "/nonexistent/f"}, "", "can't open"},
      {{"offer", "/d"}, "", "the offer text is empty"},
      {{"offer", "/d"}, "\n<p>x</p>", "begins with the byte 0x0a"},
      {{"link", "", "/d"}, "", "must not be empty"},
  };
  for (Case& c : cases) {
    c.args.insert(c.args.begin(), {"--local", "/nonexistent/talvenplan.cgi"});
    ExpectFailure(RunClient(c.args, c.input), 2, c.message);
  }
}

TEST(ClientExitTest, UsageAndConnectionErrorsAreStatusTwo) {
  ExpectFailure(RunClient({"list", "/d"}), 2, "no server");
  ExpectFailure(RunClient({"list"}), 2, "wrong number of arguments");
  ExpectFailure(RunClient({"--url", "http://127.0.0.1:1/x.cgi", "list", "/d"}),
                2, "can't reach");
  ExpectFailure(RunClient({"--local", "/nonexistent/x.cgi", "list", "/d"}), 2,
                "can't run");
  Outcome help = RunClient({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
}

TEST(ClientExitTest, LocalProgramMustAnswerWithTheHeader) {
  ExpectFailure(RunClient({"--local", "/bin/true", "list", "/d"}), 1,
                "does not answer as talvenplan.cgi");
}

TEST(ClientExitTest, LocalRunPassesOnTalvenRoot) {
  TempDir root;
  ExpectFailure(RunClient({"--local", TALVENPLAN_CGI, "list", "/tmp"}, "",
                          {"TALVEN_ROOT=" + root.path}),
                1, "can't change directory on server");
  ExpectDone(RunClient({"--local", TALVENPLAN_CGI, "list", root.path}, "",
                       {"TALVEN_ROOT=" + root.path}),
             "\n");
}

}  // namespace
}  // namespace talvenplan::client
