// Shared fixture: a clean error state, a program log of the test's own, and a check that
// every test gives back what it took.
#pragma once
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "mem/accounting.h"
#include "mem/lpm.h"
#include "mem/memgauge.h"
#include "mem/memreport.h"
#include "mem/reuse.h"
#include "mem/tracked.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

// The pending message without its callers group, cleared.
inline std::string TakeErr() {
  static char bf[4096];
  const char* m = ErrMessage(false, false, bf, sizeof bf);
  return m ? m : "";
}

class MemTest : public ::testing::Test {
protected:
  void SetUp() override {
    ClearErr();
    InternalMemInit();
    // The same folder in a death test's child, and another one for another build.
    dir_ = fs::temp_directory_path() /
           ("tapster_mem_" + std::to_string(std::hash<std::string>{}(fs::current_path().string())) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::error_code ec;
    fs::create_directories(dir_, ec);
    SettleMemBooks();
    blocks_ = pgm_alloc_mem_cnt;
    lpm_keep_ = lpm_block_x;
  }
  void TearDown() override {
    ClosePgmLog();
    pgm_log_fn[0] = 0;
    ClearErr();
    mem_dbg = 0;
    malloc_dbg = false;
    reuse_mem_ena = true;
    zorvs_pc = false;
    ResetLPM(lpm_keep_);
    SettleMemBooks();
    EXPECT_EQ(pgm_alloc_mem_cnt, blocks_) << "tracked blocks leaked or freed twice";
  }
  // Opens the program log as log_name in the test's folder; the console stays quiet.
  void OpenLog(const char* log_name = "prog.log") {
    std::snprintf(pgm_log_fn, sizeof pgm_log_fn, "%s", (dir_ / log_name).string().c_str());
    log_echo = false;
    ASSERT_TRUE(OpenPgmLog(0));
  }
  std::string LogText(const char* log_name = "prog.log") {
    if (pgm_log_st) std::fflush(pgm_log_st);
    std::ifstream in(dir_ / log_name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path dir_;

private:
  U4 blocks_ = 0;
  U4 lpm_keep_ = 0;
};
