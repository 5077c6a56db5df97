// Faults of a real process: status 1, the banner, the stack in the log, the error file.
#include "tests/runtime/procrun.h"

#include <gtest/gtest.h>

#include "runtime/fault.h"

#include <csignal>
#include <regex>

namespace {

const std::string kProbe = FAULTPROBE_EXE;
const std::string kStrippedProbe = STRIPPED_FAULTPROBE_EXE;

struct Probe {
  procrun::Result run;
  std::string log, err;
};

Probe RunProbe(const std::string& what, const std::string& option = "",
               const std::string& exe = kProbe) {
  auto dir = procrun::FreshDir("fault_" + what);
  Probe p;
  std::vector<std::string> args{what, "-LOG=" + procrun::NativePath((dir / "p.log").string())};
  if (!option.empty()) args.push_back(option);
  p.run = procrun::Run(exe, args, dir,
                       // The address sanitizer keeps the fault signals to itself unless told.
                       "ASAN_OPTIONS=allow_user_segv_handler=1:handle_abort=0");
  p.log = procrun::ReadFile(dir / "p.log");
  p.err = procrun::ReadFile(dir / "p.err");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return p;
}

// The lines of text that contain needle, in order.
std::vector<std::string> LinesWith(const std::string& text, const std::string& needle) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) out.push_back(line);
  return out;
}

// True when the log's stack lines ("Call:", "Called from", "Fault Occurred at") name caller
// and then main.
bool StackReachesMain(const std::string& log, const std::string& caller) {
  std::vector<std::string> frames;
  for (const std::string& line : LinesWith(log, " "))
    if (line.find("Call") != std::string::npos || line.find("Occurred at") != std::string::npos)
      frames.push_back(line);
  size_t at = 0;
  for (; at < frames.size() && frames[at].find(caller) == std::string::npos; ++at) {
  }
  for (; at < frames.size(); ++at)
    if (frames[at].find(" main/") != std::string::npos) return true;
  return false;
}

TEST(Fault, CrashMeAndRealFaultsEndWithStatusOneAndAReport) {
  struct Case {
    std::string what, caller;
  };
  for (const Case& c : {Case{"crash0", "ProbeCaller"}, Case{"crash2", "ProbeCaller"},
                        Case{"segv", "ProbeWriter"}}) {
    SCOPED_TRACE(c.what);
    Probe p = RunProbe(c.what);
    EXPECT_EQ(p.run.status, 1) << p.run.out << p.run.err;
    if (c.what != "segv") {
      EXPECT_NE(p.run.out.find("CrashMe(" + c.what.substr(5) + ") CALLED FROM ProbeCaller"),
                std::string::npos)
          << p.run.out;
    }
    EXPECT_NE(p.run.out.find("****************************\nProgram Fault: "), std::string::npos)
        << p.run.out;
    EXPECT_TRUE(StackReachesMain(p.log, c.caller)) << p.log;
    // The fault is the reported error, with its location, in the log and the error file.
    auto errs = LinesWith(p.err, "ERROR: ");
    ASSERT_EQ(errs.size(), 1u) << p.err;
    EXPECT_NE(errs[0].find(" code_location=probe"), std::string::npos) << errs[0];
    EXPECT_EQ(LinesWith(p.log, "ERROR: ").size(), 1u) << p.log;
  }
}

// The banner's "Address=<hex>(<symbol>)" and the log's first stack line ("Fault Occurred at
// <hex>: <symbol>", or "Call:<HEX> <symbol>" from a signal) name the faulting instruction
// itself, with the same offset.
TEST(Fault, FaultAddressIsNamedWithItsOwnOffset) {
  Probe p = RunProbe("segv");
  std::smatch banner, log;
  ASSERT_TRUE(std::regex_search(p.run.out, banner, std::regex("Address=([0-9a-f]+)\\(([^)]*)\\)")))
      << p.run.out;
  EXPECT_EQ(banner[2].str().rfind("ProbeWriter/", 0), 0u) << banner[2];
  ASSERT_TRUE(std::regex_search(p.log, log,
                                std::regex("(?:Fault Occurred at |Call:)([0-9a-fA-F]+):? (\\S+)")))
      << p.log;
  std::string address = log[1].str();
  for (char& c : address)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(address, banner[1].str());
  EXPECT_EQ(log[2].str(), banner[2].str());
}

