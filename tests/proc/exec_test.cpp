// Command lines parsed, and run through real children: redirections, flags, error output,
// children left running and ended, pipes with their timeout.
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "mem/tracked.h"
#include "platform/process.h"
#include "proc/exec.h"
#include "proc/parsecmd.h"
#include "runtime/shutdown.h"
#include "tests/runtime/procrun.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

const std::string kProbe = "\"" + procrun::NativePath(CHILDPROBE_EXE) + "\"";

class Exec : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = procrun::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    ClearErr();
    std::snprintf(pgm_log_fn, kPgmTextSz, "%s", (dir_ / "test.log").string().c_str());
    OpenPgmLog(0);
  }
  void TearDown() override {
    ClearErr();
    ClosePgmLog();
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Error() {
    char msg[4096];
    ErrMessage(false, false, msg, sizeof msg);
    ClearErr();
    return msg;
  }
  // The files whose names begin with prefix in the test's folder.
  size_t FilesNamed(const std::string& prefix) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
  }
  std::string Text(const std::string& fn) {
    std::string t = procrun::ReadFile(dir_ / fn);
    t.erase(std::remove(t.begin(), t.end(), '\r'), t.end());
    return t;
  }
  std::filesystem::path dir_, old_;
};

TEST(ParseCommand, WordsQuotesAndRedirections) {
  auto args = [] { return parsed_cmd.args; };
  using V = std::vector<std::string>;
  ParseCommand("copy a b > out.txt 2> err.txt");
  EXPECT_EQ(args(), (V{"copy", "a", "b"}));
  EXPECT_STREQ(parsed_cmd.stdout_fn, "out.txt");
  EXPECT_STREQ(parsed_cmd.stderr_fn, "err.txt");
  ParseCommand("prog 2>&1 >o");
  EXPECT_STREQ(parsed_cmd.stderr_fn, "o");
  ParseCommand("prog > /dev/null <in");
  EXPECT_STREQ(parsed_cmd.stdout_fn, PlatformNullDevice());
  EXPECT_STREQ(parsed_cmd.stdin_fn, "in");
  ParseCommand("ping -n 2 host x2>f");
  EXPECT_EQ(args(), (V{"ping", "-n", "2", "host", "x2"}));
  EXPECT_STREQ(parsed_cmd.stdout_fn, "f");
  EXPECT_FALSE(parsed_cmd.stderr_fn[0]);
  ParseCommand("prog \"a b\" 'c d' e\"f g\"h >> \"my log\" 2>>e");
  EXPECT_EQ(args(), (V{"prog", "a b", "c d", "e\"f g\"h"}));
  EXPECT_STREQ(parsed_cmd.stdout_fn, "my log");
  EXPECT_TRUE(parsed_cmd.stdout_append && parsed_cmd.stderr_append);
  ParseCommand("prog \"unclosed rest");
  EXPECT_EQ(args(), (V{"prog", "\"unclosed rest"}));
  ClearParseCommand();
  EXPECT_TRUE(args().empty());
}

TEST_F(Exec, RedirectionsFlagsAndExitCodesRoundTrip) {
  EXPECT_EQ(ExecExtProcMult(0, false, nullptr, kProbe.c_str(), " --exit 7", nullptr), 7);
  // ">>" appends to what the file held before.
  ExecExtProcMult(0, false, nullptr, kProbe.c_str(), " --out first > out.txt", nullptr);
  ExecExtProcMult(0, false, nullptr, kProbe.c_str(), " --out second >> out.txt", nullptr);
  EXPECT_EQ(Text("out.txt"), "first\nsecond\n");
  // Quoted words reach a program started directly as words of their own.
  ExecExtProcMult(kExecWait | kExecDirect, false, nullptr, kProbe.c_str(), " --args \"a b\" c",
                  nullptr);
  ExecExtProcMult(kExecWait | kExecHide, false, nullptr, kProbe.c_str(),
                  " --out hidden --err ignored", nullptr);
  EXPECT_FALSE(ErrSet) << Error();
  // The first line of the error output becomes the error; the temporary file goes.
  EXPECT_EQ(ExecExtProcMult(kExecWait | kExecHide | kExecLog, true, nullptr, kProbe.c_str(),
                            " --err \"ERROR: disk full|retry later\" --exit 2", nullptr),
            2);
  std::string e = Error();
  EXPECT_EQ(e.rfind("disk full ... (cmd=", 0), 0u) << e;
  EXPECT_EQ(FilesNamed("ExtProc_stderr"), 0u);
  // A child that is not waited for needs a record to be found again.
  EXPECT_EQ(ExecExtProcMult(kExecChild, false, nullptr, kProbe.c_str(), nullptr), 0);
  EXPECT_EQ(Error().rfind("ExecExtProcMult:epip=NULL (must be defined for NoWait child): cmd=", 0),
            0u);
  ClosePgmLog();
  std::string log = Text("test.log");
  // The interpreter may get the command quoted once more.
  EXPECT_NE(log.find(" --exit 7"), std::string::npos) << log;
  EXPECT_NE(log.find("(Log/Wait/Child/"), std::string::npos) << log;
  EXPECT_NE(log.find(" waitf=True setErrOnStderr=True"), std::string::npos) << log;
#ifdef _WIN32
  // 259 is the code of a running process, but this one has ended.
  EXPECT_EQ(ExecExtProcMult(kExecWait | kExecDirect, false, nullptr, kProbe.c_str(), " --exit 259",
                            nullptr),
            259);
#endif
}

