#include "io/place.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

namespace talvenplan {
namespace {

using namespace std::string_literals;
using Names = std::set<std::string>;

struct Dir {
  Dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    name += "/place.XXXXXX";
    path = ::mkdtemp(name.data());
  }
  ~Dir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const {
    return path + "/" + name;
  }
  void Write(const std::string& name, const std::string& text) const {
    Fd fd(::open((*this / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(WriteAll(fd.get(), text));
  }
  std::string Read(const std::string& name) const {
    OpenFile file = OpenRegular(AT_FDCWD, (*this / name).c_str());
    char buffer[256];
    long size = file.fd ? ReadSome(file.fd.get(), buffer, sizeof buffer) : -1;
    return size < 0 ? "<none>" : std::string(buffer, size);
  }
  // The names in the directory, sorted, each new file's as ".new".
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      std::string name = entry.path().filename().string();
      names.insert(name.starts_with(".new") ? ".new" : name);
    }
    return names;
  }
  std::string path;
};

const Root kNoRoot;

TEST(NewNameTest, EachWayMakesTheNameOnceAndLeavesNoTemporaryFile) {
  for (NewNameWay way : {NewNameWay::kRenameNoReplace, NewNameWay::kLink}) {
    Dir dir;
    Fd fd(::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY));
    dir.Write(".new1", "first");
    EXPECT_EQ(LinkNew(fd.get(), ".new1", "db", way), 0);
    dir.Write(".new2", "second");
    EXPECT_EQ(LinkNew(fd.get(), ".new2", "db", way), EEXIST);
    EXPECT_EQ(dir.Read("db"), "first");
    EXPECT_EQ(dir.Names(), Names{"db"});
  }
}

// Where hard links are refused (here: of a directory, with EPERM, as vfat
// refuses every one), the no-replace rename gives the name after all.
TEST(NewNameTest, ARefusedLinkFallsBackToTheRename) {
  Dir dir;
  Fd fd(::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY));
  ASSERT_EQ(::mkdir((dir / ".new1").c_str(), 0777), 0);
  EXPECT_EQ(LinkNew(fd.get(), ".new1", "db", NewNameWay::kLink), 0);
  ASSERT_EQ(::mkdir((dir / ".new2").c_str(), 0777), 0);
  EXPECT_EQ(LinkNew(fd.get(), ".new2", "db", NewNameWay::kLink), EEXIST);
  EXPECT_EQ(dir.Names(), (Names{".new", "db"}));  // a directory stays
}

TEST(NewNameTest, NoReplaceRenameOnlyWhereItIsKnownToHold) {
  for (auto [type, way] : {
           std::pair{0xEF53ul, NewNameWay::kRenameNoReplace},  // ext2/3/4
           {0x58465342ul, NewNameWay::kRenameNoReplace},       // XFS
           {0x9123683Eul, NewNameWay::kRenameNoReplace},       // Btrfs
           {0x01021994ul, NewNameWay::kRenameNoReplace},       // tmpfs
           {0x794C7630ul, NewNameWay::kLink},                  // overlayfs
           {0x2FC12FC1ul, NewNameWay::kLink},                  // ZFS
           {0x6969ul, NewNameWay::kLink},                      // NFS
           {0x65735546ul, NewNameWay::kLink},                  // FUSE
           {0x4D44ul, NewNameWay::kLink},                      // vfat
       }) {
    EXPECT_EQ(NewNameWayForType(type), way) << std::hex << type;
  }
  // The file system a directory is on decides, as its own statfs says.
  Dir dir;
  Fd fd(::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY));
  struct statfs info {};
  ASSERT_EQ(::fstatfs(fd.get(), &info), 0);
  EXPECT_EQ(NewNameWayFor(fd.get()),
            NewNameWayForType(static_cast<unsigned long>(info.f_type)));
  EXPECT_EQ(NewNameWayFor(-1), NewNameWay::kLink);
}

TEST(PlaceTest, ALinkIsResolvedOnce) {
  Dir dir;
  ASSERT_EQ(::mkdir((dir / "a").c_str(), 0777), 0);
  dir.Write("a/mine", "mine");
  dir.Write("a/victim", "victim");
  ASSERT_EQ(::symlink("a/mine", (dir / "in").c_str()), 0);
  Place place;
  std::string in = dir / "in";
  OpenFile file = OpenAtPlace(kNoRoot, in.c_str(), place);
  ASSERT_TRUE(file.fd);
  EXPECT_STREQ(place.name, "mine");

  // The link now leads elsewhere: the place does not follow it.
  ASSERT_EQ(::unlink(in.c_str()), 0);
  ASSERT_EQ(::symlink("a/victim", in.c_str()), 0);
  NewFile text;
  ASSERT_EQ(WriteBeside(place, ".newXXXXXX", 0600, {"new"}, text),
            FileError::kNone);
  EXPECT_EQ(RenameOver(text, place.name, file.id), FileError::kNone);
  EXPECT_EQ(dir.Read("a/mine"), "new");
  EXPECT_EQ(dir.Read("a/victim"), "victim");
}

TEST(PlaceTest, NothingChangesWhenTheNameHoldsAnotherFile) {
  Dir dir;
  dir.Write("db", "checked");
  Place place;
  std::string db = dir / "db";
  OpenFile file = OpenAtPlace(kNoRoot, db.c_str(), place);
  ASSERT_TRUE(file.fd);
  dir.Write(".other", "other");
  ASSERT_EQ(::rename((dir / ".other").c_str(), db.c_str()), 0);

  EXPECT_EQ(Remove(place, file.id), FileError::kChanged);
  {
    NewFile text;
    ASSERT_EQ(WriteBeside(place, ".newXXXXXX", 0600, {"new"}, text),
              FileError::kNone);
    EXPECT_EQ(RenameOver(text, place.name, file.id), FileError::kChanged);
    EXPECT_EQ(dir.Read("db"), "other");
    EXPECT_EQ(dir.Names(), (Names{".new", "db"}));  // waiting beside it
  }
  EXPECT_EQ(dir.Names(), Names{"db"});  // and gone when given up
  OpenFile other = OpenRegular(AT_FDCWD, db.c_str());
  EXPECT_EQ(Remove(place, other.id), FileError::kNone);
  EXPECT_EQ(dir.Names(), Names{});
}

// A device never opens; a directory does, marked, for its reads to fail.
TEST(PlaceTest, OnlyRegularFilesOpen) {
  Dir dir;
  EXPECT_EQ(OpenRegular(AT_FDCWD, "/dev/null").error, ENXIO);
  OpenFile directory = OpenRegular(AT_FDCWD, dir.path.c_str());
  EXPECT_TRUE(directory.directory);
}

TEST(PlaceTest, CreateNeverReplaces) {
  Dir dir;
  dir.Write("db", "old");
  Place place;
  std::string db = dir / "db";
  ASSERT_EQ(FindParent(kNoRoot, db.c_str(), place), 0);
  EXPECT_EQ(CreateNew(place, ".newXXXXXX", {"new"}), FileError::kTaken);
  EXPECT_EQ(dir.Read("db"), "old");
  std::string empty = dir.path + "/";
  ASSERT_EQ(FindParent(kNoRoot, empty.c_str(), place), 0);
  EXPECT_EQ(CreateNew(place, ".newXXXXXX", {"new"}), FileError::kCantName);
  EXPECT_EQ(dir.Names(), Names{"db"});
}

}  // namespace
}  // namespace talvenplan
