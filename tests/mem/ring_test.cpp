#include "tests/mem/memfix.h"

#include "runtime/fault.h"

#include <cstring>

#include <regex>
#include <vector>

namespace {

using Rings = MemTest;

TEST_F(Rings, IndexesWrapAtTheEndAndTheDumpCountsRight) {
  constexpr U4 kSize = 128 * 1024 - 32; // a class whose ring holds 99 blocks
  const U4 ix = ReuseMemIndex(kSize + 32);
  ReuseRing& ring = reuse_mem[ix];
  ReuseMemInit();
  // Holding as many blocks as the ring has slots empties it.
  std::vector<void*> held;
  for (U4 i = 0; i < ring.maxcnt; ++i)
    held.push_back(AllocU1(kSize));
  // Each free and allocation moves both indexes one slot on: twice round the ring, the block
  // just freed must come back every time, by the quick way and by the logged one.
  OpenLog();
  void* p = AllocU1(kSize);
  for (U2 dbg : {0, 1}) {
    mem_dbg = dbg;
    for (U4 i = 0; i < 2 * ring.maxcnt + 2; ++i) {
      void* const freed = p;
      FreeSP(&p);
      p = AllocU1(kSize);
      ASSERT_EQ(p, freed) << "round " << i << " mem_dbg=" << dbg;
    }
  }
  mem_dbg = 0;
  FreeSP(&p);
  for (void*& h : held)
    FreeSP(&h);

  // The dump shows the waiting blocks and the overflows each as itself.
  DumpUsedMem("rings", false);
  const std::string line = "reuse_mem\\[" + std::to_string(ix) +
                           ":[^\\]]*\\] cnt=" + std::to_string(ReuseMemWaiting(ring)) +
                           " total=\\S+ cnt_max=" + std::to_string(ring.cnt_max) +
                           " overflow_cnt=" + std::to_string(ring.overflow_cnt) + "\r\n";
  ASSERT_GT(ring.overflow_cnt, 0u);
  ASSERT_NE(ring.overflow_cnt, ReuseMemWaiting(ring));
  EXPECT_TRUE(std::regex_search(LogText(), std::regex(line))) << LogText();
}

TEST_F(Rings, ResetLPMRefusesAKeepPastTheFill) {
  const U4 x = lpm_block_x;
  ResetLPM(x + 1);
  EXPECT_TRUE(ErrSet);
  ClearErr();
  EXPECT_EQ(lpm_block_x, x);
  void* a = AllocLPM(8);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(PtMDP(a, true)->lpmx, x);
  FreeSP(&a);
}

// A pointer from nowhere names the code that was running.
TEST_F(Rings, OutOfRangeNamesTheCodeLocation) {
  int local = 0;
  std::strncpy(code_location, "probe", sizeof code_location - 1);
  mem_code_location_hook = [] { return static_cast<const char*>(code_location); };
  EXPECT_EQ(PtMDP(&local, true), nullptr);
  const std::string msg = TakeErr();
  code_location[0] = 0;
  mem_code_location_hook = nullptr;
  EXPECT_EQ(msg.rfind("PtMDP:pt out of range: pt=", 0), 0u) << msg;
  EXPECT_EQ(msg.substr(msg.size() - 20), " code_location=probe") << msg;
}

} // namespace
