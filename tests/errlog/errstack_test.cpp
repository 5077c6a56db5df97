#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "mem/lpm.h"
#include "platform/syserr.h"
#include "runtime/startup.h"
#include "tests/runtime/stdout_to_stderr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Out of line and with external linkage, so that caller chains can name them.
[[gnu::noinline]] void ErrlogTestRaiser(const char* text) {
  SeMErrMult(text, nullptr);
  asm volatile(""); // keeps the call from becoming a jump
}
[[gnu::noinline]] void ErrlogTestOuter(const char* text) {
  ErrlogTestRaiser(text);
  asm volatile("");
}
// A name longer than a remembered slot holds.
namespace ErrlogTestVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceName {
[[gnu::noinline]] void TwoGroups(std::string* out) {
  *out = StackCallers_STC();
  *out += "|";
  *out += StackCallers_STC();
  asm volatile("");
}
} // namespace
  // ErrlogTestVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceName
[[gnu::noinline]] int ErrlogTestDeep(int n) {
  if (n == 0) {
    SeMErrMult("deep", nullptr);
    return 0;
  }
  volatile int depth = ErrlogTestDeep(n - 1); // a real frame per level
  return depth + 1;
}

namespace {

// Functions of an anonymous namespace are named too.
[[gnu::noinline]] void HiddenRaiser() {
  SeMErrMult("hidden", nullptr);
  asm volatile("");
}

class ErrStack : public ::testing::Test {
protected:
  void SetUp() override {
    InstallLayerHooks();
    InternalMemInit();
    while (ErrLevel > 0)
      PopErr(false);
    ClearErr();
  }
  void TearDown() override {
    while (ErrLevel > 0)
      PopErr(false);
    ClearErr();
  }
  static std::string Text() { return ErrSet ? CurErrMsg : ""; }
  static std::string Group() {
    const char* g = std::strstr(CurErrMsg, " [[");
    return g ? g : "";
  }
  static std::string Front() {
    char bf[4096];
    return ErrMessage(false, true, bf, sizeof bf) ? bf : "";
  }
};

TEST_F(ErrStack, FirstMessageWinsAndTextsAreJoinedOnOneLine) {
  EXPECT_FALSE(SeMErrMult(nullptr, nullptr));
  EXPECT_FALSE(ErrSet);
  EXPECT_TRUE(SeMErrMult("a\r\nb", "=", "c", nullptr));
  EXPECT_EQ(Front(), "a<CR><LF>b=c");
  EXPECT_TRUE(SeMErrMult("second", nullptr));
  EXPECT_EQ(Front(), "a<CR><LF>b=c");
  EXPECT_TRUE(ErrLevelSet[0]);
  EXPECT_TRUE(ClearErr());
  EXPECT_FALSE(ErrLevelSet[0]);
  EXPECT_FALSE(ClearErr());

  SeMErrMult("", nullptr);
  EXPECT_EQ(Front(), "(empty)");
  EXPECT_EQ(Group().substr(0, 3), " [[");
  EXPECT_EQ(Text().substr(Text().size() - 2), "]]");
}

TEST_F(ErrStack, OverlongTextsAreCutWithDots) {
  std::string big(2000, 'x');
  SeMErrMult(big.c_str(), nullptr);
  EXPECT_EQ(Text(), std::string(1020, 'x') + "...");
  ClearErr();

  // Exactly 1023 characters fit without dots; the group then has no room at all.
  std::string full(1023, 'y');
  SeMErrMult(full.c_str(), nullptr);
  EXPECT_EQ(Text(), full);
  ClearErr();

  // Line ends that expand past the slot are cut too.
  std::string lines(1000, '\n');
  SeMErrMult(lines.c_str(), nullptr);
  EXPECT_EQ(Text().size(), 1023u);
  EXPECT_EQ(Text().substr(1020), "...");
  ClearErr();

  // A group cut at the slot's end ends in dots.
  std::string nearly(1015, 'z');
  SeMErrMult(nearly.c_str(), nullptr);
  EXPECT_EQ(Text().size(), 1023u);
  EXPECT_EQ(Text().substr(0, 1015), nearly);
  EXPECT_EQ(Text().substr(1020), "...");
}

TEST_F(ErrStack, CallersGroupNamesTheRaiserAndStaysLast) {
  ErrlogTestOuter("T");
  std::string group = Group();
  EXPECT_EQ(group.rfind(" [[ErrlogTestRaiser/ErrlogTestOuter/", 0), 0u) << group;

  AddErrMult(": fn=", "x.txt", nullptr);
  EXPECT_EQ(Text(), "T: fn=x.txt" + group);
  InsErrMult("P:", nullptr);
  EXPECT_EQ(Text(), "P:T: fn=x.txt" + group);
  InsErrMult(nullptr, nullptr);
  EXPECT_EQ(Text(), "P:T: fn=x.txt" + group);

  // Added text is cut in front of the group, never the group itself.
  std::string big(1500, 'a');
  AddErrMult(big.c_str(), nullptr);
  EXPECT_EQ(Text().size(), 1023u);
  EXPECT_EQ(Text().substr(1023 - group.size()), group);
  EXPECT_EQ(Text().substr(1023 - group.size() - 3, 3), "...");
  ClearErr();

  HiddenRaiser();
  EXPECT_EQ(Group().rfind(" [[HiddenRaiser/", 0), 0u) << Group();
  ClearErr();

  // A text that brings its own group gets no second one.
  SeMErrMult("U [[given]]", nullptr);
  EXPECT_EQ(Text(), "U [[given]]");
  ClearErr();
  AddErrMult("fresh", nullptr);
  EXPECT_EQ(Front(), "fresh");
  EXPECT_FALSE(Group().empty());
}

TEST_F(ErrStack, WithoutHooksItStillWorks) {
  // Below every other layer, the error stack must not need them to report.
  InstallErrStackHooks({});
  SeMErrMult("alone", nullptr);
  EXPECT_EQ(Text(), "alone [[?]]");
  EXPECT_EQ(PushErrMessage_LPM(), nullptr);
  EXPECT_EQ(ErrLevel, 1);
  PopErr(true);
  EXPECT_EQ(Front(), "alone");
  ClearErr();
  EXPECT_DEATH(
      {
        for (int i = 0; i < 10; ++i)
          PushErr();
      },
      "");
  InstallLayerHooks();
}

TEST_F(ErrStack, ErrMessageWithAndWithoutKeep) {
  char bf[16] = "untouched";
  EXPECT_EQ(ErrMessage(true, false, bf, sizeof bf), nullptr);
  EXPECT_STREQ(bf, "untouched");

  ErrlogTestRaiser("message");
  std::string whole = Text();
  char out[4096];
  EXPECT_STREQ(ErrMessage(false, true, out, sizeof out), "message");
  EXPECT_TRUE(ErrSet);
  EXPECT_EQ(ErrMessage(true, false, out, sizeof out), out);
  EXPECT_EQ(whole, out);
  EXPECT_FALSE(ErrSet);
  EXPECT_EQ(CallersSkip, 0);

  SeMErrMult("0123456789abcdef", nullptr);
  char small[8];
  ErrMessage(false, false, small, sizeof small);
  EXPECT_STREQ(small, "0123...");
}

TEST_F(ErrStack, NestedLevelsKeepTheFirstError) {
  SeMErrMult("outer", nullptr);
  EXPECT_TRUE(PushErr());
  EXPECT_FALSE(ErrSet);
  SeMErrMult("inner", nullptr);
  PopErr(true);
  EXPECT_EQ(Front(), "outer");
  PushErr();
  SeMErrMult("inner", nullptr);
  PopErr(false);
  EXPECT_EQ(Front(), "outer");
  ClearErr();

  EXPECT_FALSE(PushErr());
  SeMErrMult("inner", nullptr);
  PopErr(true);
  EXPECT_EQ(Front(), "inner");
  ClearErr();
  PushErr();
  SeMErrMult("inner", nullptr);
  PopErr(false);
  EXPECT_FALSE(ErrSet);

  SeMErrMult("saved", nullptr);
  char* copy = PushErrMessage_LPM();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy).rfind("saved [[", 0), 0u);
  EXPECT_EQ(PushErrMessage_LPM(), nullptr);
  PopErr(false);
  PopErr(false);
  EXPECT_EQ(Front(), "saved");

  PopErr(true); // level 0: nothing
  EXPECT_EQ(ErrLevel, 0);
  EXPECT_TRUE(ErrSet);
  ClearErr();

  for (int i = 0; i < 9; ++i)
    PushErr();
  EXPECT_EQ(ErrLevel, 9);
  SeMErrMult("deepest", nullptr);
  for (int i = 0; i < 9; ++i)
    PopErr(true);
  EXPECT_EQ(Front(), "deepest");
}

