#include "tests/mem/memfix.h"

#include "proc/exec.h"

#include <cstdlib>
#include <regex>

namespace {

using Report = MemTest;

TEST_F(Report, CountersReturnAfterEveryKind) {
  const U4 cnt0 = pgm_alloc_mem_cnt, pers0 = pgm_malloc_persistent_mem_cnt;
  const U8 mem0 = pgm_alloc_mem, trans0 = pgm_malloc_transitory_mem, mrf0 = pgm_mrf_mem,
           zl0 = pgm_zl_mem, lpm0 = lpm_mem;
  void* blocks[] = {AllocU1(100), AllocTransitoryU1(200), AllocMRF(300), AllocZL(400),
                    AllocLPM(500)};
  SettleMemBooks();
  EXPECT_EQ(pgm_alloc_mem_cnt, cnt0 + 5);
  EXPECT_EQ(pgm_malloc_persistent_mem_cnt, pers0 + 1);
  EXPECT_EQ(pgm_alloc_mem, mem0 + 224 + 224 + 480 + 480 + 504);
  EXPECT_GE(pgm_alloc_mem_hi, pgm_alloc_mem);
  EXPECT_LE(pgm_malloc_pt_lo, reinterpret_cast<std::uintptr_t>(blocks[0]));
  EXPECT_GE(pgm_malloc_pt_hi, reinterpret_cast<std::uintptr_t>(blocks[3]));
  const U8 peak = pgm_alloc_mem_hi;
  for (void*& p : blocks)
    FreeSP(&p);
  EXPECT_EQ(pgm_alloc_mem_cnt, cnt0);
  EXPECT_EQ(pgm_malloc_persistent_mem_cnt, pers0);
  EXPECT_EQ(pgm_alloc_mem, mem0);
  EXPECT_EQ(pgm_malloc_transitory_mem, trans0);
  EXPECT_EQ(pgm_mrf_mem, mrf0);
  EXPECT_EQ(pgm_zl_mem, zl0);
  EXPECT_EQ(lpm_mem, lpm0);
  EXPECT_EQ(pgm_alloc_mem_hi, peak);
}

TEST_F(Report, LogMemInfoShowsChanges) {
  OpenLog();
  LogMemInfo("one", false, false);
  LogMemInfo("two", false, false); // nothing changed: no line
  void* p = AllocMRF(100);
  const U4 keep = lpm_block_x;
  void* live = AllocLPM(5);
  void* freed = AllocLPM(6);
  void* after = AllocLPM(7);
  FreeSP(&freed);
  LogMemInfo("three", true, false);
  FreeSP(&p);
  const std::string log = LogText();
  // The first report lists every counter, each with its change.
  EXPECT_TRUE(
      std::regex_search(log, std::regex("LogMemInfo:one open_files_cnt=\\d+\\(\\+0\\) "
                                        "open_files_cnt_hi=.* alloc_mem_hi=[\\d,]+\\(\\+0\\)")))
      << log;
  // The second one right after has only the process's own memory to tell, if anything.
  EXPECT_FALSE(std::regex_search(log, std::regex("LogMemInfo:two.* [a-z_]*(cnt|alloc_mem|pt_)")))
      << log;
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex("LogMemInfo:three .*mrf_mem_cnt=\\d+\\(\\+1\\) .*mrf_mem=[\\d,]+\\(\\+224\\)")))
      << log;
  // The LPM listing skips the freed block and goes on past it.
  EXPECT_NE(log.find("LogMemInfo:three lpm_block="), std::string::npos);
  const std::string lpm_live = std::string("lpm:") + MemDscText(live);
  EXPECT_NE(log.find(lpm_live.substr(0, lpm_live.find(" txt="))), std::string::npos) << log;
  EXPECT_NE(log.find(" lpmx=" + std::to_string(keep + 80) + " "), std::string::npos);
  EXPECT_EQ(log.find(" lpmx=" + std::to_string(keep + 40) + " "), std::string::npos);
  (void)after;
  EXPECT_NE(Memgauge(), 0u);
  EXPECT_GE(proc_mem_hi, proc_mem);

  DumpUsedMem("rings", false);
  EXPECT_TRUE(std::regex_search(LogText(), std::regex("DumpUsedMem:rings \\(mapsz=[\\d,]+\\):")));
}

TEST_F(Report, LeakSlots) {
  // Off the developer machine they do nothing.
  SaveMemLeakInfo("off", false);
  EXPECT_FALSE(LogMemLeakInfo("off", false, nullptr));
  EXPECT_FALSE(ErrSet);

  zorvs_pc = true;
  LogMemLeakInfoReset();
  OpenLog();
  EXPECT_FALSE(LogMemLeakInfo("never", false, nullptr));
  EXPECT_EQ(TakeErr(), "LogMemLeakInfo:id (never) not found");

  SaveMemLeakInfo("quiet", false);
  EXPECT_FALSE(LogMemLeakInfo("quiet", false, nullptr)); // no growth
  void* held[2] = {AllocZL(100), AllocZL(100)};          // peaks above what the rounds reach
  for (void*& p : held)
    FreeSP(&p);
  for (int round = 0; round < 2; ++round) {
    SaveMemLeakInfo("grow", false);
    held[0] = AllocZL(100);
    EXPECT_TRUE(LogMemLeakInfo("grow", false, "extra"));
    FreeSP(&held[0]);
  }
  const std::string log = LogText();
  const size_t first = log.find("LogMemLeakInfo:grow: zl_mem_cnt=");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("LogMemLeakInfo:grow:", first + 1), std::string::npos); // logged once
  EXPECT_NE(log.find(" extra"), std::string::npos);

  // Saving an id again takes its own slot, not a freed one before it; a hundred ids fit.
  SaveMemLeakInfo("a", false);
  SaveMemLeakInfo("b", false);
  LogMemLeakInfo("a", false, nullptr);
  for (int i = 0; i < 200; ++i)
    SaveMemLeakInfo("b", false);
  for (int i = 0; i < 99; ++i)
    SaveMemLeakInfo(("id" + std::to_string(i)).c_str(), false);
  EXPECT_FALSE(ErrSet);
  SaveMemLeakInfo("one too many", false);
  EXPECT_EQ(TakeErr(), "SaveMemLeakInfo:id=one too many");
  LogMemLeakInfoReset();
}

#ifndef _WIN32
TEST_F(Report, MeasuringProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A measuring program in the current directory is asked first; output without "=" is a
  // failed measurement, which is not retried.
  const struct {
    const char* output;
    U8 value;
  } cases[] = {{"proc_mem=123456\n", 123456}, {"no figure here\n", 0}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          const fs::path exe = dir_ / "Memgauge.exe";
          std::ofstream(exe) << "#!/bin/sh\nprintf '" << c.output << "'\n";
          fs::permissions(exe, fs::perms::owner_all);
          fs::current_path(dir_);
          memgauge_run_hook = [](const char* cmd, U4* size) {
            return PipeToBfMult(size, true, cmd, nullptr);
          };
          const bool ok = Memgauge() == c.value && ErrSet == (c.value == 0) &&
                          (ClearErr(), Memgauge() == c.value);
          std::exit(ok ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "")
        << c.output;
  }
}
#endif

} // namespace
