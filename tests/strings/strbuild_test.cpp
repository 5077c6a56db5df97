#include "tests/strings/helpers.h"
#include "text/strbuild.h"

#include <cstring>
#include <string>

namespace {

using Strbuild = StringsTest;

char* Copy(U4 maxsz, bool report, U4* plen, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* out = VaListCopy(maxsz, report, plen, ap, first);
  va_end(ap);
  return out;
}

TEST_F(Strbuild, FixedBufferJoinAndOverflowRule) {
  char bf[16];
  StToStMult(bf, sizeof bf, true, "ab", "", "cd", nullptr);
  EXPECT_STREQ(bf, "abcd");
  StToStMult(bf, 4, true, "abc", nullptr); // exactly fits
  EXPECT_STREQ(bf, "abc");
  EXPECT_FALSE(ErrSet);

  StToStMult(bf, 4, false, "abcdef", nullptr);
  EXPECT_STREQ(bf, "...");
  EXPECT_FALSE(ErrSet);
  StToStMult(bf, 3, false, "abcdef", nullptr);
  EXPECT_STREQ(bf, "ab");
  StToStMult(bf, 8, true, "abc", "defgh", nullptr);
  EXPECT_STREQ(bf, "abcd...");
  EXPECT_EQ(TakeErr(), "String overflow: dstsz=8");

  StToStMult(bf, sizeof bf, true, nullptr, nullptr);
  EXPECT_STREQ(bf, "");
  StToStMult(nullptr, 5, true, "x", nullptr);
  EXPECT_EQ(TakeErr(), "StToStMult:dst=NULL");
  StToStMult(bf, 0, true, "x", nullptr);
  EXPECT_EQ(TakeErr(), "StToStMult:dstsz=0");

  // A pending error: nothing is written.
  std::strcpy(bf, "keep");
  SeMErrMult("first", nullptr);
  StToStMult(bf, sizeof bf, true, "x", nullptr);
  EXPECT_STREQ(bf, "keep");
  EXPECT_EQ(TakeErr(), "first");
}

TEST_F(Strbuild, SelfAndTooManyPieces) {
  char bf[32] = "old";
  StToStMult(bf, sizeof bf, true, "x", bf, nullptr);
  EXPECT_STREQ(bf, "xold");

  // 101 pieces: the first 100 are used.
#define TEN "a", "a", "a", "a", "a", "a", "a", "a", "a", "a"
#define HUNDRED TEN, TEN, TEN, TEN, TEN, TEN, TEN, TEN, TEN, TEN
  StToStMult(bf, sizeof bf, true, HUNDRED, "b", nullptr);
  EXPECT_EQ(std::string(bf), std::string(28, 'a') + "...");
  EXPECT_EQ(TakeErr(), "String overflow: Too many args");

  char* sp = SPCopyMult(true, HUNDRED, "b", nullptr);
  ASSERT_NE(sp, nullptr);
  EXPECT_EQ(std::string(sp), std::string(97, 'a') + "...");
  EXPECT_EQ(TakeErr(), "String overflow: Too many args");
  FreeSP(&sp);
  sp = ReplaceSPMult(nullptr, HUNDRED, "b", nullptr); // silently the first 100
  EXPECT_EQ(std::string(sp), std::string(100, 'a'));
  EXPECT_FALSE(ErrSet);
#undef HUNDRED
#undef TEN
  FreeSP(&sp);
}

TEST_F(Strbuild, AppendToFixedBuffer) {
  char bf[8] = "ab";
  U4 len = 0xFFFFFFFFu;
  EXPECT_EQ(AppStMult(bf, &len, sizeof bf, true, "cd", nullptr), 4u);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(AppStMult(bf, &len, sizeof bf, true, nullptr, nullptr), 4u); // nothing, len untouched
  EXPECT_EQ(AppStMult(bf, &len, sizeof bf, true, "efgh", nullptr), 7u);
  EXPECT_STREQ(bf, "abcd...");
  EXPECT_EQ(TakeErr(), "String overflow: len=7");
  AppStMult(nullptr, nullptr, 8, true, "x", nullptr);
  EXPECT_EQ(TakeErr(), "AppStMult:dst=null");
  AppStMult(bf, nullptr, 0, true, "x", nullptr);
  EXPECT_EQ(TakeErr(), "AppStMult:dstsz=0");
}

TEST_F(Strbuild, AllocatingBuilders) {
  U4 len = 99;
  EXPECT_EQ(Copy(0, true, &len, "x", nullptr), nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(TakeErr(), "VaListCopy:maxsz=0");
  char* a = Copy(4, true, &len, "abc", "def", nullptr);
  EXPECT_STREQ(a, "...");
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(TakeErr(), "String overflow: len=3");
  FreeSP(&a);
  a = Copy(7, true, &len, "abc", "def", nullptr); // exactly fits
  EXPECT_STREQ(a, "abcdef");
  EXPECT_FALSE(ErrSet);
  FreeSP(&a);

  char* t = TransitorySPCopyMult(false, "t", "u", nullptr);
  char* z = ZLSPCopyMult(false, "z", nullptr);
  char* l = LPMSPCopyMult(false, "l", nullptr);
  ASSERT_TRUE(t && z && l);
  EXPECT_STREQ(t, "tu");
  EXPECT_EQ(PtMDP(t, true)->alloc_id, TRANSITORY);
  EXPECT_EQ(PtMDP(z, true)->alloc_id, ZL);
  EXPECT_EQ(PtMDP(l, true)->alloc_id, LPM);
  EXPECT_EQ(pgm_alloc_id, PERSISTENT);

  // Appending: null sp allocates, a counted length, a bound.
  char* sp = nullptr;
  len = 0xFFFFFFFFu;
  sp = AppSPMult(sp, &len, 0xFFFFFFFFu, true, "abc", nullptr);
  EXPECT_STREQ(sp, "abc");
  sp = AppSPMult(sp, nullptr, 0xFFFFFFFFu, true, "def", nullptr);
  EXPECT_STREQ(sp, "abcdef");
  len = 6;
  sp = AppSPMult(sp, &len, 9, true, "ghijk", nullptr);
  EXPECT_STREQ(sp, "abcde...");
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(TakeErr(), "String overflow: len=8");
  EXPECT_EQ(AppSPMult(sp, nullptr, 0, true, "x", nullptr), sp);
  EXPECT_EQ(TakeErr(), "AppSPMult:maxsz=0");

  // Replacing keeps the kind and may read the old text.
  sp = ReplaceSPMult(sp, "a", sp, nullptr);
  EXPECT_STREQ(sp, "aabcde...");
  t = ReplaceSPMult(t, t, "!", nullptr);
  EXPECT_STREQ(t, "tu!");
  EXPECT_EQ(PtMDP(t, true)->alloc_id, TRANSITORY);
  z = ReplaceSPMult(z, nullptr, nullptr);
  EXPECT_EQ(z, nullptr);
  char* n = ReplaceTransitorySP(nullptr, "n");
  EXPECT_EQ(PtMDP(n, true)->alloc_id, TRANSITORY);

  // Parts.
  sp = ReplaceSPPart(sp, "0123456789", 2, 5);
  EXPECT_STREQ(sp, "234");
  sp = ReplaceSPPart(sp, sp, 1, 0xFFFFFFFFu);
  EXPECT_STREQ(sp, "34");
  sp = ReplaceSPPart(sp, "0123456789012345678901234567890123456789", 1, 0xFFFFFFFEu);
  EXPECT_EQ(std::strlen(sp), 39u);
  sp = ReplaceSPPart(sp, "abc", 2, 1);
  EXPECT_EQ(sp, nullptr);
  char* p = StPart("hello", 1, 99, 0xFFFFFFFFu);
  EXPECT_STREQ(p, "ello");
  EXPECT_EQ(StPart("hello", 6, 7, 0xFFFFFFFFu), nullptr);
  char* lp = LPMPart("hello", 0, 2, 5);
  EXPECT_STREQ(lp, "he");
  EXPECT_EQ(PtMDP(lp, true)->alloc_id, LPM);

  // Padding and raw copies.
  p = PadSP(p, 6);
  EXPECT_STREQ(p, "ello  ");
  EXPECT_EQ(PadSP(p, 3), p);
  void* b = BfCopy("a\0b", 3);
  EXPECT_EQ(std::memcmp(b, "a\0b", 3), 0);
  EXPECT_EQ(BfCopy("x", 0), nullptr);
  void* tb = TransitoryBfCopy("x", 1);
  EXPECT_EQ(PtMDP(tb, true)->alloc_id, TRANSITORY);

  for (char** q : {&t, &l, &n, &p, &lp})
    FreeSP(q);
  FreeSP(&b);
  FreeSP(&tb);
}

TEST_F(Strbuild, BufferCopy) {
  char bf[4] = "abc";
  BfBf(bf, 4, "xyz", 4);
  EXPECT_STREQ(bf, "xyz");
  BfBf(bf, 4, "12345", 5);
  EXPECT_STREQ(bf, "xyz");
  EXPECT_EQ(TakeErr(), "Buffer overflow: cnt=5 dstsz=4");
  BfBf(bf + 1, 3, bf, 2); // overlapping move
  EXPECT_STREQ(bf, "xxy");
  BfBf(bf, 4, nullptr, 1);
  EXPECT_EQ(TakeErr(), "BfBf:src=null");
  BfBf(nullptr, 4, bf, 1);
  EXPECT_EQ(TakeErr(), "BfBf:dst=null");
}

TEST_F(Strbuild, InPlaceEdits) {
  char s[32] = "0123456";
  RemovePart(s, 1, 3);
  EXPECT_STREQ(s, "03456");
  RemovePart(s, 2, 0xFFFFFFFFu);
  EXPECT_STREQ(s, "03");
  RemovePart(s, 2, 5);
  EXPECT_STREQ(s, "03");

  std::strcpy(s, " \t ab ");
  EXPECT_TRUE(RemoveLeadingSpacesTabs(s));
  EXPECT_STREQ(s, "ab ");
  EXPECT_FALSE(RemoveLeadingSpacesTabs(s));
  std::strcpy(s, " \t");
  EXPECT_TRUE(RemoveLeadingSpacesTabs(s));
  EXPECT_STREQ(s, "");

  std::strcpy(s, "ab \t");
  EXPECT_TRUE(RemoveTrailingSpacesTabs(s, 0xFFFFFFFFu));
  EXPECT_STREQ(s, "ab");
  EXPECT_FALSE(RemoveTrailingSpacesTabs(s, 0xFFFFFFFFu));
  std::strcpy(s, "  ");
  EXPECT_FALSE(RemoveTrailingSpacesTabs(s, 2));
  EXPECT_STREQ(s, "  ");
  EXPECT_TRUE(RemoveTrailingSpacesTabs(s, 0xFFFFFFFFu));
  EXPECT_STREQ(s, "");

  std::strcpy(s, "a/b/");
  EXPECT_TRUE(RemoveTrailingChar(s, '/', 0xFFFFFFFFu));
  EXPECT_FALSE(RemoveTrailingChar(s, '/', 0xFFFFFFFFu));
  EXPECT_TRUE(RemoveTrailingChar(s, '/', 2));
  EXPECT_STREQ(s, "a");
  EXPECT_EQ(StLen(nullptr), 0u);
}

} // namespace