TEST(Fault, StackOverflowIsReportedLikeAnyFault) {
  Probe p = RunProbe("overflow");
  EXPECT_EQ(p.run.status, 1) << p.run.out << p.run.err;
#ifdef _WIN32
  const std::string name = "Error c00000fd: Stack overflow";
#else
  const std::string name = "Invalid memory segment access";
#endif
  EXPECT_NE(p.run.out.find("Program Fault: "), std::string::npos) << p.run.out;
  EXPECT_NE(p.run.out.find(name), std::string::npos) << p.run.out;
  EXPECT_NE(p.log.find("ProbeRecurse"), std::string::npos) << p.log.substr(0, 4000);
  auto errs = LinesWith(p.err, "ERROR: ");
  ASSERT_EQ(errs.size(), 1u) << p.err;
  EXPECT_NE(errs[0].find(name), std::string::npos) << errs[0];
  // The callers lead out of the handler into the recursion.
  EXPECT_NE(errs[0].find("/ProbeRecurse/ProbeRecurse"), std::string::npos) << errs[0];
}

TEST(Fault, DaemonFaultsWriteNothingOnTheConsole) {
  for (const std::string what : {"crash0", "segv"}) {
    SCOPED_TRACE(what);
    Probe p = RunProbe(what, "-daemon_pgm");
    EXPECT_EQ(p.run.status, 1);
    EXPECT_EQ(p.run.out, "");
    EXPECT_TRUE(StackReachesMain(p.log, what == "segv" ? "ProbeWriter" : "ProbeCaller")) << p.log;
    EXPECT_EQ(LinesWith(p.err, "ERROR: ").size(), 1u) << p.err;
  }
  EXPECT_STREQ(SignalName(SIGSEGV), "Invalid memory segment access");
#ifdef SIGBUS
  EXPECT_STREQ(SignalName(SIGBUS), "Unexp signal");
#endif
}

TEST(Fault, InvalidParameterAndPendingErrorsAreReported) {
  Probe p = RunProbe("crash1");
  EXPECT_EQ(p.run.status, 1) << p.run.out << p.run.err;
  EXPECT_NE(p.run.out.find("Invalid parameter fault code_location=probe\n"), std::string::npos)
      << p.run.out;
  EXPECT_EQ(LinesWith(p.err, "ERROR: Invalid parameter fault code_location=probe").size(), 1u)
      << p.err;

  // The error pending when the fault struck is reported first, then the fault.
  p = RunProbe("pending-segv");
  EXPECT_EQ(p.run.status, 1);
  auto errs = LinesWith(p.err, "ERROR: ");
  ASSERT_EQ(errs.size(), 2u) << p.err;
  EXPECT_NE(errs[0].find("Pending before the fault"), std::string::npos) << errs[0];
  EXPECT_NE(errs[1].find("code_location=probe"), std::string::npos) << errs[1];
}

TEST(Fault, CallersGroupNamesTheFunctionsInnermostFirstAndExceptionsPass) {
  Probe p = RunProbe("error");
  EXPECT_EQ(p.run.status, 1);
  EXPECT_TRUE(std::regex_search(
      p.run.out, std::regex("ERROR: ProbeInnermost:failed \\[\\[ProbeInnermost/ProbeMiddle/"
                            "ProbeOuter/main\\]\\]")))
      << p.run.out;
  // A stripped program names its functions from the table embedded in it.
  p = RunProbe("error", "", kStrippedProbe);
  EXPECT_NE(p.run.out.find("[[ProbeInnermost/ProbeMiddle/ProbeOuter/main]]"), std::string::npos)
      << p.run.out;
  p = RunProbe("crash0", "", kStrippedProbe);
  EXPECT_TRUE(StackReachesMain(p.log, "ProbeCaller")) << p.log;
  // A C++ exception thrown and caught is none of the fault handlers' business.
  p = RunProbe("throw");
  EXPECT_EQ(p.run.status, 0) << p.run.out << p.run.err;
  EXPECT_EQ(p.run.out.find("Program Fault"), std::string::npos) << p.run.out;
}

} // namespace
