// Shared fixture: a clean error state and a leak check around every test.
#pragma once
#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "mem/tracked.h"

#include <gtest/gtest.h>
#include <string>

// The pending message without its callers group ("" when none), left pending.
inline std::string PendingErr() {
  static char bf[4096];
  const char* m = ErrMessage(false, true, bf, sizeof bf);
  return m ? m : "";
}

class StringsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ClearErr();
    SettleMemBooks();
    blocks_ = pgm_alloc_mem_cnt;
    lpm_keep_ = lpm_block_x;
  }
  void TearDown() override {
    ClearErr();
    MemFailAfter(0);
    ResetLPM(lpm_keep_);
    SettleMemBooks();
    EXPECT_EQ(pgm_alloc_mem_cnt, blocks_) << "tracked blocks leaked or freed twice";
  }
  // The pending message, cleared.
  std::string TakeErr() {
    std::string m = PendingErr();
    ClearErr();
    return m;
  }

private:
  U8 blocks_ = 0;
  U4 lpm_keep_ = 0;
};
