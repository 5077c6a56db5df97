#include "tests/mem/memfix.h"

#include <cstring>

namespace {

using Lpm = MemTest;

TEST_F(Lpm, CarvingReallocAndReset) {
  const U4 x0 = lpm_block_x;
  const U4 cnt0 = lpm_cnt;
  const U8 mem0 = lpm_mem;
  void* a = AllocLPM(8);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(PtMDP(a, true)->lpmx, x0);
  EXPECT_EQ(lpm_block_x, x0 + 44); // descriptor and 12 bytes
  void* b = AllocLPM(7);
  SettleMemBooks();
  EXPECT_EQ(lpm_cnt, cnt0 + 2);
  EXPECT_EQ(lpm_mem, mem0 + 20);

  // Resizing stays in the pool; the old block carries the freed signature.
  std::strcpy(static_cast<char*>(b), "lpm");
  void* old_b = b;
  b = ReallocU1(b, 100, false);
  EXPECT_STREQ(static_cast<char*>(b), "lpm");
  EXPECT_EQ(PtMDP(b, true)->alloc_id, LPM);
  EXPECT_EQ(PtMDP(old_b, false), nullptr);
  EXPECT_NE(std::string(MemDscText(old_b)).find(" FREED"), std::string::npos);

  // A reset takes the live blocks off the counters, the freed one only once.
  FreeSP(&a);
  const U4 after_b = lpm_block_x;
  ResetLPM(x0);
  EXPECT_EQ(lpm_cnt, cnt0);
  EXPECT_EQ(lpm_mem, mem0);
  EXPECT_EQ(lpm_block_x, x0);
  // The released range no longer passes as a block, and a keep above the fill is refused.
  EXPECT_EQ(PtMDP(b, false), nullptr);
  EXPECT_NE(std::string(MemDscText(b)).find("/UNKNOWN"), std::string::npos);
  ResetLPM(after_b);
  EXPECT_EQ(TakeErr().rfind("ResetLPM:keep=", 0), 0u);
  EXPECT_EQ(lpm_block_x, x0);

  // A block ending exactly at the end fits; the next stored size up does not.
  const U4 room = static_cast<U4>(lpm_block_end - lpm_block) - lpm_block_x - 32;
  void* full = AllocLPM(room - 4);
  EXPECT_NE(full, nullptr);
  EXPECT_EQ(lpm_block_x, static_cast<U4>(lpm_block_end - lpm_block));
  ResetLPM(x0);
  EXPECT_EQ(AllocLPM(room), nullptr);
  EXPECT_EQ(TakeErr(), "LPM OVERFLOW");
  EXPECT_EQ(lpm_block_x, x0);

  // Carves over released bytes that hold old data: whole descriptors, first bytes 0.
  full = AllocLPM(200);
  std::memset(full, 'd', 200);
  ResetLPM(x0);
  for (U4 i = 0; i < 3; ++i) {
    char* c = static_cast<char*>(AllocLPM(2));
    const memdsc* d = PtMDP(c, false);
    ASSERT_NE(d, nullptr) << i;
    EXPECT_EQ(d->lpmx, x0 + i * 36);
    EXPECT_EQ(d->sz, 4u);
    EXPECT_EQ(d->alloc_id, LPM);
    EXPECT_EQ(d->alloc_time, 0u);
    EXPECT_EQ(c[0], 0);
  }
  ResetLPM(x0);

  // Switched off, every request overflows.
  const U4 saved = lpm_block_sz;
  lpm_block_sz = 0;
  EXPECT_EQ(AllocLPM(1), nullptr);
  EXPECT_EQ(TakeErr(), "LPM OVERFLOW");
  lpm_block_sz = saved;
  InternalMemCheck("test");
  EXPECT_FALSE(ErrSet);
}

} // namespace
