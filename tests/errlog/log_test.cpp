#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/notify.h"
#include "errlog/pgmlog.h"
#include "errlog/stacktrace.h"
#include "mem/lpm.h"
#include "platform/fake/fake_clock.h"
#include "tests/runtime/stdout_to_stderr.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

[[gnu::noinline]] void ErrlogTestFrames() {
  LogStackFrames(0x1234, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  asm volatile("");
}

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Lines with their "\r\n" ends removed; a line without one is kept as it is.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
    lines.push_back(text.substr(pos, end - pos));
  if (pos < text.size()) lines.push_back(text.substr(pos));
  return lines;
}

class Log : public ::testing::Test {
protected:
  void SetUp() override {
    InternalMemInit();
    ClearErr();
    dir = fs::temp_directory_path() /
          ("tapster_errlog_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    Use(dir / "prog.log");
    log_echo = false;
    log_last_msecs = 0;
    log_indent = 1;
    daemon_pgm = false;
    bell_ena = true;
    log_flush = false;
  }
  void TearDown() override {
    ClosePgmLog();
    while (PopLogPreface() != 0) {
    }
    ClearErr();
    log_echo = true;
    daemon_pgm = false;
    pgm_log_fn[0] = '\0';
    pgm_err_fn[0] = '\0';
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void Use(const fs::path& log) {
    std::snprintf(pgm_log_fn, sizeof pgm_log_fn, "%s", log.string().c_str());
    ErrFileName();
  }
  std::string LogText() {
    if (pgm_log_st) std::fflush(pgm_log_st);
    return Read(pgm_log_fn);
  }

  ScopedFakeClock fake;
  fs::path dir;
};

const std::regex kStamp(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2}\(([ \d]{5,})\) (.*)$)");

TEST_F(Log, LineFormatElapsedAndPauses) {
  ASSERT_TRUE(OpenPgmLog(0));
  LogSt("first");
  fake.clock.Advance(1'500'000);
  LogSt("second ", "part");
  fake.clock.Advance(3'000'000);
  LogSt("third");
  fake.clock.Advance(123'456'000);
  log_pause_secs = 0;
  LogSt("fourth");
  log_pause_secs = 2;
  std::string text = LogText();
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 5u) << text;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, kStamp)) << lines[0];
  EXPECT_EQ(m[1], "    0");
  EXPECT_EQ(m[2], "first");
  ASSERT_TRUE(std::regex_match(lines[1], m, kStamp)) << lines[1];
  EXPECT_EQ(m[1], " 1500");
  EXPECT_EQ(m[2], "second part");
  EXPECT_EQ(lines[2], ""); // three seconds of silence
  ASSERT_TRUE(std::regex_match(lines[3], m, kStamp));
  EXPECT_EQ(m[1], " 3000");
  ASSERT_TRUE(std::regex_match(lines[4], m, kStamp));
  EXPECT_EQ(m[1], "123456");

  U4 start = LogLineTextStart(lines[1].c_str());
  EXPECT_EQ(lines[1].substr(start), "second part");
  EXPECT_EQ(LogLineTextStart("no stamp here"), 0u);
  EXPECT_EQ(LogLineTextStart("12/31/2022 23:00:00(    0)no blank"), 0u);
}

TEST_F(Log, StampFollowsTheClockAndThePattern) {
  // Kept for the lines of one second, formatted again for the next one or another pattern.
  ASSERT_TRUE(OpenPgmLog(0));
  log_elapsed = false;
  LogSt("a");
  LogSt("b");
  fake.clock.Advance(1'000'000);
  LogSt("c");
  const char* saved = log_time_pattern;
  log_time_pattern = "2022-12-31 23:00:00";
  LogSt("d");
  log_time_pattern = saved;
  log_elapsed = true;
  const auto lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 4u) << LogText();
  auto stamp = [&](size_t i) { return lines[i].substr(0, lines[i].size() - 2); };
  EXPECT_EQ(stamp(0), stamp(1));
  EXPECT_NE(stamp(1), stamp(2));
  EXPECT_EQ(stamp(2).substr(stamp(2).size() - 2), stamp(3).substr(stamp(3).size() - 2));
  EXPECT_TRUE(
      std::regex_match(stamp(3), std::regex(R"(\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{2}:\d{2})")))
      << stamp(3);
  // Milliseconds change within the second: such a stamp is never kept.
  EXPECT_TRUE(StampHoldsForASecond("12/31/2022 23:00:00"));
  EXPECT_FALSE(StampHoldsForASecond("12/31/2022 23:00:00:000"));
}

