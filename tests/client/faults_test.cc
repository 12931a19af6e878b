// The client against servers and programs that fail in the ways a real
// one can: an HTTP status other than 200, a login asked for, an answer cut
// short, a program killed or ended with a status midway. Each must be named
// on standard error, with nothing on standard output, and its own exit
// status.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "client/run_client.h"
#include "harness.h"

namespace talvenplan::client {
namespace {

using testing::TempDir;
using testing::WriteFile;

// A one-shot HTTP server on a free loopback port: it reads one request
// whole, answers `response` as it stands, and closes the connection.
class Responder {
 public:
  explicit Responder(std::string response) : response_(std::move(response)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), size),
              0);
    EXPECT_EQ(::listen(listener_, 1), 0);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
           "/talvenplan.cgi";
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() {
    ::shutdown(listener_, SHUT_RDWR);  // ends a wait for a client that failed
    thread_.join();
    ::close(listener_);
  }
  const std::string& url() const { return url_; }
  // The request as it came, once the client has ended.
  const std::string& request() const { return request_; }

 private:
  void Serve() {
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    char block[4096];
    std::size_t end = std::string::npos;
    std::size_t length = 0;
    while (end == std::string::npos || request_.size() < end + 4 + length) {
      pollfd ready{connection, POLLIN, 0};
      if (::poll(&ready, 1, 10000) <= 0) break;
      ssize_t got = ::read(connection, block, sizeof block);
      if (got <= 0) break;
      request_.append(block, static_cast<std::size_t>(got));
      end = request_.find("\r\n\r\n");
      std::size_t field = request_.find("Content-Length: ");
      if (field != std::string::npos && field < end) {
        length = std::stoul(request_.substr(field + 16));
      }
    }
    static_cast<void>(::write(connection, response_.data(), response_.size()));
    ::close(connection);
  }

  std::string response_, request_, url_;
  int listener_ = -1;
  std::thread thread_;
};

std::string Http(const std::string& status, const std::string& body,
                 std::size_t length) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\n" +
         "Content-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// "ann:secret" as Basic authentication sends it.
const std::string kAnnsLogin = "Authorization: Basic YW5uOnNlY3JldA==\r\n";

TEST(TransferFaultTest, HttpFailuresAreNamed) {
  {
    Responder server(Http("404 Not Found", "<h1>Not Found</h1>", 18));
    ExpectFailure(RunClient({"--url", server.url(), "list", "/d"}), 1,
                  server.url() +
                      " answered with HTTP status 404, not with the program's "
                      "answer");
  }
  {
    // Content-Length promises more than arrives: the answer is cut short,
    // and the part that came ("sshop\n") is no listing.
    Responder server(Http("200 OK", "sshop\n", 40));
    ExpectFailure(RunClient({"--url", server.url(), "list", "/d"}), 1,
                  "the answer was cut short: transfer closed with 34 bytes "
                  "remaining to read (curl error 18); the command may have "
                  "been carried out or not");
  }
  {
    Responder server(Http("401 Unauthorized", "", 0));
    ExpectFailure(RunClient({"--url", server.url(), "list", "/d"}), 4,
                  "the server asks for a login: use --user or ~/.netrc");
  }
  {
    Responder server(Http("401 Unauthorized", "", 0));
    ExpectFailure(
        RunClient({"--url", server.url(), "-u", "ann:x", "list", "/d"}), 4,
        "the server did not accept the login of \"ann\" (HTTP status 401)");
  }
}

TEST(TransferFaultTest, ProgramFailuresAreNamed) {
  TempDir dir;
  const std::string killed = dir.Path("killed.cgi");
  WriteFile(killed,
            "#!/bin/sh\nprintf 'Content-type: text/html\\n\\nsshop\\n'\n"
            "kill -9 $$\n");
  const std::string exited = dir.Path("exited.cgi");
  WriteFile(exited,
            "#!/bin/sh\nprintf 'Content-type: text/html\\n\\nsshop\\n'\n"
            "exit 3\n");
  ::chmod(killed.c_str(), 0755);
  ::chmod(exited.c_str(), 0755);
  ExpectFailure(RunClient({"--local", killed, "list", "/d"}), 1,
                killed +
                    " was killed by signal 9 (Killed): its answer may be cut "
                    "short");
  ExpectFailure(RunClient({"--local", exited, "list", "/d"}), 1,
                exited + " exited with status 3: its answer may be cut short");
}

