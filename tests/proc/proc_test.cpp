// Process queries, ending a real process tree, and the shutdown of children.
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/process.h"
#include "proc/exec.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"
#include "tests/runtime/procrun.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kTree = procrun::NativePath(PROCTREE_EXE);

class Proc : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = procrun::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ClearErr();
    ResetShutdownForTest();
    std::snprintf(pgm_log_fn, kPgmTextSz, "%s", (dir_ / "test.log").string().c_str());
    OpenPgmLog(0);
  }
  void TearDown() override {
    for (U4 pid : started_)
      if (PIDIsActive(pid)) KillPID(pid, true);
    ClearErr();
    ClosePgmLog();
    ResetShutdownForTest();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Starts proctree with the given fan-outs and waits until all `expect` processes exist.
  std::vector<U4> StartTree(const std::string& fanout, size_t expect, ExtProcInfo* rec, U2 flags,
                            const std::string& sub) {
    auto d = dir_ / sub;
    std::filesystem::create_directories(d);
    std::string cmd = "\"" + kTree + "\" \"" + kTree + "\" \"" + d.string() + "\" " + fanout;
    U4 root =
        static_cast<U4>(ExecExtProcMult(flags | kExecDirect, false, rec, cmd.c_str(), nullptr));
    EXPECT_NE(root, 0u) << ErrMessage(true, true, msg_, sizeof msg_);
    started_.push_back(root);
    std::vector<U4> pids;
    EXPECT_TRUE(procrun::WaitFor([&] { return Pids(d).size() >= expect; })) << Pids(d).size();
    pids = Pids(d);
    for (U4 p : pids)
      started_.push_back(p);
    EXPECT_NE(std::find(pids.begin(), pids.end(), root), pids.end());
    return pids;
  }
  static std::vector<U4> Pids(const std::filesystem::path& d) {
    std::vector<U4> out;
    for (const auto& e : std::filesystem::directory_iterator(d))
      if (e.path().extension() == ".pid") out.push_back(std::stoul(e.path().stem().string()));
    return out;
  }

  std::filesystem::path dir_;
  std::vector<U4> started_;
  char msg_[4096] = "";
};

TEST_F(Proc, QueriesOnTheOwnProcess) {
  char name[260];
  ASSERT_NE(PIDProcess_MyBf(PlatformOwnPid(), name, sizeof name), nullptr);
  EXPECT_NE(std::string(name).find("test_proc"), std::string::npos) << name;
  EXPECT_TRUE(PIDIsActive(PlatformOwnPid()));
  EXPECT_GE(ProcessCount(name, 1000), 1u);
  EXPECT_EQ(ProcessCount(name, 0), 0u);
  EXPECT_GE(ProcessNo(name), 1u);
  EXPECT_NE(ProcessPID(name, true), 0u);
  EXPECT_FALSE(ErrSet);

  EXPECT_EQ(ProcessPID("no_such_process_xyz", true), 0u);
  ASSERT_TRUE(ErrSet);
  EXPECT_STREQ(ErrMessage(false, false, msg_, sizeof msg_),
               "Process \"no_such_process_xyz\" not found");
  EXPECT_EQ(PIDProcess_MyBf(0xFFFFFFF0u, name, sizeof name), nullptr);
  EXPECT_FALSE(PIDIsActive(0));

  // Never the own process, nothing for pid 0 or a process that is gone.
  EXPECT_FALSE(KillPID(PlatformOwnPid(), true));
  EXPECT_FALSE(KillPID(0, true));
  EXPECT_FALSE(KillPID(0xFFFFFFF0u, true));
  EXPECT_FALSE(ErrSet);
  EXPECT_TRUE(PIDIsActive(PlatformOwnPid()));
}

TEST_F(Proc, KillPIDEndsTheWholeTreeParentFirst) {
  ExtProcInfo rec;
  // A root with two children, each with one grandchild.
  auto pids = StartTree("2 1", 5, &rec, kExecChild, "tree");
  ASSERT_EQ(pids.size(), 5u);
  for (U4 p : pids)
    EXPECT_TRUE(PIDIsActive(p)) << p;
  EXPECT_TRUE(KillPID(rec.pid, true)) << ErrMessage(true, true, msg_, sizeof msg_);
  for (U4 p : pids)
    EXPECT_FALSE(PIDIsActive(p)) << p;

  // The log names the ended processes, the root first.
  ClosePgmLog();
  std::string log = procrun::ReadFile(dir_ / "test.log");
  size_t first = log.find("KillPID:10:pid=");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.compare(first + 15, std::to_string(rec.pid).size(), std::to_string(rec.pid)), 0);
  size_t ended = 0;
  for (size_t at = log.find("KillPID:10:pid="); at != std::string::npos;
       at = log.find("KillPID:10:pid=", at + 1))
    ++ended;
  EXPECT_EQ(ended, 5u);
  EXPECT_NE(ExtProcExitStatus(&rec), -1); // ended, and out of the child list
  EXPECT_TRUE(ext_proc_list.empty());
}

TEST_F(Proc, ProgramExitEndsChildrenAndKeepsOthers) {
  ExtProcInfo child, other;
  auto kids = StartTree("1", 2, &child, kExecChild, "child");
  auto others = StartTree("", 1, &other, 0, "other");
  EXPECT_EQ(ext_proc_list.size(), 2u);

  EXPECT_EQ(ProgramExit(3), 3);
  for (U4 p : kids)
    EXPECT_FALSE(PIDIsActive(p)) << p;
  EXPECT_TRUE(PIDIsActive(others[0]));
  EXPECT_TRUE(ext_proc_list.empty());
  std::string log = procrun::ReadFile(dir_ / "test.log");
  EXPECT_NE(log.find("ProgramExit: Kill child process: PID=" + std::to_string(child.pid)),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ProgramExit: Active process: PID=" + std::to_string(other.pid)),
            std::string::npos)
      << log;
  EXPECT_TRUE(KillPID(other.pid, true));
}

TEST_F(Proc, ProgramExitStatusRule) {
  EXPECT_EQ(ProgramExit(255), 0);
  EXPECT_EQ(ProgramExit(255), 255); // a second call does nothing
  ResetShutdownForTest();
  SeMErrMult("ProcTest", ":pending", nullptr);
  EXPECT_EQ(ProgramExit(255), 1);
  EXPECT_FALSE(ErrSet); // reported
  ResetShutdownForTest();
  SeMErrMult("ProcTest", ":pending", nullptr);
  EXPECT_EQ(ProgramExit(3), 3);
  ResetShutdownForTest();
  EXPECT_EQ(ProgramExit(3), 3);
}

TEST_F(Proc, ExecSystemMultWaitsForTheCommand) {
  auto out = (dir_ / "sys.txt").string();
  ExecSystemMult(0, "echo ran> \"", procrun::NativePath(out).c_str(), "\"", nullptr);
  EXPECT_NE(procrun::ReadFile(out).find("ran"), std::string::npos);
  ClosePgmLog();
  EXPECT_NE(procrun::ReadFile(dir_ / "test.log").find("ExecSystemMult:cmd=echo ran> \""),
            std::string::npos);
  char words[64];
  EXPECT_STREQ(ExecFlagsText_MyBf(0x0303, words, sizeof words), "Log/Wait/Child");
  EXPECT_STREQ(ExecFlagsText_MyBf(0, words, sizeof words), "");
}

} // namespace
