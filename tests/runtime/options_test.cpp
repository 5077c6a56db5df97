// The probe program runs start-up on its own command line and prints what it decided.
#include "tests/runtime/procrun.h"

#include <gtest/gtest.h>

namespace {

const std::string kProbe = ARGPROBE_EXE;

class Options : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = procrun::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  procrun::Result Probe(const std::vector<std::string>& args, const std::string& env = "") {
    return procrun::Run(kProbe, args, dir_, env);
  }
  std::filesystem::path dir_;
};

TEST_F(Options, AbbreviationsCaseAndBareFlags) {
  auto r = Probe({"-co=5", "-name=abc"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("count=5 name=abc "), std::string::npos) << r.out;

  // Two characters, the dash included, are enough; letter case does not matter.
  r = Probe({"-c=7", "-N"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("count=7 name= "), std::string::npos) << r.out;

  r = Probe({"-COUNT"}); // a bare flag reads as 1
  EXPECT_NE(r.out.find("count=1 name=none "), std::string::npos) << r.out;
}

TEST_F(Options, BadArgumentsEndTheRunWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"-bogus"}, "ERROR: Unrecognized argument \"-bogus\""},
      {{"-"}, "ERROR: Unrecognized argument \"-\""},
      {{"-count=1", "-cou=2"}, "ERROR: Redundant argument \"-cou=2\""},
      {{"-count=x"}, "ERROR: Invalid argument value in \"-count=x\": "},
      {{"-fail=maybe"}, "ERROR: Invalid argument value in \"-fail=maybe\"\n"},
      // Empty values are neither applied nor claimed.
      {{"-LOG="}, "ERROR: Unrecognized argument \"-LOG=\""},
      {{"-HOME="}, "ERROR: Unrecognized argument \"-HOME=\""},
      {{"-HOME=no_such_dir_here"}, "ERROR: Failure changing to directory no_such_dir_here"},
  };
  for (const auto& c : cases) {
    auto r = Probe(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0] << ": " << r.out << r.err;
    EXPECT_NE(r.out.find(c.error), std::string::npos) << c.args[0] << ": " << r.out;
  }
}

TEST_F(Options, LibraryOptionsMixedWithCommands) {
  auto r = Probe({"first", "-DEBUG=3", "second", "-BELL=off", "-ZorvsPC=no", "-PauseOnError",
                  "-appendlog", "-mem_dbg=7", "-lpm_block_sz=4096", "-fault_handler_ena=false",
                  "-log_mem_callers", "-add_vectored_exception_handler_ena"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("first=first debug=3 bell=0 daemon=0 zorvs=0 pause=1 append=1 mem_dbg=7 "
                       "lpm=4096 fault=0 pgm=argprobe"),
            std::string::npos)
      << r.out;

  struct Case {
    std::string arg, expect;
  } cases[] = {{"-DEBUG=yes", "debug=1 "}, {"-DEBUG=no", "debug=0 "}, {"-DEBUG", "debug=1 "},
               {"-BELL=maybe", "bell=0 "}, {"-BELL=true", "bell=1 "}, {"-mem_dbg", "mem_dbg=1 "}};
  for (const auto& c : cases) {
    r = Probe({c.arg});
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.arg << ": " << r.out;
  }
  // The developer-machine flag comes from the environment unless an option says otherwise.
  r = Probe({}, "ZORVS_PC=yes");
  EXPECT_NE(r.out.find("zorvs=1 "), std::string::npos) << r.out;
  r = Probe({"-ZorvsPC=0"}, "ZORVS_PC=yes");
  EXPECT_NE(r.out.find("zorvs=0 "), std::string::npos) << r.out;
}

TEST_F(Options, MoreThan255Arguments) {
  std::vector<std::string> args;
  for (int i = 1; i <= 300; ++i)
    args.push_back("a" + std::to_string(i));
  args[0] = "-DEBUG=2";
  args[279] = "-count=3"; // found by the lookup beyond the table
  auto r = Probe(args);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("count=3 name=none first=a2 debug=2 "), std::string::npos) << r.out;

  // Library options beyond position 255 are not examined, so they are not accepted either.
  args[289] = "-BELL=no";
  r = Probe(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: Unrecognized argument \"-BELL=no\""), std::string::npos) << r.out;
}