TEST_F(ErrStack, TenthLevelStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        StdoutToStderr();
        SeMErrMult("pending", nullptr);
        for (int i = 0; i < 10; ++i)
          PushErr();
      },
      "CrashMe\\(0\\) CALLED FROM PushErr");
}

TEST_F(ErrStack, SystemErrorTexts) {
  EXPECT_EQ(WindowsErrorText(0), nullptr);
  EXPECT_STREQ(WindowsErrorText(536870913u), "Error#536870913");
  std::string text5 = WindowsErrorText(5);

  EXPECT_EQ(SeMLastErr(nullptr, nullptr, 5), 5u);
  std::string m = Front();
  EXPECT_EQ(m.rfind("error #5: ", 0), 0u) << m;
  EXPECT_NE(m.back(), '.');
  EXPECT_EQ(m.find(" ("), std::string::npos);
  EXPECT_EQ(m.substr(10), text5);
  EXPECT_EQ(SeMLastErr("again", nullptr, 5), 1u);
  ClearErr();

  SeMLastErr("CallName", nullptr, 536870913u);
  EXPECT_EQ(Front(), "CallName (error #536870913: Error#536870913)");
  ClearErr();
  SetPlatformLastError(0);
  EXPECT_EQ(SeMLastErr(nullptr, nullptr, 0), 0u); // nothing to say

  EXPECT_EQ(SeMErrno("open", ": fn=a", 2), 2);
  EXPECT_EQ(Front(), std::string("open: fn=a (Error #2: ") + std::strerror(2) + ")");
  ClearErr();

  SeMCommErr(nullptr, false, "Port", nullptr, 0x8013, nullptr);
  EXPECT_EQ(Front(), "Port (COMM err #32787:Mode unsupported,Break,RX overrun,RX overflow)");
  ClearErr();
  SeMCommErr(nullptr, false, nullptr, nullptr, 0x10000, nullptr);
  EXPECT_EQ(Front(), "COMM err #65536:??");
  ClearErr();
}

