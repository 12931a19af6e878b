// Random command bodies and random offer links: whatever arrives, the answer
// has the protocol's shape, nothing reaches standard error, and no file
// outside the request's directory changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>

#include "harness.h"
#include "vectors.h"

namespace talvenplan::testing {
namespace {

namespace fs = std::filesystem;

// The failure answers of `kind` (messages.tsv).
std::set<std::string> Failures(const std::string& kind) {
  std::set<std::string> answers;
  for (const auto& v : ReadVectors("messages.tsv")) {
    if (v.at(0) == kind) answers.insert(v.at(1));
  }
  return answers;
}

// Whether `answer` has the shape a command `letter` answers with when the
// process ends with `status`.
bool CommandShaped(char letter, const std::string& answer, int status) {
  static const std::set<std::string> kFailures = Failures("command");
  static const std::set<std::string> kStoreFailures = Failures("store");
  if (kFailures.contains(answer)) return status == 1;
  if (status != 0) return false;
  switch (letter) {
    case 'c':
    case 'p':
    case 'r': return answer == "s" || answer == "s!";
    case 'g':  // a stored key of at most 8 bytes, a newline, the rest of the
               // file
      return answer == "s!" || (answer.starts_with("s") &&
                                answer.find('\n') != std::string::npos &&
                                answer.find('\n') <= 1 + 8);
    case 'q': return answer == "s!" || answer.starts_with("s");
    case 'l': return answer.starts_with("s") && answer.ends_with("\n");
    case 's':
      return kStoreFailures.contains(answer) ||
             (answer.starts_with("s") && HasOfferForm(answer.substr(1)));
    default:  // not a command: the header alone
      return answer.empty();
  }
}

struct World {
  World() {
    ::mkdir(dir.Path("outside").c_str(), 0777);
    WriteFile(dir.Path("outside/db"), "k\n0\n0\n\"\"\n0\n0\n0\n");
    WriteFile(dir.Path("outside/.aB3dE9"), "outside offer");
    ::mkdir(dir.Path("req").c_str(), 0777);
    ::mkdir(dir.Path("req/sub").c_str(), 0777);
  }
  // Lays out the request directory afresh: a database, a demo list and an
  // offer that random requests may well hit.
  void Reset() {
    fs::remove_all(dir.Path("req"));
    ::mkdir(dir.Path("req").c_str(), 0777);
    ::mkdir(dir.Path("req/sub").c_str(), 0777);
    WriteFile(
        dir.Path("req/db"),
        "k\n2\nalpha 0.5\nbeta 1.25\n7\nTitle\n2\nChair 10\nTable 99.5\n");
    WriteFile(dir.Path("req/DEMO_x"), "k\n0\n0\n\"\"\n0\n0\n0\n");
    WriteFile(dir.Path("req/.aB3dE9"), "<p>offer</p>");
  }
  std::map<std::string, std::string> Outside() {
    return Snapshot(dir.Path("outside"));
  }
  // Runs `round` `rounds` times, from a fresh request directory every 20,
  // and checks after each that nothing outside it changed.
  void Rounds(unsigned seed, int rounds,
              const std::function<void(std::mt19937&)>& round) {
    const auto outside = Outside();
    std::mt19937 rng(seed);
    for (int i = 0; i < rounds; ++i) {
      if (i % 20 == 0) Reset();
      round(rng);
      ASSERT_EQ(Outside(), outside) << "round " << i;
    }
  }
  // Runs `run` in the request directory under TALVEN_ROOT: the answer after
  // the header, and nothing on standard error.
  CgiResult Run(CgiRun run) {
    run.env.push_back("TALVEN_ROOT=" + dir.Path("req"));
    run.cwd = dir.Path("req");
    CgiResult result = RunCgi(run);
    EXPECT_TRUE(result.out.starts_with(kHeader)) << result.out;
    EXPECT_EQ(result.err, "");
    result.out.erase(0, kHeader.size());
    return result;
  }
  TempDir dir;
};

std::string RandomBytes(std::mt19937& rng, std::size_t max_size,
                        std::string_view alphabet = {}) {
  std::string bytes(
      std::uniform_int_distribution<std::size_t>(0, max_size)(rng), '\0');
  for (char& c : bytes) {
    c = alphabet.empty() ? static_cast<char>(rng())
                         : alphabet[std::uniform_int_distribution<std::size_t>(
                               0, alphabet.size() - 1)(rng)];
  }
  return bytes;
}

template <typename T>
const T& Pick(std::mt19937& rng, const std::vector<T>& choices) {
  return choices[std::uniform_int_distribution<std::size_t>(
      0, choices.size() - 1)(rng)];
}

std::string RandomBody(std::mt19937& rng) {
  static const std::vector<std::string> kLetters = {"c", "g", "p", "q", "r",
                                                    "s", "l", "x", "C"};
  static const std::vector<std::string> kDirectories = {
      ".", "sub", "..", "../outside", "", "missing", "/", ".\r"};
  static const std::vector<std::string> kKeys = {"k", "alpha", "beta",
                                                 "",  "K",     "kkkkkkkkk"};
  static const std::vector<std::string> kNames = {
      "db",    "DEMO_x", "new",         ".aB3dE9", "../outside/db",
      "sub/x", "sub",    "/etc/passwd", ""};
  std::string body = Pick(rng, kLetters);
  body += static_cast<char>(rng());
  body += rng() % 8 == 0 ? RandomBytes(rng, 12) : Pick(rng, kDirectories);
  body += rng() % 4 == 0 ? "\r\n" : "\n";
  if (rng() % 6 == 0) {
    body += RandomBytes(rng, 40);
  } else {
    body += (rng() % 5 == 0 ? RandomBytes(rng, 10) : Pick(rng, kKeys)) + " ";
    body += rng() % 5 == 0 ? RandomBytes(rng, 10) : Pick(rng, kNames);
    body += '\n';
    body += RandomBytes(rng, 300);
  }
  return body;
}

std::string RandomLink(std::mt19937& rng, const std::string& request_dir) {
  static const std::vector<std::string> kNames = {".aB3dE9", ".ab", "db",
                                                  "../outside/.aB3dE9", ""};
  std::string link = "TALVENPLAN_FILE=";
  switch (rng() % 4) {
    case 0: return link + RandomBytes(rng, 60, "abcdefghijklmnopz");
    case 1: return link + RandomBytes(rng, 60);
    default:
      link += EncodeLetterPairs(Pick(rng, kNames)) + "z";
      link += EncodeLetterPairs(rng() % 3 == 0 ? std::string("../outside")
                                               : request_dir) +
              "z";
      if (rng() % 4 == 0) {
        link.resize(16 + rng() % (link.size() - 16));  // cut after the key
      }
      return link;
  }
}

TEST(PropertyTest, RandomCommandsKeepTheProtocolAndTheirDirectory) {
  World world;
  world.Rounds(20261208, 400, [&](std::mt19937& rng) {
    const std::string body = RandomBody(rng);
    SCOPED_TRACE(::testing::PrintToString(body));
    CgiRun run;
    run.env = {"CONTENT_LENGTH=" + std::to_string(body.size())};
    run.input = body;
    CgiResult result = world.Run(run);
    EXPECT_TRUE(CommandShaped(body[0], result.out, result.status))
        << ::testing::PrintToString(result.out) << " status " << result.status;
  });
}

TEST(PropertyTest, RandomOfferLinksKeepTheProtocolAndOtherFiles) {
  World world;
  world.Rounds(8122026, 300, [&](std::mt19937& rng) {
    CgiRun run;
    run.env = {"QUERY_STRING=" + RandomLink(rng, world.dir.Path("req"))};
    SCOPED_TRACE(run.env[0]);
    CgiResult result = world.Run(run);
    const std::string& answer = result.out;
    EXPECT_EQ(result.status, 0);
    static const std::set<std::string> kLinkFailures = Failures("link");
    static const OfferPage kPage = ReadOfferPage();
    EXPECT_TRUE(
        kLinkFailures.contains(answer) ||
        (answer.starts_with(kPage.before) && answer.ends_with(kPage.after)))
        << answer;
  });
}

}  // namespace
}  // namespace talvenplan::testing