TEST_F(Options, LogFileAndHomeDirectory) {
  auto r = Probe({"-LOG=my.log", "-fail"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(procrun::ReadFile(dir_ / "my.log").find("failure on request"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "my.err"));

  std::filesystem::create_directories(dir_ / "sub");
  r = Probe({"-fail", "-HOME=sub"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(procrun::ReadFile(dir_ / "sub" / "argprobe.log").find("failure on request"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "argprobe.log"));
  EXPECT_NE(r.out.find("sub\n"), std::string::npos) << r.out; // the new home

  // A second run truncates the log unless it appends; the trace shows the log name.
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  };
  Probe({"-LOG=my.log", "-fail", "-appendlog"});
  EXPECT_EQ(count(procrun::ReadFile(dir_ / "my.log"), "failure on request"), 2u);
  r = Probe({"-fail", "-pgm_log_dbg"});
  size_t trace1 = r.out.find("ProgramInit:1:pgm_log_dbg=1");
  EXPECT_NE(trace1, std::string::npos) << r.out;
  EXPECT_GT(r.out.find("ProgramInit:2:pgm_log_fn="), trace1) << r.out;
  Probe({"-fail"});
  EXPECT_EQ(count(procrun::ReadFile(dir_ / "argprobe.log"), "failure on request"), 1u);

  // Without an error nothing is logged, and an empty log is removed at the end.
  r = Probe({});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("log=" + procrun::NativePath((dir_ / "argprobe.log").string())),
            std::string::npos)
      << r.out;
}

TEST_F(Options, TheProgramItselfRejectsUnknownOptions) {
  auto r = procrun::Run(TAPSTER_EXE, {"-DEBUG=0", "-nosuchoption"}, dir_);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("Unrecognized argument \"-nosuchoption\""), std::string::npos) << r.err;
  r = procrun::Run(TAPSTER_EXE, {"-DEBUG=0", "-BELL=no"}, dir_); // options only: nothing to do
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

#ifndef _WIN32
TEST_F(Options, NoStandardStreamMakesADaemon) {
  auto res = (dir_ / "res.txt").string();
  auto r = procrun::Run(kProbe, {"-out=" + res}, dir_, "", "<&- >&- 2>&-");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(procrun::ReadFile(res).find("daemon=1 "), std::string::npos) << procrun::ReadFile(res);
  r = procrun::Run(kProbe, {"-out=" + res, "-daemon_pgm=no"}, dir_, "", "<&- >&- 2>&-");
  EXPECT_NE(procrun::ReadFile(res).find("daemon=0 "), std::string::npos) << procrun::ReadFile(res);
  r = Probe({"-daemon_pgm"});
  EXPECT_NE(r.out.find("daemon=1 "), std::string::npos) << r.out;
}
#endif

TEST_F(Options, ExitStatusAndPauseOnErrorWithoutConsole) {
  EXPECT_EQ(Probe({}).status, 0);
  auto r = Probe({"-fail"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("failure on request"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Press any key"), std::string::npos);

  // No console to read a key from: the prompt is shown and the program still ends.
  r = Probe({"-PauseOnError", "-fail"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\nPress any key to continue:\n"), std::string::npos) << r.out;
  // Without an error, or as a daemon, it never prompts.
  EXPECT_EQ(Probe({"-PauseOnError"}).out.find("Press any key"), std::string::npos);
  EXPECT_EQ(Probe({"-PauseOnError", "-fail", "-daemon_pgm"}).out.find("Press any key"),
            std::string::npos);
}

} // namespace

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

namespace {

// With a terminal as console the program waits for one key, and a key ends the wait.
TEST(Pause, PauseOnErrorWaitsForAKeyOnATerminal) {
  auto dir = procrun::FreshDir("pty");
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    execl(kProbe.c_str(), kProbe.c_str(), "-PauseOnError", "-fail", static_cast<char*>(nullptr));
    _exit(98);
  }
  std::string seen;
  auto read_some = [&](int ms) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, ms) > 0) {
      char bf[512];
      ssize_t n = read(master, bf, sizeof bf);
      if (n > 0) seen.append(bf, static_cast<size_t>(n));
    }
  };
  EXPECT_TRUE(procrun::WaitFor([&] {
    read_some(50);
    return seen.find("Press any key to continue:") != std::string::npos;
  })) << seen;
  // Still waiting for the key.
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0);
  ASSERT_EQ(write(master, "k", 1), 1);
  bool ended = procrun::WaitFor([&] {
    read_some(10);
    return waitpid(pid, &status, WNOHANG) == pid;
  });
  if (!ended) kill(pid, SIGKILL);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  close(master);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

} // namespace
#endif

// The log takes no file that is not its own, and a log that loses lines fails the run.
TEST_F(Options, TheLogNeverTakesAnotherFile) {
  namespace fs = std::filesystem;
  const std::string cmd = "Class:nowin/A\n";
  fs::create_directories(dir_ / "h");
  fs::create_directories(dir_ / "other");
  std::ofstream(dir_ / "h" / "cmd.txt", std::ios::binary) << cmd;
  const std::string h_cmd = procrun::NativePath((dir_ / "h" / "cmd.txt").string());
  auto r = Probe({"-LOG=" + procrun::NativePath((dir_ / "other" / "cmd.txt").string()), "-HOME=h",
                  "@cmd.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(procrun::ReadFile(dir_ / "h" / "cmd.txt"), cmd);
  EXPECT_NE(r.out.find("ERROR: Log file \"" + h_cmd +
                       "\" is the command file \"cmd.txt\": choose another log name\n"),
            std::string::npos)
      << r.out;

  std::ofstream(dir_ / "cmd.err", std::ios::binary) << cmd;
  r = Probe({"-LOG=cmd.txt", "@cmd.err", "-fail"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(procrun::ReadFile(dir_ / "cmd.err"), cmd);
  EXPECT_NE(r.out.find("ERROR: Error file \"cmd.err\" is the command file \"cmd.err\": choose "
                       "another log name\n"),
            std::string::npos)
      << r.out;

  // A move replaces an earlier log, never another file.
  std::ofstream(dir_ / "h" / "mine.log", std::ios::binary) << "user data\n";
  r = Probe({"-LOG=mine.log", "-HOME=h", "-say=hello"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(procrun::ReadFile(dir_ / "h" / "mine.log"), "user data\n");
  const std::string h_mine = procrun::NativePath((dir_ / "h" / "mine.log").string());
  EXPECT_NE(r.out.find("ERROR: Log file \"" + h_mine +
                       "\" exists and is not a log: choose another log name\n"),
            std::string::npos)
      << r.out;
  fs::remove(dir_ / "h" / "mine.log");
  EXPECT_EQ(Probe({"-LOG=mine.log", "-HOME=h", "-say=first"}).status, 0);
  r = Probe({"-LOG=mine.log", "-HOME=h", "-say=second"});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string log = procrun::ReadFile(dir_ / "h" / "mine.log");
  EXPECT_NE(log.find("second"), std::string::npos) << log;
  EXPECT_EQ(log.find("first"), std::string::npos) << log;

  // A name that would have to be cut.
  const std::string longname(301, 'x');
  r = Probe({"-LOG=" + longname});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: Log file name longer than 300 characters: \"" + longname + "\"\n"),
            std::string::npos)
      << r.out;

#ifndef _WIN32
  // A full disk: the lines the log could not keep fail the run, and stderr says so.
  r = Probe({"-LOG=/dev/full", "-say=hello"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Write error on \"/dev/full\"\n"), std::string::npos) << r.err;
#endif
}
