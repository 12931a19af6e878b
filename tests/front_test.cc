// The front door: header, offer-link recognition, body intake and the
// directory change, seen from outside the program.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

using namespace std::string_literals;

struct IntakeCase {
  const char* label;
  std::vector<std::string> env;
  std::string input;
  std::string answer;  // after the header
  int status;
};

class IntakeTest : public ::testing::TestWithParam<IntakeCase> {};

TEST_P(IntakeTest, AnswersExactly) {
  const IntakeCase& c = GetParam();
  TempDir dir;
  WriteFile(dir.Path("a"), "");
  CgiRun run;
  run.env = c.env;
  run.input = c.input;
  run.cwd = dir.path;
  CgiResult result = RunCgi(run);
  ExpectAnswer(result, c.answer, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntakeTest,
    ::testing::Values(
        IntakeCase{
            "no_length", {}, "l\n.\n", "fsCONTENT_LENGTH not present", 1},
        IntakeCase{"get_without_query",
                   {"REQUEST_METHOD=GET"},
                   "",
                   "fsCONTENT_LENGTH not present",
                   1},
        IntakeCase{"other_query",
                   {"QUERY_STRING=x&TALVENPLAN_FILE=ab"},
                   "",
                   "fsCONTENT_LENGTH not present",
                   1},
        IntakeCase{"query_key_lower_case",
                   {"QUERY_STRING=talvenplan_file=ab"},
                   "",
                   "fsCONTENT_LENGTH not present",
                   1},
        IntakeCase{"length_abc",
                   {"CONTENT_LENGTH=abc"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"length_zero",
                   {"CONTENT_LENGTH=0"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"length_empty",
                   {"CONTENT_LENGTH="},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"length_negative",
                   {"CONTENT_LENGTH=-4"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"length_wraps_atoi",
                   {"CONTENT_LENGTH=99999999999"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"length_plus_one_overflows",
                   {"CONTENT_LENGTH=2147483647"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"content_length_wins",
                   {"CONTENT_LENGTH=x", "HTTP_CONTENT_LENGTH=4"},
                   "l\n.\n",
                   "fsinvalid CONTENTT_LENGTH",
                   1},
        IntakeCase{"http_content_length",
                   {"HTTP_CONTENT_LENGTH=4"},
                   "l\n.\n",
                   "sa\n",
                   0},
        IntakeCase{"trailing_garbage_in_length",
                   {"CONTENT_LENGTH=4abc"},
                   "l\n.\n",
                   "sa\n",
                   0},
        IntakeCase{"leading_blanks_in_length",
                   {"CONTENT_LENGTH= +4"},
                   "l\n.\n",
                   "sa\n",
                   0},
        IntakeCase{"short_body",
                   {"CONTENT_LENGTH=10"},
                   "l\n.\n",
                   "fserror reading input data",
                   1},
        IntakeCase{"huge_length_short_body",
                   {"CONTENT_LENGTH=2000000000"},
                   "l\n.\n",
                   "fserror reading input data",
                   1},
        IntakeCase{"short_body_test_switch",
                   {"CONTENT_LENGTH=10", "TALVEN_TEST="},
                   "l\n.\n",
                   "sa\n",
                   0},
        IntakeCase{"empty_body_test_switch",
                   {"CONTENT_LENGTH=10", "TALVEN_TEST=1"},
                   "",
                   "fscan't change directory on server",
                   1},
        // Only the announced bytes are read: the directory is ".", not ".x".
        IntakeCase{"longer_input", {"CONTENT_LENGTH=3"}, "l\n.x\n", "sa\n", 0},
        IntakeCase{"offer_link_wins_over_body",
                   {"QUERY_STRING=TALVENPLAN_FILE=", "CONTENT_LENGTH=x"},
                   "l\n.\n",
                   "error on server: can't open temp file",
                   0}),
    kLabelName);

// How the body's directory field is cut and used, and what the command
// letter does after it.
struct DirectoryCase {
  const char* label;
  std::string body;  // "@" stands for the test's directory
  std::string answer;
  int status;
};

class DirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DirectoryTest, AnswersExactly) {
  const DirectoryCase& c = GetParam();
  TempDir dir;
  ::mkdir(dir.Path("d").c_str(), 0777);
  WriteFile(dir.Path("d/a"), "");
  std::string body = c.body;
  if (std::size_t at = body.find('@'); at != std::string::npos) {
    body.replace(at, 1, dir.Path("d"));
  }
  CgiResult result = RunCommand(body, dir.path);
  ExpectAnswer(result, c.answer, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectoryTest,
    ::testing::Values(
        DirectoryCase{"absolute", "l\n@\n", "sa\n", 0},
        DirectoryCase{"relative_to_start", "l\nd\n", "sa\n", 0},
        DirectoryCase{"ignored_second_byte", "lXd\n", "sa\n", 0},
        DirectoryCase{"no_line_end", "l\nd", "sa\n", 0},
        DirectoryCase{"carriage_return", "l\nd\r\n", "sa\n", 0},
        DirectoryCase{"high_byte_ends_it", "l\nd\xe4xyz\n", "sa\n", 0},
        DirectoryCase{"nul_ends_it", "l\nd\0xyz\n"s, "sa\n", 0},
        DirectoryCase{"missing", "l\nnonexistent\n",
                      "fscan't change directory on server", 1},
        DirectoryCase{"empty", "l\n\nd\n", "fscan't change directory on server",
                      1},
        DirectoryCase{"one_byte_body", "l",
                      "fscan't change directory on server", 1},
        DirectoryCase{"two_byte_body", "l\n",
                      "fscan't change directory on server", 1},
        DirectoryCase{"g_cr_lf", "g\r\nd\nk n\n",
                      "fscan't change directory on server", 1},
        DirectoryCase{"upper_case_letter", "Cxd\n", "", 0},
        DirectoryCase{"unknown_letter", "zxd\nk n\n", "", 0},
        DirectoryCase{"unknown_letter_bad_directory", "zx/nonexistent\n",
                      "fscan't change directory on server", 1},
        DirectoryCase{"nul_letter", "\0xd\n"s, "", 0}),
    kLabelName);

}  // namespace
}  // namespace talvenplan::testing
