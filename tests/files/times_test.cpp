// The three times of a file, the recycle bin and the names of reparse tags, on real files.
#include "files/filetimes.h"
#include "files/ftest.h"
#include "files/reparsetag.h"
#include "platform/syserr.h"
#include "tempdir.h"

#include <cstdlib>

namespace fs = std::filesystem;

namespace {
using Times = TempDirTest;

TEST_F(Times, GetAndSetWithTheirNames) {
  const std::string fn = Put("t.txt", "x");
  const I8 w = 1200000000, a = 1300000000;
  EXPECT_TRUE(SetFileTimes(fn.c_str(), nullptr, &w, &a)) << Error();
  I8 c = -1, w2 = -1, a2 = -1;
  EXPECT_TRUE(GetFileTimes(&c, &w2, &a2, fn.c_str())) << Error();
  EXPECT_EQ(w2, w);
  EXPECT_EQ(a2, a);
  EXPECT_GT(c, 0);
  const I8 w3 = 1250000000;
  EXPECT_TRUE(SetFileTimes(fn.c_str(), nullptr, &w3, nullptr));
  EXPECT_TRUE(GetFileTimes(nullptr, &w2, &a2, fn.c_str()));
  EXPECT_EQ(w2, w3);
  EXPECT_EQ(a2, a) << "a time not given stays";

  // A read-only file loses the attribute for good.
  ASSERT_TRUE(AttributeToFile(fn.c_str(), kFsAttrReadOnly, true));
  EXPECT_TRUE(SetFileTimes(fn.c_str(), nullptr, &w, nullptr)) << Error();
  EXPECT_FALSE(FileAttribute(fn.c_str()) & kFsAttrReadOnly);

  const std::string missing = Path("missing.txt");
  c = w2 = a2 = 7;
  EXPECT_FALSE(GetFileTimes(&c, &w2, &a2, missing.c_str()));
  EXPECT_EQ(c + w2 + a2, 0);
  EXPECT_EQ(
      Error().rfind(std::string(PlatformOpenCallName()) + ": srcfn=" + missing + " (error #", 0),
      0u);
  EXPECT_FALSE(SetFileTimes(missing.c_str(), nullptr, &w, nullptr));
  EXPECT_EQ(
      Error().rfind(std::string(PlatformOpenCallName()) + ": dstfn=" + missing + " (error #", 0),
      0u);
  EXPECT_FALSE(GetFileTimes(&c, nullptr, nullptr, "MRF:x"));
  EXPECT_EQ(Error(), "GetFileTimes:srcfn=MRF:x");
}

TEST_F(Times, RecycleMovesTheFileAway) {
#ifndef _WIN32
  // The user's trash, here in the test's folder.
  const fs::path data = dir / "data";
  setenv("XDG_DATA_HOME", data.string().c_str(), 1);
#endif
  const std::string fn = Put("gone.txt", "keep me");
  EXPECT_TRUE(RecycleFile(fn.c_str())) << Error();
  EXPECT_FALSE(fs::exists(fn));
#ifndef _WIN32
  EXPECT_EQ(Get((data / "Trash" / "files" / "gone.txt").string()), "keep me");
  const std::string info = Get((data / "Trash" / "info" / "gone.txt.trashinfo").string());
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + fn + "\nDeletionDate=", 0), 0u) << info;
  Put("gone.txt", "second");
  EXPECT_TRUE(RecycleFile(fn.c_str())) << Error();
  EXPECT_EQ(Get((data / "Trash" / "files" / "gone.txt.2").string()), "second");
  unsetenv("XDG_DATA_HOME");
#endif
  EXPECT_FALSE(RecycleFile("MRF:x"));
  EXPECT_EQ(Error(), "Can't recycle an MRF (file=MRF:x)");
  if (CanLink(dir.string())) {
    Put("target.txt", "t");
    ASSERT_TRUE(PlatformCreateLink(Path("link").c_str(), "target.txt", false));
    EXPECT_FALSE(RecycleFile(Path("link").c_str()));
    EXPECT_EQ(Error(), "Can't recycle a link (file=" + Path("link") + ")");
    EXPECT_TRUE(fs::exists(Path("target.txt")));
  }
  EXPECT_FALSE(RecycleFile(Path("missing").c_str()));
  EXPECT_EQ(Error(), "File \"" + Path("missing") + "\" not found (file=" + Path("missing") + ")");
}

TEST_F(Times, ReparseTagsByName) {
  EXPECT_STREQ(ReparseTagName(0xA000000C), "IO_REPARSE_TAG_SYMLINK");
  EXPECT_STREQ(ReparseTagName(0x8000001B), "IO_REPARSE_TAG_APPEXECLINK");
  EXPECT_STREQ(ReparseTagName(0), "IO_REPARSE_TAG_RESERVED_ZERO");
  EXPECT_STREQ(ReparseTagName(0xA0001027), "IO_REPARSE_TAG_WCI_LINK_1");
  EXPECT_STREQ(ReparseTagName(0x1234ABCD), "1234ABCD");
}

// Attributes given to a link reach its target.
TEST_F(Times, AttributesThroughALink) {
  if (!CanLink(dir.string())) GTEST_SKIP() << "no links here";
  const std::string target = Put("target.txt", "t");
  ASSERT_TRUE(PlatformCreateLink(Path("link").c_str(), "target.txt", false));
  EXPECT_TRUE(AttributeToFile(Path("link").c_str(), kFsAttrReadOnly, true)) << Error();
  EXPECT_TRUE(PlatformAttributes(target.c_str()) & kFsAttrReadOnly);
  EXPECT_TRUE(AttributeToFile(Path("link").c_str(), 0, true));
  EXPECT_FALSE(PlatformAttributes(target.c_str()) & kFsAttrReadOnly);
}
} // namespace
