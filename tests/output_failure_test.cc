// Standard output that fails (a full device, a client that went away): the
// program ends at once, quietly, and a read-only command changes nothing on
// disk.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

TEST(OutputFailureTest, ReadingCommandsEndQuietlyAndChangeNothing) {
  TempDir dir;
  std::string prices = "k\n1\nhalf 0.5\nA\nB\n100000\n";
  for (int i = 0; i < 100000; ++i) prices += "Item " + std::to_string(i) + "\n";
  WriteFile(dir.Path("db"), prices);
  const auto before = Snapshot(dir.path);

  for (const char* body : {"g\n.\nk db\n", "q\n.\nhalf db\n", "l\n.\n"}) {
    for (bool closed_pipe : {false, true}) {
      CgiRun run;
      run.env = {"CONTENT_LENGTH=" + std::to_string(std::strlen(body))};
      run.input = body;
      run.cwd = dir.path;
      run.stdout_path = "/dev/full";
      run.stdout_closed_pipe = closed_pipe;
      CgiResult result = RunCgi(run);
      SCOPED_TRACE(std::string(body) +
                   (closed_pipe ? " closed pipe" : " full"));
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(Snapshot(dir.path), before);
    }
  }
}

}  // namespace
}  // namespace talvenplan::testing
