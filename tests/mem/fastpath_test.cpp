// The allocator's short ways (ring hit, park, carve, a reset without a walk) keep the same
// books as the long ones, also where they have to give way to them.
#include "tests/mem/memfix.h"

#include <algorithm>
#include <vector>

namespace {

using FastPath = MemTest;

TEST_F(FastPath, RingIndicesWrapAroundTheirCapacity) {
  // One block taken and parked again and again walks both indices round the ring.
  const U4 sz = 128 * 1024 - 32;
  ReuseMemInit();
  ReuseRing& ring = reuse_mem[ReuseMemIndex(U8{sz} + 32)];
  std::vector<void*> waiting; // what earlier tests left on the ring
  while (ReuseMemWaiting(ring) > 0)
    waiting.push_back(AllocU1(sz));
  void* p = AllocU1(sz);
  void* const first = p;
  const U4 blocks = pgm_alloc_mem_cnt;
  const U8 bytes = pgm_malloc_persistent_mem;
  for (U4 i = 0; i < 2 * ring.maxcnt + 3; ++i) {
    FreeSP(&p);
    ASSERT_LT(ring.wr, ring.maxcnt);
    p = AllocU1(sz);
    ASSERT_EQ(p, first) << "turn " << i;
    ASSERT_LT(ring.rd, ring.maxcnt);
  }
  EXPECT_EQ(pgm_alloc_mem_cnt, blocks);
  EXPECT_EQ(pgm_malloc_persistent_mem, bytes);
  FreeSP(&p);
  for (void*& w : waiting)
    FreeSP(&w);
}

TEST_F(FastPath, BlockOfNoClassSizeGoesBackToTheHeap) {
  // A descriptor whose size no class has (here 0) is never parked, whatever its size.
  void* p = AllocU1(10);
  memdsc* d = PtMDP(p, true);
  const U4 sz = d->sz;
  const U8 free_before = pgm_alloc_mem - sz;
  d->sz = 0;
  FreeSP(&p);
  EXPECT_EQ(p, nullptr);
  EXPECT_FALSE(ErrSet);
  // The books took 0 bytes off; give them the real size back.
  EXPECT_EQ(pgm_alloc_mem, free_before + sz);
  pgm_alloc_mem -= sz;
  pgm_malloc_persistent_mem -= sz;
}

// LPM counters as they stand, for comparison after a reset.
struct LpmBooks {
  bool settled = (SettleMemBooks(), true);
  U4 cnt = lpm_cnt, all = pgm_alloc_mem_cnt;
  U8 mem = lpm_mem, bytes = pgm_alloc_mem;
  bool operator==(const LpmBooks&) const = default;
};

TEST_F(FastPath, ResetCountsWhatItReleases) {
  const U4 keep = lpm_block_x;
  const LpmBooks before;

  // Only live blocks above keep: counted without a walk.
  for (U4 i = 1; i < 40; ++i)
    AllocLPM(i);
  ResetLPM(keep);
  EXPECT_TRUE(LpmBooks{} == before);

  // A freed block above keep (not at it) must not be taken off twice.
  AllocLPM(8);
  void* mid = AllocLPM(20);
  AllocLPM(8);
  FreeSP(&mid);
  ResetLPM(keep);
  EXPECT_TRUE(LpmBooks{} == before);
  // Nor one freed below keep, which stays freed after an inner reset above it.
  void* low = AllocLPM(12);
  const U4 inner = lpm_block_x;
  AllocLPM(5);
  FreeSP(&low);
  ResetLPM(inner);
  EXPECT_EQ(lpm_cnt, before.cnt);
  ResetLPM(keep);
  EXPECT_TRUE(LpmBooks{} == before);

  // Far enough on, a later block takes keep's mark: the reset walks instead.
  AllocLPM(16);
  const U4 slot = (keep >> 5) & (kLpmMarks - 1);
  bool taken = false;
  while (!taken && !ErrSet) {
    AllocLPM(1);
    taken = LpmMarkAt(keep).x != keep;
  }
  ASSERT_TRUE(taken) << "slot " << slot;
  ResetLPM(keep);
  EXPECT_TRUE(LpmBooks{} == before);
  InternalMemCheck("test");
  EXPECT_FALSE(ErrSet);
}

TEST_F(FastPath, CarvesBookedLateStillMakeThePeaks) {
  ReuseMemInit(); // so that the heap block below is parked the short way
  const U4 keep = lpm_block_x;
  void* heap = AllocU1(100);
  const LpmBooks before;
  // Enough carves for new peaks, the last one just past the heap block's free.
  const U4 n = std::max(pgm_alloc_mem_cnt_hi - before.all, lpm_cnt_hi - before.cnt) + 3;
  const U8 bytes0 = pgm_alloc_mem;
  for (U4 i = 0; i < n; ++i)
    ASSERT_NE(AllocLPM(1 + i % 8), nullptr);
  FreeSP(&heap);
  SettleMemBooks();
  EXPECT_EQ(lpm_cnt, before.cnt + n);
  EXPECT_EQ(pgm_alloc_mem_cnt, before.all + n - 1);
  EXPECT_EQ(pgm_alloc_mem_cnt_hi, before.all + n);
  EXPECT_EQ(lpm_cnt_hi, before.cnt + n);
  EXPECT_EQ(lpm_mem, before.mem + U8{lpm_block_x - keep} - U8{n} * 32);
  EXPECT_GE(pgm_alloc_mem_hi, bytes0 + lpm_mem - before.mem);
  // Carves not yet booked are released by a reset as any others.
  AllocLPM(3);
  ResetLPM(keep);
  EXPECT_EQ(lpm_cnt, before.cnt);
  EXPECT_EQ(pgm_alloc_mem_cnt, before.all - 1);
  // A carve the long way (the clock read) books the quick ones first.
  AllocLPM(5);
  zorvs_pc = true;
  AllocLPM(5);
  zorvs_pc = false;
  SettleMemBooks();
  EXPECT_EQ(lpm_cnt, before.cnt + 2);
  ResetLPM(keep);
  // And a report reads them booked. A leak report, which the reports of the other tests do
  // not see (the changes that LogMemInfo shows are counted from its own last line).
  zorvs_pc = true;
  SaveMemLeakInfo("late", false);
  zorvs_pc = false;
  AllocLPM(40);
  OpenLog();
  zorvs_pc = true;
  EXPECT_TRUE(LogMemLeakInfo("late", false, nullptr));
  zorvs_pc = false;
  ClosePgmLog();
  SettleMemBooks();
  const std::string booked = " alloc_mem_cnt=" + std::to_string(pgm_alloc_mem_cnt) + "(+1)";
  EXPECT_NE(LogText().find(booked), std::string::npos) << LogText();
  ResetLPM(keep);
}

TEST_F(FastPath, HighestOffsetSettlesFromTheLastCarve) {
  const U4 keep = lpm_block_x;
  const auto offset = [](void* p) { return PtMDP(p, true)->lpmx; };
  const auto settled_hi = [] {
    SettleMemBooks();
    return lpm_block_x_hi;
  };
  // Lowered by hand, so that what the carves below reach shows.
  const U4 saved_hi = settled_hi();
  lpm_block_x_hi = 0;
  AllocLPM(7);
  void* last = AllocLPM(90);
  EXPECT_EQ(settled_hi(), offset(last));
  // A reset keeps the high mark. A block taken later at the same place in the line of
  // blocks, but lower, finds the earlier one's mark in its body: still the high mark.
  ResetLPM(keep);
  AllocLPM(60);
  const U4 old_hi = offset(AllocLPM(100));
  ResetLPM(keep);
  EXPECT_EQ(lpm_block_x_hi, old_hi);
  AllocLPM(4);
  AllocLPM(156);
  EXPECT_EQ(settled_hi(), old_hi);
  // Older marks in the top block's body: of a block at another place in the line of blocks,
  // and of one at the same place but 32 KB lower, in the same slot of the table.
  ResetLPM(keep);
  AllocLPM(4);
  AllocLPM(4);
  ResetLPM(keep);
  lpm_block_x_hi = 0;
  EXPECT_EQ(settled_hi(), offset(AllocLPM(200)));
  ResetLPM(keep);
  AllocLPM(60);
  AllocLPM(4);
  ResetLPM(keep);
  lpm_block_x_hi = 0;
  AllocLPM(32764);
  EXPECT_EQ(settled_hi(), offset(AllocLPM(100)));
  // A lost mark: the walk finds the top block.
  lpm_block_x_hi = 0;
  AllocLPM(3);
  void* top = AllocLPM(50);
  LpmMarkAt(offset(top)) = LpmMark{0, 0};
  EXPECT_EQ(settled_hi(), offset(top));
  // The largest size goes up at once, the short way and the long way (the clock read).
  const U4 saved_max = lpm_max_sz;
  lpm_max_sz = 0;
  AllocLPM(40);
  EXPECT_EQ(lpm_max_sz, LpmStoredSize(40));
  zorvs_pc = true;
  AllocLPM(80);
  zorvs_pc = false;
  EXPECT_EQ(lpm_max_sz, LpmStoredSize(80));
  ResetLPM(keep);
  lpm_block_x_hi = std::max(lpm_block_x_hi, saved_hi);
  lpm_max_sz = std::max(lpm_max_sz, saved_max);
  InternalMemCheck("test");
}

TEST_F(FastPath, EachSwitchSendsAQuietCallTheLongWay) {
  // A parked block waits on its ring and the pool has room: each call below could go a short
  // way, and each switch must keep it from doing so.
  ReuseMemInit();
  const U4 keep = lpm_block_x;
  void* parked = AllocU1(100);
  FreeSP(&parked);
  // A pending error: nothing is handed out, and the pool stays as it was.
  SeMErrMult("test", nullptr);
  EXPECT_EQ(AllocU1(100), nullptr);
  EXPECT_EQ(AllocLPM(10), nullptr);
  EXPECT_EQ(lpm_block_x, keep);
  TakeErr();
  // The failure hook: the heap request fails although a block is waiting.
  MemFailAfter(1);
  EXPECT_EQ(AllocU1(100), nullptr);
  EXPECT_EQ(TakeErr().rfind("AllocU1:Mem alloc failure", 0), 0u);
  MemFailAfter(0);
  // A developer machine: allocation times, which need the clock.
  zorvs_pc = true;
  void* timed = AllocU1(100);
  void* carved = AllocLPM(10);
  zorvs_pc = false;
  EXPECT_NE(PtMDP(timed, true)->alloc_time, 0u) << "ring hit";
  EXPECT_NE(PtMDP(carved, true)->alloc_time, 0u) << "carve";
  FreeSP(&timed);
  // Debug lines for each of them.
  OpenLog();
  mem_dbg = 1;
  void* logged = AllocU1(100);
  AllocLPM(10);
  mem_dbg = 0;
  EXPECT_NE(LogText().find("AllocU1:2:reuse_mem["), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("alloc_id=LPM"), std::string::npos) << LogText();
  FreeSP(&logged);
  ResetLPM(keep);
}

} // namespace