TEST_F(Log, IndentationPrefaceAndLongLines) {
  ASSERT_TRUE(OpenPgmLog(0));
  log_indent = 5;
  LogSt("five");
  log_indent = 1000;
  LogSt("wide");
  log_indent = -7;
  LogSt("none");
  log_indent = 1;
  PushLogPreface("P:");
  LogSt("with");
  EXPECT_EQ(PopLogPreface(), 1);
  EXPECT_EQ(PopLogPreface(), 0);
  LogSt("without");
  std::string big(5000, 'q');
  LogSt(big.c_str());
  auto lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 6u);
  auto text = [&](int i) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(lines[i], m, kStamp)) << lines[i];
    return std::string(m[2]);
  };
  EXPECT_EQ(text(0), "    five");
  EXPECT_EQ(text(1), std::string(254, ' ') + "wide");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 5), ")none");
  EXPECT_EQ(text(3), "P:with");
  EXPECT_EQ(text(4), "without");
  EXPECT_EQ(lines[5].size(), 4095u);
  EXPECT_EQ(lines[5].substr(4092), "...");
}

TEST_F(Log, HundredthPrefaceStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int i = 0; i < 98; ++i)
    PushLogPreface("p");
  while (PopLogPreface() != 0) {
  }
  EXPECT_DEATH(
      {
        StdoutToStderr();
        for (int i = 0; i < 100; ++i)
          PushLogPreface("p");
      },
      "CrashMe\\(0\\) CALLED FROM PushLogPreface");
}

TEST_F(Log, PendingErrorIsRecordedAndKept) {
  ASSERT_TRUE(OpenPgmLog(0));
  SeMErrMult("pending one", nullptr);
  std::string msg = CurErrMsg;
  LogSt("line");
  EXPECT_TRUE(ErrSet);
  EXPECT_EQ(std::string(CurErrMsg), msg);
  EXPECT_EQ(ErrLevel, 0);
  auto lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DBGERR:" + msg);
  EXPECT_NE(lines[1].find(") line"), std::string::npos);
}

TEST_F(Log, AppendNewAndClose) {
  ASSERT_TRUE(OpenPgmLog(0));
  LogSt("one");
  ClosePgmLog();
  size_t size = fs::file_size(pgm_log_fn);
  ASSERT_TRUE(OpenPgmLog(1));
  EXPECT_EQ(pgm_log_bytes, size);
  LogSt("two");
  LogText();
  EXPECT_EQ(pgm_log_bytes, fs::file_size(pgm_log_fn));
  ClosePgmLog();
  EXPECT_EQ(Lines(Read(pgm_log_fn)).size(), 2u);
  ASSERT_TRUE(OpenPgmLog(0));
  ClosePgmLog(); // nothing written: the empty log goes away
  EXPECT_FALSE(fs::exists(pgm_log_fn));

  Use(dir / "missing" / "x.log");
  EXPECT_FALSE(OpenPgmLog(0));
  char bf[1024];
  EXPECT_EQ(std::string(ErrMessage(false, false, bf, sizeof bf)),
            "Open error on \"" + (dir / "missing" / "x.log").string() + "\" (" +
                std::strerror(ENOENT) + ")");
}

TEST_F(Log, EchoGoesToTheConsoleUnlessDaemon) {
  log_echo = true;
  ASSERT_TRUE(OpenPgmLog(0));
  ::testing::internal::CaptureStdout();
  LogSt("echoed");
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(") echoed\r\n"), std::string::npos);
  daemon_pgm = true;
  ::testing::internal::CaptureStdout();
  LogSt("quiet");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(LogText().find(") quiet\r\n"), std::string::npos);
}