TEST_F(Exec, ChildrenRunOnUntilEndedAndPipesTimeOut) {
  ExtProcInfo rec;
  I4 pid = ExecExtProcMult(kExecChild | kExecHide, false, &rec, kProbe.c_str(),
                           " --pidfile p1 --sleep 60000", nullptr);
  ASSERT_GT(pid, 0) << Error();
  EXPECT_TRUE(ExtProcRunning(&rec));
  ASSERT_EQ(ext_proc_list.size(), 1u);
  EXPECT_TRUE(KillExtProc(&rec));
  EXPECT_TRUE(ext_proc_list.empty());
  EXPECT_FALSE(ExtProcRunning(&rec));
  EXPECT_FALSE(PIDIsActive(static_cast<U4>(pid)));

  U4 size = 0;
  char* out = PipeToBfMult(&size, true, kProbe.c_str(), " --out \"one|two\"", nullptr);
  ASSERT_NE(out, nullptr) << Error();
  std::string text(out, size);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text, "one\ntwo\n");
  FreeSP(&out);

  // A command that never ends nor writes: the timeout, and the child is gone with it.
  auto start = std::chrono::steady_clock::now();
  out = PipeToBfMult(&size, true, kProbe.c_str(), " --pidfile p2 --sleep 60000", nullptr);
  auto secs =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(out, nullptr);
  EXPECT_LT(secs, 30);
  EXPECT_EQ(Error().rfind("timeout (tmo=5) (cmd=", 0), 0u);
  U4 sleeper = static_cast<U4>(std::stoul("0" + Text("p2")));
  EXPECT_TRUE(procrun::WaitFor([&] { return !PIDIsActive(sleeper); }));
}

} // namespace

namespace {
// Text and files into a command's standard input; a command that reads nothing and never
// ends is ended within the bound.
TEST_F(Exec, TextAndFilesToACommandsInput) {
  const std::string text(100000, 'x'); // more than a pipe holds at once
  EXPECT_TRUE(BfToPipe((kProbe + " --stdin got.txt").c_str(), text.c_str(), true)) << Error();
  EXPECT_EQ(procrun::ReadFile(dir_ / "got.txt"), text);
  std::ofstream(dir_ / "in.txt", std::ios::binary) << "one\r\ntwo\r\n";
  EXPECT_TRUE(FileToPipe((kProbe + " --stdin got2.txt").c_str(), "in.txt")) << Error();
  EXPECT_EQ(procrun::ReadFile(dir_ / "got2.txt"), "one\r\ntwo\r\n");

  EXPECT_FALSE(FileToPipe((kProbe + " --stdin got3.txt").c_str(), "missing.txt"));
  EXPECT_EQ(Error(), "File \"missing.txt\" not found");
  EXPECT_FALSE(BfToPipe("", "x", true));
  EXPECT_EQ(Error(), "BfToPipe:dstcmd=(empty)");

  const auto start = std::chrono::steady_clock::now();
  const std::string sleeper = kProbe + " --pidfile p3 --sleep 60000";
  EXPECT_FALSE(BfToPipe(sleeper.c_str(), text.c_str(), true));
  const std::string msg = Error();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(msg.find(" (dstcmd=" + sleeper + ")"), std::string::npos) << msg;
  const U4 pid = static_cast<U4>(std::stoul("0" + Text("p3")));
  EXPECT_TRUE(procrun::WaitFor([&] { return !PIDIsActive(pid); }));
  EXPECT_FALSE(BfToPipe(sleeper.c_str(), "x", false));
  EXPECT_FALSE(ErrSet) << "quiet without report";
}

// A program named without its extension is found with ".bat" as well as ".exe".
TEST_F(Exec, DirectModeFindsBatchFiles) {
  std::filesystem::create_directories(dir_ / "bin");
#ifdef _WIN32
  std::ofstream(dir_ / "bin" / "hello.bat")
      << "@echo ran> \"" << (dir_ / "ran.txt").string() << "\"\r\n";
  const std::string path = (dir_ / "bin").string() + ";" + std::getenv("PATH");
  _putenv_s("PATH", path.c_str());
#else
  std::ofstream(dir_ / "bin" / "hello.bat")
      << "#!/bin/sh\necho ran > '" << (dir_ / "ran.txt").string() << "'\n";
  std::filesystem::permissions(dir_ / "bin" / "hello.bat", std::filesystem::perms::owner_all);
  const std::string old = std::getenv("PATH");
  setenv("PATH", ((dir_ / "bin").string() + ":" + old).c_str(), 1);
#endif
  EXPECT_EQ(ExecExtProcMult(kExecWait | kExecDirect, false, nullptr, "hello", nullptr), 0)
      << Error();
  EXPECT_EQ(Text("ran.txt"), "ran\n");
#ifndef _WIN32
  setenv("PATH", old.c_str(), 1);
#endif
}
} // namespace
