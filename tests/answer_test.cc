// The customer's answer to an offer: staged with a slot, answered once
// after the link showed it, read back with the offer's key; and on a disk
// that fails, whole or absent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace talvenplan::testing {
namespace {

constexpr char kKey[] = "aB3_-dE9fG0hIjKlMnOpQr";
constexpr char kShown[] = "<p>Tarjous</p>\n";
// SHA-256 of kShown.
constexpr char kHash[] =
    "c55c684a5d8468c4add306fae81aa4e5114301e6ec1644311b476128b5e1edc9";

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : "(none)";
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

// The names in `dir` that a failed write could leave behind.
bool HasTemporary(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with(".put-")) return true;
  }
  return false;
}

struct Shop {
  TempDir dir;
  std::string name;  // the offer's

  // Stages an offer whose line ends in `fields`.
  void Stage(const std::string& fields, std::vector<std::string> env = {}) {
    std::string body = "s\n" + dir.path + "\n<!--talvenplan-offer key=" + kKey +
                       fields + "-->\n" + kShown;
    CgiResult staged = RunCommand(body, ".", env);
    ASSERT_TRUE(staged.out.starts_with(kHeader + "s.")) << staged.out;
    name = staged.out.substr(kHeader.size() + 1);
  }
  std::string Query(const std::string& key) const {
    return key + OfferLinkQuery(name, dir.path).substr(kOfferKey.size());
  }
  CgiResult Open() const {
    CgiRun run;
    run.env = {"QUERY_STRING=" + Query(std::string(kOfferKey)),
               "REQUEST_METHOD=GET"};
    return RunCgi(run);
  }
  CgiResult Answer(const std::string& form,
                   std::vector<std::string> env = {}) const {
    // The first of a name's entries is the one a program reads: the case's
    // own come first.
    CgiRun run;
    run.env = env;
    run.env.insert(run.env.end(),
                   {"QUERY_STRING=" + Query(std::string(kAnswerKey)),
                    "REQUEST_METHOD=POST",
                    "CONTENT_LENGTH=" + std::to_string(form.size())});
    run.input = form;
    return RunCgi(run);
  }
  std::string File(const char* suffix) const {
    return Read(dir.Path(name + suffix));
  }
};

std::string Form(const std::string& decision, const std::string& name,
                 const std::string& message = "",
                 const std::string& hash = kHash) {
  return "decision=" + decision + "&name=" + name + "&message=" + message +
         "&sha256=" + hash;
}

const std::string kAccept = Form("accept", "Anna+Virtanen");

struct AnswerCase {
  const char* label;
  const char* fields = " until=2099-12-31 answer=1";  // the offer line's
  bool open = true;
  std::string form = kAccept;
  std::vector<std::string> env = {};  // beside the answer's own
  // The answer after the header: a receipt begins with "s".
  std::string answer;
  // What the answer file then holds, in part, or "(none)".
  std::string stored;
};

