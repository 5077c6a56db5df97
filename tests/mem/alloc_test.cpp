#include "runtime/startup.h"
#include "tests/mem/memfix.h"

#include <cstring>
#include <vector>

namespace {

using Alloc = MemTest;

TEST_F(Alloc, RoundingTables) {
  const struct {
    U8 n, size;
    U4 index;
  } classes[] = {{1, 64, 0},
                 {64, 64, 0},
                 {65, 128, 1},
                 {1024, 1024, 4},
                 {1025, 2048, 5},
                 {U8{1} << 30, U8{1} << 30, 24},
                 {(U8{1} << 30) + 1, U8{1} << 31, 25},
                 {(U8{1} << 31) + 1, 0, kReuseClasses}};
  for (const auto& c : classes) {
    EXPECT_EQ(ReuseMemSize(c.n), c.size) << c.n;
    EXPECT_EQ(ReuseMemIndex(c.n), c.index) << c.n;
  }

  EXPECT_EQ(AllocU1(0), nullptr);
  EXPECT_FALSE(ErrSet);
  // Stored sizes: with reuse the class minus the descriptor, without it multiples of 64
  // with room to spare, in the LPM block multiples of 4 with room for a terminator.
  const struct {
    bool reuse;
    U4 kind, sz, stored;
  } sizes[] = {{true, PERSISTENT, 1, 32},    {true, PERSISTENT, 33, 96},
               {false, PERSISTENT, 1, 64},   {false, PERSISTENT, 63, 64},
               {false, PERSISTENT, 64, 128}, {true, LPM, 8, 12},
               {true, LPM, 9, 12},           {true, LPM, 7, 8}};
  for (const auto& s : sizes) {
    reuse_mem_ena = s.reuse;
    void* p = s.kind == LPM ? AllocLPM(s.sz) : AllocU1(s.sz);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*static_cast<U1*>(p), 0);
    EXPECT_EQ(PtSize(p, true), s.stored) << s.sz;
    FreeSP(&p);
  }
  reuse_mem_ena = true;
  void* pts = AllocPt(3);
  EXPECT_EQ(PtSize(pts, true), ReuseMemSize(3 * sizeof(void*) + 32) - 32);
  FreeSP(&pts);
}