TEST_F(ErrStack, CallerChainNeverFaults) {
  // A deep stack: the chain is bounded by its buffer and the frame limit.
  ErrlogTestDeep(300);
  std::string group = Group();
  EXPECT_LE(group.size(), 512u + 5);
  EXPECT_EQ(group.rfind(" [[ErrlogTestDeep/ErrlogTestDeep/", 0), 0u) << group;
  ClearErr();

  CallersSkip = 2;
  std::string skipped = StackCallers_STC();
  CallersSkip = 0;
  std::string all = StackCallers_STC();
  EXPECT_GT(all.size(), skipped.size());
  EXPECT_NE(all.find(skipped), std::string::npos);

  // A long name is given whole each time.
  const std::string longName =
      "ErrlogTestVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNa"
      "meVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLo"
      "ngNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamesp"
      "aceName::TwoGroups";
  ASSERT_GT(longName.size(), 256u);
  std::string twice;
  ErrlogTestVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceNameVeryLongNamespaceName::
      TwoGroups(&twice);
  EXPECT_EQ(twice.rfind(longName + "/", 0), 0u) << twice;
  EXPECT_NE(twice.find("|" + longName + "/"), std::string::npos) << twice;

  // Broken frame chains end the walk instead of faulting.
  int local = 0;
  U8 here = reinterpret_cast<uintptr_t>(&local);
  for (U8 bogus : {U8{8}, U8{0x3}, here + 1, here, ~U8{0} - 64})
    LogStackFrames(0x1000, bogus);
  LogStackFrames(0, 0);
  PrintStackFrames(0x1000, 8);
  EXPECT_STREQ(MapSymbolAndOffset(0, true), "?");
}

} // namespace
