// Failures a disk or a file system can cause, injected into the program's
// own system calls: the answer must say so, and nothing half-done may stay.
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <cerrno>
#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

// The database or offer is the first file the program opens.
constexpr int kFirstFile = 3;

CgiResult RunWithFault(const TempDir& dir, const std::string& body,
                       SyscallFault fault) {
  CgiRun run;
  run.cwd = dir.path;
  run.fault = fault;
  return RunCommand(body, run);
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanInjectFaults()) {
      GTEST_SKIP() << "faults are injected on x86-64, without sanitizers";
    }
  }
};

// Once an answer has begun, a read error can only cut it short: the bytes
// sent stay, and the exit status tells the web server.
TEST_F(FaultTest, ReadErrorAfterTheAnswerBeganEndsWithStatusOne) {
  TempDir dir;
  SKIP_WITHOUT_OFFER_MARKS(dir.path);
  const std::string db = "k1\n1\nf 2\nA\nB\n1\nx 10\n";
  WriteFile(dir.Path("db"), db);
  WriteOffer(dir.Path(".aB3dE9"), "<p>offer</p>");
  // The first read of the file returns all of it; the second would find
  // its end, and fails instead.
  const SyscallFault second_read{SYS_read, kFirstFile, 2};

  CgiResult get = RunWithFault(dir, "g\n.\nk1 db\n", second_read);
  EXPECT_EQ(get.out, kHeader + "sk1\n" + db.substr(3));
  EXPECT_EQ(get.status, 1);

  CgiResult query = RunWithFault(dir, "q\n.\nf db\n", second_read);
  EXPECT_EQ(query.out, kHeader + "sA\nB\n1\nx 20.000000\n");
  EXPECT_EQ(query.status, 1);

  CgiResult list =
      RunWithFault(dir, "l\n.\n", SyscallFault{SYS_getdents64, kFirstFile, 2});
  EXPECT_EQ(list.out, kHeader + "sdb\n");
  EXPECT_EQ(list.status, 1);

  CgiRun link;
  link.env = {"QUERY_STRING=" + OfferLinkQuery(".aB3dE9", dir.path)};
  link.fault = second_read;
  CgiResult page = RunCgi(link);
  EXPECT_TRUE(page.out.ends_with("<p>offer</p>")) << page.out;
  EXPECT_EQ(page.status, 1);
  EXPECT_FALSE(Exists(dir.Path(".aB3dE9")));  // claimed before it was shown
}

// A write that cannot be made durable leaves the old state and no stray
// file, and never answers "s".
TEST_F(FaultTest, WritesThatCannotBeSyncedLeaveNothingHalfDone) {
  TempDir dir;
  const std::string old = "k1\n0\n0\n\"\"\n0\n0\n0\n";
  WriteFile(dir.Path("db"), old);
  const SyscallFault fsync_fails{SYS_fsync, -1, 1};

  EXPECT_EQ(RunWithFault(dir, "p\n.\nk1 db\nk1\nnew\n", fsync_fails).out,
            kHeader + "fscan't write on database");
  EXPECT_EQ(RunWithFault(dir, "c\n.\nk2 new\n", fsync_fails).out,
            kHeader + "fscan't write on database");
  EXPECT_EQ(RunWithFault(dir, "s\n.\noffer", fsync_fails).out,
            kHeader + "fscan't write temporary file");
  EXPECT_EQ(ReadFile(dir.Path("db")), old);
  EXPECT_EQ(ListNames(dir.path), Names{"db"});
  // A removal must last too.
  EXPECT_EQ(RunWithFault(dir, "r\n.\nk1 db\n", fsync_fails).out,
            kHeader + "fscan't remove the database");
  WriteFile(dir.Path("db"), old);

  // The data is on disk but its name may not be: still a failure.
  const SyscallFault directory_sync_fails{SYS_fsync, -1, 2};
  EXPECT_EQ(
      RunWithFault(dir, "p\n.\nk1 db\nk1\nnew\n", directory_sync_fails).out,
      kHeader + "fscan't write on database");
}

// On a shared file system, an open that meets a file another host has just
// renamed a new version over answers ESTALE once or twice; the name is
// fine, and the open is tried again. A handle that stays stale is an error.
TEST_F(FaultTest, StaleOpenOnSharedStorageIsTriedAgain) {
  TempDir dir;
  const std::string db = "k1\n1\nf 2\nA\nB\n1\nx 10\n";
  WriteFile(dir.Path("db"), db);
  // Without a root, the database is the first file the program opens.
  const SyscallFault stale_once{SYS_openat, -1, 1, false, ESTALE};
  EXPECT_EQ(RunWithFault(dir, "g\n.\nk1 db\n", stale_once).out,
            kHeader + "sk1\n" + db.substr(3));
  EXPECT_EQ(RunWithFault(dir, "q\n.\nf db\n", stale_once).out,
            kHeader + "sA\nB\n1\nx 20.000000\n");
  const SyscallFault stale_always{SYS_openat, -1, 1, true, ESTALE};
  EXPECT_EQ(RunWithFault(dir, "g\n.\nk1 db\n", stale_always).out,
            kHeader + "s!");
}

TEST_F(FaultTest, StoreOutOfUniqueNames) {
  TempDir dir;
  // The first open is the directory's; every name tried after it is taken.
  CgiResult result = RunWithFault(
      dir, "s\n.\noffer", SyscallFault{SYS_openat, -1, 2, true, EEXIST});
  EXPECT_EQ(result.out, kHeader + "fscan't create temporary file");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ListNames(dir.path), Names{});
}

}  // namespace
}  // namespace talvenplan::testing
