// Faults of a real process: status 1, the banner, the stack in the log, the error file.
#include "tests/runtime/procrun.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::string kProbe = FAULTPROBE_EXE;

struct Probe {
  procrun::Result run;
  std::string log, err;
};

Probe RunProbe(const std::string& what) {
  auto dir = procrun::FreshDir("fault_" + what);
  Probe p;
  p.run = procrun::Run(kProbe, {what, "-LOG=" + procrun::NativePath((dir / "p.log").string())}, dir,
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
// On 64-bit Windows the banner's frame walk still stops after CrashMe (the callers group
// does reach main); the 32-bit build that ships is checked.
#if defined(_WIN64)
constexpr bool kFrameWalkReachesMain = false;
#else
constexpr bool kFrameWalkReachesMain = true;
#endif

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
    if (kFrameWalkReachesMain) {
      EXPECT_TRUE(StackReachesMain(p.log, c.caller)) << p.log;
    }
    // The fault is the reported error, with its location, in the log and the error file.
    auto errs = LinesWith(p.err, "ERROR: ");
    ASSERT_EQ(errs.size(), 1u) << p.err;
    EXPECT_NE(errs[0].find(" code_location=probe"), std::string::npos) << errs[0];
    EXPECT_EQ(LinesWith(p.log, "ERROR: ").size(), 1u) << p.log;
  }
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
  // A C++ exception thrown and caught is none of the fault handlers' business.
  p = RunProbe("throw");
  EXPECT_EQ(p.run.status, 0) << p.run.out << p.run.err;
  EXPECT_EQ(p.run.out.find("Program Fault"), std::string::npos) << p.run.out;
}

} // namespace