TEST_F(Log, OtherFilesAndOldLines) {
  fs::path other = dir / "other.log";
  EXPECT_TRUE(LogStToFile(other.string().c_str(), "old"));
  fake.clock.Advance(100'000'000);
  EXPECT_TRUE(LogStToFileMult(other.string().c_str(), "mid", "dle", nullptr));
  fake.clock.Advance(100'000'000);
  EXPECT_TRUE(LogStToFile(other.string().c_str(), "young"));
  std::string all = Read(other);
  ASSERT_EQ(Lines(all).size(), 3u) << all;
  EXPECT_FALSE(fs::exists(pgm_log_fn)); // the program log was left alone

  EXPECT_FALSE(RemoveOldLogLines(other.string().c_str(), 1000));
  EXPECT_EQ(Read(other), all);
  EXPECT_TRUE(RemoveOldLogLines(other.string().c_str(), 150));
  auto kept = Lines(Read(other));
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_NE(kept[0].find(") middle"), std::string::npos);
  EXPECT_TRUE(RemoveOldLogLines(other.string().c_str(), 0));
  EXPECT_EQ(fs::file_size(other), 0u);

  Write(other, "not a log line\r\nnor this\r\n");
  EXPECT_FALSE(RemoveOldLogLines(other.string().c_str(), 10));
  fake.clock.Advance(50'000'000);
  LogStToFile(other.string().c_str(), "dated");
  fake.clock.Advance(50'000'000);
  EXPECT_TRUE(RemoveOldLogLines(other.string().c_str(), 10)); // all dated lines too old
  EXPECT_EQ(fs::file_size(other), 0u);
  EXPECT_FALSE(ErrSet);
}

TEST_F(Log, FileToLogRecords) {
  fs::path src = dir / "in.txt";
  Write(src, "alpha\r\nbeta\ngamma");
  ASSERT_TRUE(OpenPgmLog(0));
  EXPECT_TRUE(FileToLog(src.string().c_str()));
  EXPECT_FALSE(FileToLog((dir / "none.txt").string().c_str()));
  EXPECT_FALSE(ErrSet);
  auto lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 4u);
  std::string s = src.string();
  EXPECT_NE(lines[0].find(") " + s + ":1:alpha"), std::string::npos);
  EXPECT_NE(lines[2].find(") " + s + ":3:gamma"), std::string::npos);
  EXPECT_NE(lines[3].find(") FileToLog:ERROR:Open error on \""), std::string::npos);
}

TEST_F(Log, MoveCarriesTheErrorFile) {
  ASSERT_TRUE(OpenPgmLog(0));
  LogSt("before");
  Write(pgm_err_fn, "old error\r\n");
  fs::path oldLog = pgm_log_fn, oldErr = pgm_err_fn;
  fs::create_directories(dir / "sub");
  fs::path target = dir / "sub" / "moved.log";
  EXPECT_TRUE(MovePgmLog(target.string().c_str()));
  LogSt("after");
  EXPECT_FALSE(fs::exists(oldLog));
  EXPECT_FALSE(fs::exists(oldErr));
  EXPECT_TRUE(fs::equivalent(fs::path(pgm_log_fn), target));
  EXPECT_EQ(Read(dir / "sub" / "moved.err"), "old error\r\n");
  auto lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(") before"), std::string::npos);
  EXPECT_NE(lines[1].find(") after"), std::string::npos);
  EXPECT_TRUE(MovePgmLog(target.string().c_str())); // onto itself: nothing changes
  EXPECT_EQ(Lines(LogText()).size(), 2u);
}

TEST_F(Log, ProcessErrReportsEverywhere) {
  EXPECT_FALSE(ProcessErr());
  ASSERT_TRUE(OpenPgmLog(0));
  log_echo = true;
  Write(pgm_err_fn, "earlier report\r\n");
  SeMErrMult("it broke", nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ProcessErr(255, false));
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ErrSet);
  EXPECT_EQ(out, "\a");
  EXPECT_NE(err.find(") ERROR: it broke [["), std::string::npos) << err;
  std::string errFile = Read(pgm_err_fn);
  EXPECT_EQ(errFile.rfind("earlier report\r\n", 0), 0u);
  std::string line = errFile.substr(16);
  EXPECT_EQ(LogText(), line);
  EXPECT_EQ(err, line);

  bell_ena = false;
  SeMErrMult("passed over", nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ProcessErr(255, true));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(") ERROR(ignored): passed over"),
            std::string::npos);
}

