// Copies and moves onto existing files: the name keeps its kind, mode and owner, a failed
// copy keeps the old contents, a copy onto itself changes nothing.
#include "files/fileops.h"
#include "files/ftest.h"
#include "tempdir.h"

#include <cstdlib>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {
using CopyThrough = TempDirTest;

U8 Identity(const std::string& fn) {
  FsStat st;
  return PlatformStat(fn.c_str(), false, &st) ? st.index : 0;
}

size_t Entries(const fs::path& d) {
  return size_t(std::distance(fs::directory_iterator(d), fs::directory_iterator()));
}
} // namespace

TEST_F(CopyThrough, LinksAndModesStay) {
  const std::string src = Put("src.txt", "new data");
  if (CanLink(dir.string())) {
    const std::string target = Put("target.txt", "old");
    ASSERT_TRUE(CreateLink(Path("link").c_str(), "target.txt", 0));
    EXPECT_TRUE(MyCopyFile(Path("link").c_str(), src.c_str(), false)) << Error();
    EXPECT_TRUE(FileIsLink(Path("link").c_str())) << "the link stays a link";
    EXPECT_EQ(Get(target), "new data") << "its target takes the data";

    Put("moved.txt", "moved");
    EXPECT_TRUE(MyMoveFile(Path("link").c_str(), Path("moved.txt").c_str())) << Error();
    EXPECT_TRUE(FileIsLink(Path("link").c_str()));
    EXPECT_EQ(Get(target), "moved");
    EXPECT_FALSE(fs::exists(Path("moved.txt")));

    // A link whose target is missing gets it made.
    ASSERT_TRUE(CreateLink(Path("dangling").c_str(), "made.txt", 0));
    EXPECT_TRUE(MyCopyFile(Path("dangling").c_str(), src.c_str(), false)) << Error();
    EXPECT_TRUE(FileIsLink(Path("dangling").c_str()));
    EXPECT_EQ(Get(Path("made.txt")), "new data");
  }
#ifndef _WIN32
  const std::string script = Put("run.sh", "old");
  fs::permissions(script, fs::perms(0750));
  EXPECT_TRUE(MyCopyFile(script.c_str(), src.c_str(), false)) << Error();
  EXPECT_EQ(fs::status(script).permissions(), fs::perms(0750));
  Put("other.sh", "other");
  fs::permissions(Path("other.sh"), fs::perms(0600));
  EXPECT_TRUE(MyMoveFile(script.c_str(), Path("other.sh").c_str())) << Error();
  EXPECT_EQ(Get(script), "other");
  EXPECT_EQ(fs::status(script).permissions(), fs::perms(0750));
#endif
}

TEST_F(CopyThrough, OntoItselfNothingHappens) {
  // Another name of the same file: a copy would replace it by a new file (a new identity,
  // and the other name left with the old one).
  const std::string src = Put("src.txt", "data");
  const U8 before = Identity(src);
  EXPECT_TRUE(MyCopyFile(src.c_str(), src.c_str(), false)) << Error();
  EXPECT_EQ(Identity(src), before);
  std::error_code ec;
  fs::create_hard_link(src, Path("twin.txt"), ec);
  if (ec) GTEST_SKIP() << "no hard links here";
  EXPECT_TRUE(MyCopyFile(Path("twin.txt").c_str(), src.c_str(), false)) << Error();
  EXPECT_TRUE(MyMoveFile(Path("twin.txt").c_str(), src.c_str())) << Error();
  EXPECT_EQ(Identity(Path("twin.txt")), before);
  EXPECT_EQ(Identity(src), before);
  EXPECT_EQ(Get(src), "data");
  EXPECT_EQ(Entries(dir), 2u);
}

#ifndef _WIN32
TEST_F(CopyThrough, AFullDiskKeepsTheOldContents) {
  // A device is written into, never replaced.
  const std::string src = Put("src.txt", std::string(100000, 'x'));
  EXPECT_FALSE(MyCopyFile("/dev/full", src.c_str(), false));
  EXPECT_EQ(Error().rfind("Write error on \"/dev/full\"", 0), 0u) << Error();
  struct stat st {};
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  const fs::path small = dir / "small";
  fs::create_directories(small);
  const std::string mount = "mount -t tmpfs -o size=64k tmpfs '" + small.string() + "' 2>/dev/null";
  if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "no tmpfs here";
  const std::string dst = (small / "dst.txt").string();
  std::ofstream(dst) << "old";
  EXPECT_FALSE(MyCopyFile(dst.c_str(), src.c_str(), false));
  const std::string msg = Error();
  EXPECT_EQ(Get(dst), "old") << msg;
  EXPECT_NE(msg.find(" (" + src + " -> " + dst + ")"), std::string::npos) << msg;
  EXPECT_EQ(Entries(small), 1u) << "no side file is left behind";
  std::system(("umount '" + small.string() + "'").c_str());
}
#endif
