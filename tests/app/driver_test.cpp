// The tapster program run as a real process in a folder of its own.
#include "app/driver.h"
#include "app/helptext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {
namespace fs = std::filesystem;

struct ProcessRun {
  int status = -1;
  std::string out;
};

class DriverTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::path(TAPSTER_WORK_DIR) /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
  }

  void WriteFile(const char* name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  }

  // args is appended to the command line as it stands (the shell splits it).
  ProcessRun Start(const std::string& args) {
    fs::path out = dir / "stdout.txt";
    std::string cmd = "cd \"" + dir.string() + "\" && \"" TAPSTER_EXE "\" " + args + " > \"" +
                      out.string() + "\" 2> \"" + (dir / "stderr.txt").string() + "\"";
#if defined(_WIN32)
    cmd = "\"" + cmd + "\""; // cmd.exe strips one pair of outer quotes
#endif
    ProcessRun r;
    int rc = std::system(cmd.c_str());
#if defined(_WIN32)
    r.status = rc;
#else
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
    std::ifstream in(out, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    r.out = text.str();
    return r;
  }

  // A closed log that stayed empty is deleted; an empty one left behind was never closed.
  void ExpectLogClosed() {
    for (const auto& e : fs::directory_iterator(dir)) {
      std::string name = e.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".log") {
        EXPECT_NE(fs::file_size(e.path()), 0u) << name;
      }
    }
  }

  fs::path dir;
};

// "ERROR: " + text + " [[" + callers + "]]\n" as one line.
void ExpectErrorLine(const std::string& line, const std::string& text) {
  std::string head = "ERROR: " + text + " [[";
  EXPECT_EQ(line.rfind(head, 0), 0u) << line;
  EXPECT_GE(line.size(), head.size() + 3);
  EXPECT_EQ(line.substr(line.size() - 3), "]]\n") << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
}

std::string AfterEcho(const std::string& out, const std::string& echo) {
  EXPECT_EQ(out.rfind(echo, 0), 0u) << out;
  return out.substr(echo.size() > out.size() ? out.size() : echo.size());
}
} // namespace

TEST_F(DriverTest, UsageWithoutArguments) {
  ProcessRun r = Start("");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Keyboard/Mouse Simulation Utility\n"
                   "---------------------------------\n"
                   "Usage:\n"
                   "\tTapster {win}/{key}/{ud}/{y}/{x}\n"
                   "where:\n"
                   "\t{win} = Window name (\"~\" is wild-card character)\n"
                   "\t{key} = Key or button name\n"
                   "\t{u/d} = Up/down code: \"D\", \"U\", or \"\"DU\" (default = \"DU\")\n"
                   "\t{y}   = Y coordinate\n"
                   "\t{x}   = X coordinate\n");
  EXPECT_EQ(r.out, tapster_usage);
  ExpectLogClosed();
}

TEST_F(DriverTest, FailuresEndTheRunWithOneErrorLine) {
  ProcessRun r = Start("/Foo");
  EXPECT_EQ(r.status, 1);
  ExpectErrorLine(AfterEcho(r.out, "/Foo\n"), "Bad key name \"Foo\"");
#if !defined(_WIN32)
  EXPECT_NE(r.out.find("/TapsterMain/"), std::string::npos) << r.out; // the callers group
#endif
  ExpectLogClosed();

  // A bad timeout: the command after it never runs, so it is not echoed.
  r = Start("/TMO=x /Foo");
  EXPECT_EQ(r.status, 1);
  ExpectErrorLine(r.out, "Unexp unsigned integer char \"x\" in \"x\"");
  r = Start("/tmo=70000 /Foo");
  EXPECT_EQ(r.status, 1);
  ExpectErrorLine(r.out, "Integer value (70000) > 65535");
}

TEST_F(DriverTest, CommandFilesRunLineByLine) {
  // Empty commands do nothing; "/TMO=" inside a file is a command and fails there; the
  // rest of the file and every later argument are skipped.
  WriteFile("a.txt", "\r\n\n");
  WriteFile("b.txt", "\n/TMO=100\r\n/Foo\n");
  ProcessRun r = Start("-appendlog=no @a.txt \"\" @b.txt /Bar");
  EXPECT_EQ(r.status, 1);
  ExpectErrorLine(AfterEcho(r.out, "\n\n\n\n/TMO=100\n"), "Bad key name \"TMO=100\"");

  // The last line needs no terminator; a missing file ends the run.
  WriteFile("c.txt", "\n");
  r = Start("@c.txt @missing.txt");
  EXPECT_EQ(r.status, 1);
  std::string rest = AfterEcho(r.out, "\n");
  EXPECT_EQ(rest.rfind("ERROR: ", 0), 0u) << rest;
  EXPECT_NE(rest.find("missing.txt"), std::string::npos) << rest;

  // Options only: nothing is echoed, and the run succeeds.
  r = Start("-appendlog");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}