TEST_F(Log, DaemonReportWithoutSession) {
  ASSERT_TRUE(OpenPgmLog(0));
  log_echo = true;
  daemon_pgm = true;
  SeMErrMult("daemon trouble", nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ProcessErr());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(ErrSet);
  std::string text = LogText();
  EXPECT_NE(text.find(") ERROR: daemon trouble"), std::string::npos);
  EXPECT_NE(Read(pgm_err_fn).find(") ERROR: daemon trouble"), std::string::npos);
}

TEST_F(Log, StackFramesFromAFrame) {
  ASSERT_TRUE(OpenPgmLog(0));
  ErrlogTestFrames();
  auto lines = Lines(LogText());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[0].find(") Fault Occurred at 1234: ? with: "), std::string::npos) << lines[0];
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(R"(with: ( [0-9a-f]{2})+$)"))) << lines[0];
  EXPECT_NE(lines[1].find(") Called from "), std::string::npos) << lines[1];
  EXPECT_NE(LogText().find("TestBody/"), std::string::npos);
}

#ifndef _WIN32
TEST_F(Log, UnwritableLogLosesNoError) {
  // A full disk: every write of the log fails, the report still gets out.
  std::snprintf(pgm_log_fn, sizeof pgm_log_fn, "/dev/full");
  std::snprintf(pgm_err_fn, sizeof pgm_err_fn, "%s", (dir / "prog.err").string().c_str());
  ASSERT_TRUE(OpenPgmLog(1));
  log_flush = true;
  SeMErrMult("the real cause", nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ProcessErr(0, false));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ErrSet);
  EXPECT_NE(err.find(") ERROR: the real cause"), std::string::npos) << err;
  EXPECT_NE(err.find("Write error on \"/dev/full\""), std::string::npos) << err;
  EXPECT_NE(Read(pgm_err_fn).find(") ERROR: the real cause"), std::string::npos);
  std::fclose(pgm_log_st);
  pgm_log_st = nullptr;
  pgm_log_fn[0] = '\0';
  EXPECT_TRUE(log_write_failed) << "the run is to end with status 1";
  log_write_failed = false;
}
#endif

// The pending message without its callers group, cleared.
std::string Message() {
  char msg[2048];
  const char* m = ErrMessage(false, false, msg, sizeof msg);
  return m ? m : "";
}

const char* CommandFileHook(const char* fn) {
  return std::strstr(fn, "cmd.txt") ? "cmd.txt" : nullptr;
}

TEST_F(Log, TrimsAndMovesKeepLinksAndCommandFiles) {
  fs::path real = dir / "real.log", link = dir / "link.log";
  LogStToFile(real.string().c_str(), "old");
  fake.clock.Advance(100'000'000);
  LogStToFile(real.string().c_str(), "young");
  std::error_code ec;
  fs::create_symlink("real.log", link, ec);
  if (!ec) {
    EXPECT_TRUE(RemoveOldLogLines(link.string().c_str(), 50));
    EXPECT_TRUE(fs::is_symlink(link)) << "the trimmed log stays a link";
    auto kept = Lines(Read(real));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept[0].find(") young"), std::string::npos);
  }

  fs::path cmd = dir / "cmd.txt";
  Write(cmd, "Class:x/A\r\n");
  log_command_file_hook = CommandFileHook;
  EXPECT_FALSE(RemoveOldLogLines(cmd.string().c_str(), 0));
  EXPECT_EQ(Message(),
            "RemoveOldLogLines:\"" + cmd.string() + "\" is the command file \"cmd.txt\"");
  ASSERT_TRUE(OpenPgmLog(0));
  LogSt("line");
  EXPECT_FALSE(MovePgmLog(cmd.string().c_str()));
  EXPECT_EQ(Message(), "Log file \"" + cmd.string() +
                           "\" is the command file \"cmd.txt\": choose another log name");
  log_command_file_hook = nullptr;
  EXPECT_EQ(Read(cmd), "Class:x/A\r\n");
  Write(dir / "data.log", "not a log\r\n");
  EXPECT_FALSE(MovePgmLog((dir / "data.log").string().c_str()));
  EXPECT_EQ(Message(), "Log file \"" + (dir / "data.log").string() +
                           "\" exists and is not a log: choose another log name");
  EXPECT_EQ(Read(dir / "data.log"), "not a log\r\n");
  EXPECT_NE(LogText().find(") line"), std::string::npos) << "the log stays where it was";
}

} // namespace
