// Corruption ends the program: each case runs in a child process with its own log.
#include "errlog/stacktrace.h"
#include "mem/poison.h"
#include "tests/mem/memfix.h"
#include "tests/runtime/stdout_to_stderr.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

// Until start-up installs the fault handlers CrashMe aborts; this ends the child the way
// they end a program after a fault.
void EndAfterFault(int) {
  std::_Exit(1);
}

using Crash = MemTest;

struct Case {
  const char* what;
  void (*body)();
  const char* logged; // in the log besides the CrashMe line
  const char* from;   // CrashMe's caller
};

const Case kCases[] = {
    {"heap block parked on its ring, freed again",
     [] {
       void* p = AllocU1(40);
       void* again = p;
       FreeSP(&p);
       FreeSP(&again);
     },
     "PtMDP:Memory was freed: pt1=", "PtMDP"},
    {"freed LPM block resized",
     [] {
       void* p = AllocLPM(10);
       void* again = p;
       FreeSP(&p);
       ReallocU1(again, 100, false);
     },
     "PtMDP:Memory was freed: pt1=", "PtMDP"},
    {"heap block returned to the heap, freed again",
     [] {
       reuse_mem_ena = false;
       void* p = AllocU1(40);
       void* again = p;
       FreeSP(&p);
       FreeSP(&again);
     },
     "PtMDP:", "PtMDP"},
    {"descriptor overwritten from below",
     [] {
       void* p = AllocU1(40);
       PtMDP(p, true)->signature[2] = 0x55; // the byte two below the user area
       FreeSP(&p);
     },
     "PtMDP:Invalid memdsc_signature: pt1=", "PtMDP"},
    {"damaged chain in the LPM block",
     [] {
       void* p = AllocLPM(10);
       PtMDP(p, true)->lpmx += 4;
       InternalMemCheck("CrashTest");
     },
     "", "CrashTest"},
    {"counter below zero",
     [] {
       void* p = AllocMRF(10);
       pgm_mrf_mem_cnt = 0;
       FreeSP(&p);
     },
     "", "UpdateMemDataFree:pgm_mrf_mem_cnt=0"},
    {"allocator entered while it runs",
     [] {
       alloc_busy = true;
       AllocU1(1);
     },
     "", "AllocU1"},
};

TEST_F(Crash, CorruptionEndsTheProgramWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const std::string log = "crash" + std::to_string(i) + ".log";
    EXPECT_EXIT(
        {
          StdoutToStderr();
          OpenLog(log.c_str());
          // Until start-up installs the fault handlers CrashMe aborts; end the child the
          // way they end a program after a fault.
          if (!fault_handlers_installed) std::signal(SIGABRT, EndAfterFault);
          kCases[i].body();
        },
        ::testing::ExitedWithCode(1), std::string("CALLED FROM ") + kCases[i].from)
        << kCases[i].what;
  }
  // Only the parent gets here.
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const std::string text = LogText(("crash" + std::to_string(i) + ".log").c_str());
    EXPECT_NE(text.find(kCases[i].logged), std::string::npos) << kCases[i].what << "\n" << text;
    // CrashMe's line is for the console alone.
    EXPECT_EQ(text.find("CrashMe("), std::string::npos) << kCases[i].what << "\n" << text;
  }
}

#ifdef TAP_ASAN
TEST_F(Crash, SanitizerSeesUseOfParkedAndReleasedMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        char* p = static_cast<char*>(AllocU1(100));
        char* stale = p;
        FreeSP(&p);
        stale[10] = 'x';
      },
      "use-after-poison");
  EXPECT_DEATH(
      {
        const U4 keep = lpm_block_x;
        char* t = static_cast<char*>(AllocLPM(16));
        ResetLPM(keep);
        t[0] = 'x';
      },
      "use-after-poison");
}
#endif

} // namespace
