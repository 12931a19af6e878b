#include "protocol/request.h"

#include <gtest/gtest.h>

#include <string>

namespace talvenplan {
namespace {

struct Fields {
  std::string directory, key, name, text;
};

Fields Cut(std::string body) {
  body.push_back('\0');  // the NUL the front stores after the bytes read
  Request request = CutRequest(body.data(), body.size() - 1);
  // Each cut field must also stand as a C string.
  for (std::string_view field :
       {request.directory, request.key, request.name}) {
    EXPECT_EQ(field.data()[field.size()], '\0');
  }
  return {std::string(request.directory), std::string(request.key),
          std::string(request.name), std::string(request.text)};
}

struct CutCase {
  const char* label;
  std::string body;
  Fields expected;
};

class CutRequestTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutRequestTest, CutsFields) {
  const CutCase& c = GetParam();
  Fields got = Cut(c.body);
  EXPECT_EQ(got.directory, c.expected.directory);
  EXPECT_EQ(got.key, c.expected.key);
  EXPECT_EQ(got.name, c.expected.name);
  EXPECT_EQ(got.text, c.expected.text);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Layouts, CutRequestTest,
    ::testing::Values(
        CutCase{"typical",
                "g\n/tmp/db\nk1 prices\nrest",
                {"/tmp/db", "k1", "prices", "rest"}},
        CutCase{"key name text",
                "p\nd\nab cd ef\nmore",
                {"d", "ab", "cd", "ef\nmore"}},
        CutCase{"crlf directory", "g\n/d\r\nk n\r\nt", {"/d", "k", "n", "\nt"}},
        CutCase{"tab inside key", "g\nd\nab\tcd x\n", {"d", "ab\tcd", "x", ""}},
        CutCase{"two spaces: empty name",
                "g\nd\nab  cd\n",
                {"d", "ab", "", "cd\n"}},
        CutCase{"key runs across lines",
                "c\nd\nab\ncd ef\n",
                {"d", "ab\ncd", "ef", ""}},
        CutCase{"no space at all", "g\nd\nabc\n", {"d", "abc\n", "", ""}},
        CutCase{"body ends after name", "g\nd\nk n", {"d", "k", "n", ""}},
        CutCase{
            "high byte ends directory", "l\n/t\xe4mp\n", {"/t", "", "", ""}},
        CutCase{"high byte ends name",
                "g\nd\nk n\xe4me\n",
                {"d", "k", "n", "me\n"}},
        CutCase{"NUL ends key for its users",
                "c\nd\nab\0cd n\n"s,
                {"d", "ab", "n", ""}},
        CutCase{
            "NUL kept in text", "p\nd\nk n\na\0b"s, {"d", "k", "n", "a\0b"s}},
        CutCase{"one byte", "g", {"", "", "", ""}},
        CutCase{"two bytes", "gx", {"", "", "", ""}},
        CutCase{"g CR LF: empty directory",
                "g\r\n/d\nk n\n",
                {"", "/d\nk", "n", ""}},
        CutCase{"list parses nothing more", "l\n/d\nk n\n", {"/d", "", "", ""}},
        CutCase{"store text after separators",
                "s\n/d\n \n\t\xe4xyz\n",
                {"/d", "", "", "xyz\n"}},
        CutCase{"store empty text", "s\n/d\n  \n", {"/d", "", "", ""}},
        CutCase{"unknown letter cuts like a command",
                "zx/d\nk n\nt",
                {"/d", "k", "n", "t"}}),
    [](const ::testing::TestParamInfo<CutCase>& info) {
      std::string name;
      for (char c : std::string(info.param.label)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

TEST(CutRequestTest, LetterIsFirstByteEvenInEmptyBody) {
  char body[] = "";
  EXPECT_EQ(CutRequest(body, 0).letter, '\0');
  char list[] = "lx/d\n";
  EXPECT_EQ(CutRequest(list, 5).letter, 'l');
}

}  // namespace
}  // namespace talvenplan