TEST_F(Alloc, ReuseRingsGiveTheSameBlockBack) {
  OpenLog();
  mem_dbg = 1;
  char* a = static_cast<char*>(AllocU1(300));
  const U4 class_ix = ReuseMemIndex(300 + 32);
  char* const first = a;
  const U4 waiting = ReuseMemWaiting(reuse_mem[class_ix]);
  FreeSP(&a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(ReuseMemWaiting(reuse_mem[class_ix]), waiting + 1);
  // The oldest waiting block comes back first; it takes the kind of the new request.
  std::vector<void*> taken;
  for (U4 i = 0; i <= waiting; ++i)
    taken.push_back(AllocTransitoryU1(400));
  EXPECT_EQ(taken.back(), first);
  EXPECT_EQ(PtMDP(first, true)->alloc_id, TRANSITORY);
  const std::string log = LogText();
  EXPECT_NE(log.find("FreeSP:1:reuse_mem[" + std::to_string(class_ix) + "]["), std::string::npos);
  EXPECT_NE(log.find("AllocU1:x:/REUSED:TRANSITORY:"), std::string::npos) << log;
  for (void*& p : taken)
    FreeSP(&p);

  // A full ring counts the overflow and gives the block back to the heap.
  mem_dbg = 0;
  const U4 ix = ReuseMemIndex(128 * 1024);
  ReuseRing& ring = reuse_mem[ix];
  ReuseMemInit();
  const U4 overflows = ring.overflow_cnt;
  std::vector<void*> blocks; // the waiting ones and new ones: one more than the ring holds
  for (U4 i = 0; i < ring.maxcnt; ++i)
    blocks.push_back(AllocU1(128 * 1024 - 32));
  for (void*& p : blocks)
    FreeSP(&p);
  EXPECT_EQ(ReuseMemWaiting(ring), ring.maxcnt - 1);
  EXPECT_EQ(ring.cnt_max, ring.maxcnt - 1);
  EXPECT_EQ(ring.overflow_cnt, overflows + 1);
}

TEST_F(Alloc, ReallocKeepsContentsAndFailsCleanly) {
  char* p = static_cast<char*>(AllocU1(10));
  std::strcpy(p, "abc");
  EXPECT_EQ(ReallocU1(p, 20, false), p); // within the stored size
  char* g = static_cast<char*>(ReallocU1(p, 1000, false));
  EXPECT_STREQ(g, "abc");
  EXPECT_EQ(ReallocU1(g, 10, false), g);
  EXPECT_EQ(ReallocU1(g, 0, false), g);
  EXPECT_EQ(TakeErr(), "ReallocU1:Mem realloc failure (req=0)");
  g = static_cast<char*>(ReallocU1(g, 10, true));
  EXPECT_EQ(PtSize(g, true), 32u);
  EXPECT_STREQ(g, "abc");

  // Without reuse the block is resized by the heap; the counters follow the difference.
  reuse_mem_ena = false;
  char* r = static_cast<char*>(AllocZL(100));
  const U4 cnt = pgm_zl_mem_cnt;
  const U8 mem = pgm_zl_mem;
  std::strcpy(r, "zl");
  r = static_cast<char*>(ReallocU1(r, 5000, false));
  EXPECT_STREQ(r, "zl");
  EXPECT_EQ(pgm_zl_mem_cnt, cnt);
  EXPECT_EQ(pgm_zl_mem, mem - 128 + 5056);
  EXPECT_EQ(PtMDP(r, true)->alloc_id, ZL);

  // Heap exhausted: the message with the memory figures; the old block stays valid.
  MemFailAfter(1);
  EXPECT_EQ(ReallocU1(r, 9000, false), r);
  EXPECT_STREQ(r, "zl");
  EXPECT_EQ(TakeErr().rfind("ReallocU1:Mem realloc failure (req=9024 free=", 0), 0u);
  reuse_mem_ena = true;
  MemFailAfter(1);
  EXPECT_EQ(AllocU1(100), nullptr);
  EXPECT_EQ(TakeErr().rfind("AllocU1:Mem alloc failure (req=256 free=", 0), 0u);
  // Requests that cannot be represented fail the same way instead of wrapping.
  EXPECT_EQ(AllocU1(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(TakeErr().rfind("AllocU1:Mem alloc failure (req=4294967312 free=", 0), 0u);
  reuse_mem_ena = false;
  EXPECT_EQ(AllocU1(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(TakeErr().rfind("AllocU1:Mem alloc failure (req=4294967328 free=", 0), 0u);
  EXPECT_EQ(AllocU8(0x20000001u), nullptr);
  EXPECT_TRUE(ErrSet);
  ClearErr();

  // Pointers outside every tracked range are reported and the program goes on.
  char local[8];
  char* foreign = local;
  FreeSP(&foreign);
  EXPECT_EQ(foreign, local);
  EXPECT_EQ(TakeErr().rfind("PtMDP:pt out of range: pt=", 0), 0u);
  EXPECT_EQ(PtMDP(local, false), nullptr);
  EXPECT_FALSE(ErrSet);
  EXPECT_STREQ(MemDscText(nullptr), "(NULL)");
  EXPECT_NE(std::string(MemDscText(local)).find("/UNKNOWN"), std::string::npos);
  std::strcpy(r, "a\tb");
  EXPECT_NE(std::string(MemDscText(r)).find(" sz=5056 txt=a        b"), std::string::npos)
      << MemDscText(r);

  // FreeSP works while an error is pending and keeps the first message.
  SeMErrMult("first", nullptr);
  FreeSP(&r);
  FreeSP(&g);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(TakeErr(), "first");
  FreeSP(&r); // already null: nothing
}

} // namespace

namespace {

using Options = MemTest;

// In a child: start-up with the memory options, then what they changed.
void StartWithOptions(const std::string& log) {
  const char* argv[] = {"test_mem",    "-lpm_block_sz=0", "-lpm_max_sz=77", "-reuse_mem_ena=off",
                        "-malloc_dbg", log.c_str(),       nullptr};
  ProgramInit(argv);
  void* p = AllocU1(1);
  const bool ok = !ErrSet && AllocLPM(1) == nullptr && TakeErr() == "LPM OVERFLOW" &&
                  PtSize(p, true) == 64 && lpm_max_sz == 77;
  FreeSP(&p);
  std::exit(ok ? 0 : 2);
}

TEST_F(Options, StartUpOptionsAndTheEndOfTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string log = "-LOG=" + (dir_ / "start.log").string();
  EXPECT_EXIT(StartWithOptions(log), ::testing::ExitedWithCode(0), "");
  const std::string text = LogText("start.log");
  EXPECT_NE(text.find("AllocU1:3:MALLOC:sz=96/60 callers="), std::string::npos) << text;
  EXPECT_NE(text.find("FreeSP:2:FREE:sz=64/40 callers="), std::string::npos) << text;
  EXPECT_EQ(text.find("AllocU1:0:"), std::string::npos) << text;

  // Once the program ends, freed blocks go straight back to the heap.
  const U4 ix = ReuseMemIndex(64);
  const U4 waiting = ReuseMemWaiting(reuse_mem[ix]);
  void* p = AllocU1(1);
  pgm_exiting = true;
  FreeSP(&p);
  pgm_exiting = false;
  EXPECT_EQ(ReuseMemWaiting(reuse_mem[ix]), waiting == 0 ? 0 : waiting - 1);
}

} // namespace
