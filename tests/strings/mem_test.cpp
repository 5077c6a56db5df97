#include "runtime/settings.h"
#include "tests/strings/helpers.h"

#include <cstring>

namespace {

using Memory = StringsTest;

TEST_F(Memory, HeapBlocksAndDescriptors) {
  EXPECT_EQ(AllocU1(0), nullptr);
  EXPECT_FALSE(ErrSet);
  void* p = AllocU1(1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(*static_cast<U1*>(p), 0);
  EXPECT_EQ(PtSize(p, true), 32u); // 64-byte class, header included
  memdsc* d = PtMDP(p, true);
  ASSERT_EQ(static_cast<void*>(reinterpret_cast<U1*>(d) + 32), p);
  EXPECT_EQ(d->lpmx, 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(d->signature, "\xC0\xD1\xE2\xF3", 4), 0);

  reuse_mem_ena = false;
  void* q = AllocU1(64);
  void* r = AllocU1(63);
  reuse_mem_ena = true;
  EXPECT_EQ(PtSize(q, true), 128u);
  EXPECT_EQ(PtSize(r, true), 64u);

  // Growth within the stored size keeps the block; shrinking needs the flag.
  std::strcpy(static_cast<char*>(p), "abc");
  EXPECT_EQ(ReallocU1(p, 20, false), p);
  void* g = ReallocU1(p, 1000, false);
  EXPECT_STREQ(static_cast<char*>(g), "abc");
  EXPECT_EQ(ReallocU1(g, 10, false), g);
  EXPECT_EQ(ReallocU1(g, 0, false), g);
  EXPECT_EQ(TakeErr(), "ReallocU1:Mem realloc failure (req=0)");

  void* t = AllocTransitoryU1(5);
  EXPECT_EQ(PtMDP(t, true)->alloc_id, TRANSITORY);
  EXPECT_STREQ(AllocIdName(4), "ZL");
  EXPECT_STREQ(AllocIdName(9), "ALLOC_ID_?9");

  for (void** v : {&g, &q, &r, &t}) {
    FreeSP(v);
    EXPECT_EQ(*v, nullptr);
  }
  FreeSP(&g); // already null: nothing
}

TEST_F(Memory, FailuresAreReportedNotFatal) {
  MemFailAfter(1);
  EXPECT_EQ(AllocU1(100), nullptr);
  EXPECT_EQ(TakeErr(), "AllocU1:Mem alloc failure (req=132 free=0 largestBlock=0)");

  char* p = static_cast<char*>(AllocU1(10));
  std::strcpy(p, "kept");
  MemFailAfter(1);
  EXPECT_EQ(ReallocU1(p, 5000, false), p); // old block still valid
  EXPECT_STREQ(p, "kept");
  EXPECT_EQ(TakeErr(), "ReallocU1:Mem realloc failure (req=5000 free=0 largestBlock=0)");

  // Handing back a freed, interior or foreign pointer.
  char* stale = p;
  FreeSP(&p);
  FreeSP(&stale);
  EXPECT_NE(stale, nullptr);
  EXPECT_EQ(TakeErr().rfind("PtMDP:Memory was freed: pt1=", 0), 0u);
  char* keep = static_cast<char*>(AllocU1(100));
  char* inner = keep + 40;
  FreeSP(&inner);
  {
    std::string m = TakeErr();
    EXPECT_EQ(m.rfind("PtMDP:Invalid memdsc_signature: pt1=", 0), 0u) << m;
  }
  char local[8];
  char* foreign = local;
  FreeSP(&foreign);
  EXPECT_EQ(TakeErr().rfind("PtMDP:pt out of range: pt=", 0), 0u);
  EXPECT_EQ(PtMDP(local, false), nullptr);
  EXPECT_FALSE(ErrSet);

  // FreeSP works while an error is pending and keeps the first message.
  SeMErrMult("first", nullptr);
  FreeSP(&keep);
  EXPECT_EQ(keep, nullptr);
  EXPECT_EQ(TakeErr(), "first");
}

TEST_F(Memory, LpmPool) {
  const U4 x0 = lpm_block_x;
  const U4 cnt0 = lpm_cnt;
  void* a = AllocLPM(8);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(PtSize(a, true), 12u);
  EXPECT_EQ(PtMDP(a, true)->lpmx, x0);
  EXPECT_EQ(lpm_block_x, x0 + 44);
  void* b = AllocLPM(7);
  EXPECT_EQ(PtSize(b, true), 8u);
  EXPECT_EQ(lpm_cnt, cnt0 + 2);

  // Reallocation stays in the pool; the old block is freed.
  std::strcpy(static_cast<char*>(b), "lpm");
  void* old_b = b;
  b = ReallocU1(b, 100, false);
  EXPECT_STREQ(static_cast<char*>(b), "lpm");
  EXPECT_EQ(PtMDP(b, true)->alloc_id, LPM);
  EXPECT_EQ(PtMDP(old_b, false), nullptr);
  FreeSP(&old_b);
  EXPECT_EQ(TakeErr().rfind("PtMDP:Memory was freed", 0), 0u);

  FreeSP(&a);
  ResetLPM(x0); // the freed block is not counted twice
  EXPECT_EQ(lpm_cnt, cnt0);
  EXPECT_EQ(lpm_block_x, x0);

  // A block ending exactly at the end fits; 4 more bytes do not.
  const U4 room = lpm_block_sz - lpm_block_x - 32;
  void* full = AllocLPM(room - 4);
  EXPECT_NE(full, nullptr);
  ResetLPM(x0);
  EXPECT_EQ(AllocLPM(room), nullptr);
  EXPECT_EQ(TakeErr(), "LPM OVERFLOW");
  EXPECT_EQ(lpm_block_x, x0);
  InternalMemCheck("test");
}

} // namespace