const AnswerCase kAnswerCases[] = {
    {.label = "accepted",
     .answer = "s",
     .stored = "decision accept\nname Anna%20Virtanen\nmessage \n"},
    {.label = "declined with a message in Finnish",
     .form = Form("decline", "Matti+M%C3%A4kinen", "Kiitos%21%0D%0AEi+nyt."),
     .answer = "s",
     .stored = "decision decline\nname Matti%20M%C3%A4kinen\nmessage "
               "Kiitos!%0D%0AEi%20nyt.\n"},
    {.label = "another page's hash is recorded as such",
     .form = Form("accept", "Anna", "", std::string(64, 'a')),
     .answer = "s",
     .stored = "matched no\n"},
    {.label = "the address only where the site asks",
     .env = {"REMOTE_ADDR=192.0.2.7", "TALVEN_ANSWER_ADDRESS=1"},
     .answer = "s",
     .stored = "address 192.0.2.7\n"},
    {.label = "no address otherwise",
     .env = {"REMOTE_ADDR=192.0.2.7"},
     .answer = "s",
     .stored = "matched yes\n"},
    {.label = "not opened yet",
     .open = false,
     .answer = "error on server: offer not opened",
     .stored = "(none)"},
    {.label = "after the last valid day",
     .fields = " until=2020-01-31 answer=1",
     .answer = "error on server: offer expired",
     .stored = "(none)"},
    {.label = "staged without a slot",
     .fields = " until=2099-12-31",
     .answer = "error on server: offer takes no answer",
     .stored = "(none)"},
    {.label = "no name",
     .form = Form("accept", "+%20+"),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a name that is not UTF-8",
     .form = Form("accept", "Ann%E4"),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a name with a line break",
     .form = Form("accept", "Anna%0Adecision+decline"),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a message of 1001 characters",
     .form = Form("accept", "Anna", std::string(1001, 'x')),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "neither accept nor decline",
     .form = Form("maybe", "Anna"),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a field twice",
     .form = kAccept + "&name=Mallory",
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a broken escape",
     .form = Form("accept", "Anna%2"),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "not a hash",
     .form = Form("accept", "Anna", "", std::string(64, 'A')),
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
    {.label = "a GET",
     .env = {"REQUEST_METHOD=GET"},
     .answer = "error on server: answers are posted",
     .stored = "(none)"},
    // Announced longer than an answer can be: not read at all.
    {.label = "over 4 KiB",
     .env = {"CONTENT_LENGTH=4097"},
     .answer = "error on server: answer too long",
     .stored = "(none)"},
    {.label = "a body shorter than announced",
     .env = {"CONTENT_LENGTH=4000"},
     .answer = "error on server: answer incomplete",
     .stored = "(none)"},
};

TEST(OfferAnswerTest, EachAnswerIsTakenOnceOrRefusedWithNothingWritten) {
  for (const AnswerCase& c : kAnswerCases) {
    SCOPED_TRACE(c.label);
    Shop shop;
    shop.Stage(c.fields);
    if (c.open) {
      ASSERT_NE(shop.Open().out.find(kShown), std::string::npos);
    }
    CgiResult result = shop.Answer(c.form, c.env);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    ASSERT_TRUE(result.out.starts_with(kHeader)) << result.out;
    std::string answer = result.out.substr(kHeader.size());
    if (c.answer == "s") {
      EXPECT_TRUE(answer.starts_with("s\ndecision ")) << answer;
      EXPECT_NE(shop.File(".answer").find(c.stored), std::string::npos)
          << shop.File(".answer");
      // Once only: a second answer changes nothing.
      std::string first = shop.File(".answer");
      EXPECT_EQ(shop.Answer(Form("decline", "Mallory")).out,
                kHeader + "error on server: offer already answered");
      EXPECT_EQ(shop.File(".answer"), first);
    } else {
      EXPECT_EQ(answer, c.answer);
      EXPECT_EQ(shop.File(".answer"), c.stored);
    }
    EXPECT_FALSE(HasTemporary(shop.dir.path));
  }
}

TEST(OfferAnswerTest,
     TheSlotRecordsTheShownBytesAndTheLoginAndIsReadWithTheKey) {
  Shop shop;
  shop.Stage(" until=2099-12-31 answer=1", {"REMOTE_USER=anna k"});
  std::string slot = shop.File(".slot");
  EXPECT_TRUE(slot.starts_with(std::string("talvenplan-slot 1\nkey ") + kKey +
                               "\nuntil 2099-12-31\nsha256 " + kHash +
                               "\nstaged "))
      << slot;
  EXPECT_NE(slot.find("\nby anna%20k\n"), std::string::npos);
  ASSERT_EQ(shop.Open().status, 0);
  ASSERT_EQ(shop.Answer(kAccept).status, 0);

  const std::string slot_name = shop.name + ".slot";
  CgiResult read =
      RunCommand("g\n" + shop.dir.path + "\n" + kKey + " " + slot_name + "\n");
  std::string state = read.out.substr(kHeader.size());
  EXPECT_TRUE(state.starts_with("s\ntalvenplan-slot 1\nuntil ")) << state;
  EXPECT_EQ(state.find(kKey), std::string::npos) << "the key is never read out";
  EXPECT_NE(state.find("\nopened 20"), std::string::npos);
  EXPECT_NE(state.find("\ndecision accept\nname Anna%20Virtanen\n"),
            std::string::npos);

  // Only the offer's key reads it; nothing changes any of the files.
  const std::string other = "kkkkkkkkkkkkkkkkkkkkkk";
  for (const std::string& body :
       {"g\n" + shop.dir.path + "\n" + other + " " + slot_name + "\n",
        "g\n" + shop.dir.path + "\n" + kKey + " " + shop.name + ".answer\n",
        "p\n" + shop.dir.path + "\n" + kKey + " " + slot_name + "\nx\n",
        "r\n" + shop.dir.path + "\n" + kKey + " " + slot_name + "\n",
        "q\n" + shop.dir.path + "\n" + kKey + " " + shop.name + ".answer\n",
        "c\n" + shop.dir.path + "\n" + kKey + " .aB3dE9.slot\n"}) {
    EXPECT_EQ(RunCommand(body).out, kHeader + "s!") << body;
  }
  EXPECT_TRUE(Exists(shop.dir.Path(slot_name)));
  EXPECT_FALSE(Exists(shop.dir.Path(".aB3dE9.slot")));
}

TEST(OfferAnswerTest, AnswersStayInTheRootAndOnOfferNames) {
  Shop shop;
  shop.Stage(" answer=1");
  ASSERT_EQ(shop.Open().status, 0);
  TempDir root;
  // The shop lies outside the root: its slot is not reached.
  CgiResult outside = shop.Answer(kAccept, {"TALVEN_ROOT=" + root.path});
  EXPECT_EQ(outside.out, kHeader + "error on server: offer takes no answer");
  // A name of another form is no offer's.
  shop.name = ".versions";
  EXPECT_EQ(shop.Answer(kAccept).out,
            kHeader + "error on server: offer takes no answer");
}

// Every file-system call of staging with a slot, and of answering, fails in
// turn: either it all happened and was answered so, or nothing did.
TEST(OfferAnswerTest, AFailingDiskLeavesNoHalfOfferSlotOrAnswer) {
  if (!CanInjectFaults()) {
    GTEST_SKIP() << "calls are traced on x86-64, without sanitizers";
  }
  TempDir dir;
  const std::string store = "s\n" + dir.path +
                            "\n<!--talvenplan-offer key=" + kKey +
                            " answer=1-->\n" + kShown;
  CgiRun run;
  run.trace = true;
  const std::vector<FileSystemCall> calls = RunCommand(store, run).calls;
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    // The answer's own write: a client that never hears back asks again.
    if (calls[n - 1].kinds[0] == 'd' && calls[n - 1].args[0] == 1) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      std::filesystem::remove(entry.path());
    }
    run.fail_at = static_cast<int>(n);
    CgiResult result = RunCommand(store, run);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      (void)entry;
      ++files;
    }
    SCOPED_TRACE("call " + std::to_string(n) + " " + result.out);
    EXPECT_EQ(files, result.out.starts_with(kHeader + "s.") ? 2u : 0u);
  }

  Shop shop;
  shop.Stage(" answer=1");
  ASSERT_EQ(shop.Open().status, 0);
  CgiRun answer;
  answer.env = {"QUERY_STRING=" + shop.Query(std::string(kAnswerKey)),
                "REQUEST_METHOD=POST",
                "CONTENT_LENGTH=" + std::to_string(kAccept.size())};
  answer.input = kAccept;
  answer.trace = true;
  const std::vector<FileSystemCall> answering = RunCgi(answer).calls;
  for (std::size_t n = 1; n <= answering.size(); ++n) {
    const FileSystemCall& call = answering[n - 1];
    if (call.kinds[0] == 'd' && call.args[0] == 1) continue;
    std::filesystem::remove(shop.dir.Path(shop.name + ".answer"));
    answer.fail_at = static_cast<int>(n);
    CgiResult result = RunCgi(answer);
    SCOPED_TRACE("call " + std::to_string(n) + " " + result.out);
    if (result.out.starts_with(kHeader + "s\n")) {
      EXPECT_NE(shop.File(".answer").find("matched yes\n"), std::string::npos);
    } else {
      EXPECT_EQ(shop.File(".answer"), "(none)");
    }
    // A temporary name whose removal failed is the clean-up's to take.
    if (std::string(call.name) != "unlinkat") {
      EXPECT_FALSE(HasTemporary(shop.dir.path));
    }
    for (const auto& entry :
         std::filesystem::directory_iterator(shop.dir.path)) {
      if (entry.path().filename().string().starts_with(".put-")) {
        std::filesystem::remove(entry.path());
      }
    }
  }
}

}  // namespace
}  // namespace talvenplan::testing