TEST(LoginTest, SendsTheLoginFromUserOrNetrc) {
  {
    Responder server(Http("200 OK", "s\n", 2));
    ExpectDone(RunClient({"--url", server.url(), "--user", "ann:secret", "list",
                          "/d"}),
               "\n");
    EXPECT_NE(server.request().find(kAnnsLogin), std::string::npos)
        << server.request();
  }
  TempDir home;
  WriteFile(home.Path("netrc"),
            "machine 127.0.0.1 login ann password secret\n");
  {
    Responder server(Http("200 OK", "s\n", 2));
    ExpectDone(RunClient({"--url", server.url(), "--netrc-file",
                          home.Path("netrc"), "list", "/d"}),
               "\n");
    EXPECT_NE(server.request().find(kAnnsLogin), std::string::npos)
        << server.request();
  }
  {
    // ~/.netrc by default.
    ::rename(home.Path("netrc").c_str(), home.Path(".netrc").c_str());
    Responder server(Http("200 OK", "s\n", 2));
    ExpectDone(RunClient({"--url", server.url(), "list", "/d"}, "",
                         {"HOME=" + home.path}),
               "\n");
    EXPECT_NE(server.request().find(kAnnsLogin), std::string::npos)
        << server.request();
  }
}

// A password kept off the command line: from a file, standard input or the
// environment, in that order after one given with --user.
TEST(LoginTest, TakesThePasswordFromAFileStandardInputOrTheEnvironment) {
  TempDir home;
  const std::string file = home.Path("password");
  WriteFile(file, "secret\n");
  ::chmod(file.c_str(), 0600);
  struct Case {
    std::vector<std::string> options;
    std::string input;
    std::vector<std::string> env;
  } cases[] = {
      {{"--user", "ann", "--password-file", file}, "", {}},
      {{"--user", "ann", "--password-file", "-"}, "secret\r\nmore\n", {}},
      {{"--user", "ann"}, "", {"TALVENPLAN_PASSWORD=secret"}},
      {{"--user", "ann", "--password-file", file},
       "",
       {"TALVENPLAN_PASSWORD=other"}},
      {{"--user", "ann:secret"}, "", {"TALVENPLAN_PASSWORD=other"}},
  };
  for (const Case& c : cases) {
    Responder server(Http("200 OK", "s\n", 2));
    std::vector<std::string> args = {"--url", server.url()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"list", "/d"});
    ExpectDone(RunClient(args, c.input, c.env), "\n");
    EXPECT_NE(server.request().find(kAnnsLogin), std::string::npos)
        << c.options.back() << ": " << server.request();
  }
}

// Reads from the terminal's side until `text` has come or it goes quiet.
std::string ReadUntil(int terminal, const std::string& text) {
  std::string seen;
  char block[256];
  while (seen.find(text) == std::string::npos) {
    pollfd ready{terminal, POLLIN, 0};
    if (::poll(&ready, 1, 10000) <= 0) break;
    ssize_t got = ::read(terminal, block, sizeof block);
    if (got <= 0) break;
    seen.append(block, static_cast<std::size_t>(got));
  }
  return seen;
}

TEST(LoginTest, AsksForThePasswordOnTheTerminalWithoutEcho) {
  Responder server(Http("200 OK", "s\n", 2));
  int terminal = -1;
  pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string url = server.url();
    char* argv[] = {const_cast<char*>(TALVENPLAN_CLIENT),
                    const_cast<char*>("--url"),
                    url.data(),
                    const_cast<char*>("--user"),
                    const_cast<char*>("ann"),
                    const_cast<char*>("list"),
                    const_cast<char*>("/d"),
                    nullptr};
    char* env[] = {nullptr};
    ::execve(argv[0], argv, env);
    ::_exit(127);
  }
  std::string prompt = ReadUntil(terminal, "password for user 'ann':");
  EXPECT_NE(prompt.find("Enter host password for user 'ann':"),
            std::string::npos)
      << prompt;
  ASSERT_EQ(::write(terminal, "secret\n", 7), 7);
  std::string rest = ReadUntil(terminal, "\n");
  int status = 0;
  for (int tries = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++tries) {
    if (tries == 100) ::kill(pid, SIGKILL);  // a client still waiting
    ::usleep(100000);
  }
  rest += ReadUntil(terminal, "never");  // the listing's lone newline
  ::close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << rest;
  EXPECT_EQ(rest.find("secret"), std::string::npos) << "echoed: " << rest;
  EXPECT_NE(server.request().find(kAnnsLogin), std::string::npos)
      << server.request();
}

}  // namespace
}  // namespace talvenplan::client
