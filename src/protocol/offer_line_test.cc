#include "protocol/offer_line.h"

#include <gtest/gtest.h>

namespace talvenplan {
namespace {

TEST(OfferLineTest, KeyOnlyFromAWholeWellFormedLine) {
  const std::string key22 = "aB3_-dE9fG0hIjKlMnOpQr";
  struct Case {
    std::string line;
    std::string key;
  } cases[] = {
      {"<!--talvenplan-offer key=" + key22 + "-->\n", key22},
      {"<!--talvenplan-offer key=" + key22 + " until=2026-12-23-->\n", key22},
      {"<!--talvenplan-offer key=" + std::string(64, 'k') + "-->\n",
       std::string(64, 'k')},
      // Not offer lines: no key from them.
      {"<!--talvenplan-offer key=" + key22 + "-->", ""},  // no newline
      {"<!--talvenplan-offer key=" + std::string(15, 'k') + "-->\n", ""},
      {"<!--talvenplan-offer key=" + std::string(65, 'k') + "-->\n", ""},
      {"<!--talvenplan-offer key=" + key22 + " until=2026-1-23-->\n", ""},
      {"<!--talvenplan-offer key=" + key22 + " shop=x-->\n", ""},
      {"<!--talvenplan-offer key=" + key22 + "-->x\n", ""},
      {"<!--talvenplan-offer key=" + key22 + "\xe4-->\n", ""},
      {"<style>\n", ""},
      {"\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OfferLineKey(c.line), c.key) << c.line;
  }
}

}  // namespace
}  // namespace talvenplan
