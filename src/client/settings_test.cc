#include "client/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "harness.h"

namespace talvenplan::client {
namespace {

using Settings = std::map<std::string, std::string>;

TEST(SettingsTest, ReadsTheShippedSettingsFile) {
  Settings settings;
  EXPECT_EQ(
      ReadSettings(testing::ReadFile(std::string(TALVENPLAN_VECTORS_DIR) +
                                     "/../../packaging/default/talvenplan"),
                   settings),
      "");
  EXPECT_EQ(settings, (Settings{{"TALVEN_ROOT", "/srv/talvenplan"},
                                {"TALVEN_VERSIONS", "50"}}));
}

TEST(SettingsTest, ReadsAssignmentsAsTheShellWould) {
  struct Case {
    const char* text;
    Settings settings;
  } cases[] = {
      {"export TALVEN_ROOT='/srv/shop one'  # the shop\n",
       {{"TALVEN_ROOT", "/srv/shop one"}}},
      {"TALVEN_VERSIONS=\"7\"\n\tTALVEN_VERSIONS=9\n",
       {{"TALVEN_VERSIONS", "9"}}},
      {"TALVEN_ROOT=\n", {{"TALVEN_ROOT", ""}}},
      // Comments, other names and look-alikes are no settings, whatever
      // they hold.
      {"# TALVEN_ROOT=/x\nTALVEN_ROOTS=/y\nDAYS=$(( 3 * 4 ))\n"
       "exportTALVEN_ROOT=/z\n",
       {}},
  };
  for (const Case& c : cases) {
    Settings settings;
    EXPECT_EQ(ReadSettings(c.text, settings), "") << c.text;
    EXPECT_EQ(settings, c.settings) << c.text;
  }
}

// A setting only a shell could read is not guessed at: guessing the root
// wrong would let requests out of the data tree.
TEST(SettingsTest, RefusesWhatOnlyAShellCouldRead) {
  struct Case {
    const char* text;
    const char* problem;
  } cases[] = {
      {"TALVEN_ROOT=$HOME/shop\n",
       "line 1 sets TALVEN_ROOT in a way the client "
       "does not read: its value needs a shell to "
       "be read"},
      {"\nTALVEN_VERSIONS=\"${N}\"\n",
       "line 2 sets TALVEN_VERSIONS in a way the client does not read: it "
       "expands something in double quotes"},
      {"TALVEN_ROOT=/a TALVEN_VERSIONS=5\n",
       "line 1 sets TALVEN_ROOT in a way the client does not read: more "
       "follows its value"},
      {"TALVEN_ROOT='/a\n/b'\n",
       "line 1 sets TALVEN_ROOT in a way the client does not read: its quote "
       "does not end on the line"},
  };
  for (const Case& c : cases) {
    Settings settings;
    EXPECT_EQ(ReadSettings(c.text, settings), c.problem) << c.text;
  }
}

TEST(SettingsTest, TheEnvironmentComesBeforeTheFile) {
  Settings file = {{"TALVEN_ROOT", "/srv/talvenplan"},
                   {"TALVEN_VERSIONS", "50"}};
  EXPECT_EQ(ProgramSettings({{"TALVEN_ROOT", "/srv/test"}}, file),
            (std::vector<std::string>{"TALVEN_ROOT=/srv/test",
                                      "TALVEN_VERSIONS=50"}));
  // Set but empty is set: it keeps no versions, whatever the file says.
  EXPECT_EQ(ProgramSettings({{"TALVEN_VERSIONS", ""}}, {}),
            (std::vector<std::string>{"TALVEN_VERSIONS="}));
  EXPECT_EQ(ProgramSettings({{"PATH", "/bin"}}, {}),
            std::vector<std::string>{});
}

}  // namespace
}  // namespace talvenplan::client
