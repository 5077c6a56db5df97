// Inputs that a straight-line implementation turns into corrupted text, overruns or
// use of freed memory.
#include "tests/strings/helpers.h"
#include "text/strbuild.h"

#include <cstring>
#include <string>

namespace {

using Soundness = StringsTest;

TEST_F(Soundness, HostileInputs) {
  // A source inside the destination, not at its start.
  char bf[32] = "0123456789";
  StToStMult(bf, sizeof bf, true, "ab", bf + 5, nullptr);
  EXPECT_STREQ(bf, "ab56789");

  // Appending a buffer to itself.
  char app[12] = "abcd";
  U4 len = 4;
  EXPECT_EQ(AppStMult(app, &len, sizeof app, true, app, app, nullptr), 11u);
  EXPECT_STREQ(app, "abcdabcd...");
  EXPECT_EQ(TakeErr(), "String overflow: len=11");

  // A current length at or past the destination size.
  char small[9] = "abcdefg";
  small[8] = '#'; // past the size handed in
  len = 50;
  EXPECT_EQ(AppStMult(small, &len, 8, true, "x", nullptr), 7u);
  EXPECT_EQ(len, 7u);
  EXPECT_STREQ(small, "abcd...");
  EXPECT_EQ(small[8], '#');
  EXPECT_EQ(TakeErr(), "String overflow: len=7");

  // Growing a tracked string while a source lies inside it.
  char* sp = SPCopyMult(false, "hello", nullptr);
  for (int i = 0; i < 6; ++i)
    sp = AppSPMult(sp, nullptr, 0xFFFFFFFFu, false, "-", sp + 1, nullptr);
  EXPECT_EQ(std::strlen(sp), 5u + (1u + 4u) * 63u);
  EXPECT_EQ(std::string(sp, 11), "hello-ello-");
  FreeSP(&sp);

  // Scratch storage that cannot be had is reported.
  std::string big(1000, 'b');
  std::strcpy(bf, "keep");
  char huge[2000];
  std::strcpy(huge, big.c_str());
  MemFailAfter(1);
  StToStMult(huge, sizeof huge, true, "x", huge, nullptr);
  EXPECT_EQ(TakeErr(), "StToStMult:alloca failure: req sz=1002");
  EXPECT_EQ(std::string(huge), big);

  // Sizes near the 32-bit limit fail instead of wrapping into a small block.
  EXPECT_EQ(AllocU1(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(TakeErr().rfind("AllocU1:Mem alloc failure (req=4294967312 free=", 0), 0u);
  EXPECT_EQ(AllocU4(0x40000001u), nullptr);
  EXPECT_TRUE(ErrSet);
  ClearErr();

  // Edits at the edges.
  char st[8] = "abcdef";
  RemovePart(st, 2, 100);
  EXPECT_STREQ(st, "ab");
  EXPECT_FALSE(RemoveTrailingChar(st, 'b', 0));
  EXPECT_STREQ(st, "ab");
}

} // namespace
