// Typed text in checked chunks, CapsLock as it was found, and runs that take turns.
#include "app/heldinput.h"
#include "app/simcmd.h"
#include "app/typetext.h"

#include "app_fixture.h"

#include <string>

class TurnsTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    ReleaseHeldInput();
    d.calls.clear();
  }
  bool CapsOn() { return d.GetKeyState(kVkCapital) & 1; }
  // The key events after the last focus check.
  Lines AfterLastCheck() const {
    return Lines(d.calls.begin() + static_cast<long>(d.focusChecks.back()), d.calls.end());
  }
};

TEST_F(TurnsTest, ChunksAreCheckedAndALostFocusEndsTheText) {
  HWND_T n = Window("Notepad");
  std::string digits(40, '7');
  SimCmd(("Notepad/'" + digits + "'").c_str(), 0);
  ASSERT_EQ(TakeError(), "");
  // Between chunks of 16 characters (two key events each) and after the last.
  std::size_t raised = Raised(n).size();
  EXPECT_EQ(d.focusChecks, (std::vector<std::size_t>{raised + 32, raised + 64, raised + 80}));

  // The focus goes at the second check: nothing after it but CapsLock put back.
  d.calls.clear();
  d.focusChecks.clear();
  d.focusLostAtCheck = 2;
  SimCmd(("Notepad/'A" + digits + "'").c_str(), 0);
  EXPECT_EQ(TakeError(), "ActivateWindow failure (window=Notepad)");
  ASSERT_EQ(d.focusChecks.size(), 3u); // the last one only decides about what waits
  Lines capsBack;
  Tap(capsBack, kVkCapital);
  EXPECT_EQ(AfterLastCheck(), capsBack);
  EXPECT_EQ(d.Input().size(), 2 + 32 * 2 + 2u);
  EXPECT_FALSE(CapsOn());
  EXPECT_EQ(HeldInputCount(), 0);

  // Gone at the end of the first chunk rather than elsewhere: the window error.
  d.focusLostAtCheck = 0;
  d.closesAfterKeys = n;
  d.keysUntilClose = 32;
  d.calls.clear();
  SimCmd(("Notepad/'" + digits + "'").c_str(), 0);
  EXPECT_EQ(TakeError(), "Handle does not refer to an active window");
  EXPECT_EQ(d.Input().size(), 32u);
}

TEST_F(TurnsTest, CapsLockEndsAsItWasFound) {
  HWND_T n = Window("Notepad");
  struct {
    bool capsBefore;
    const char* command;
    const char* error;
  } const cases[] = {
      {false, "Notepad/'abC'", ""},
      {true, "Notepad/'ABc'", ""},
      {false, "Notepad/'aB!'", "Bad key name \"'aB!'\""},
      {true, "Notepad/'Ab!'", "Bad key name \"'Ab!'\""},
  };
  for (const auto& c : cases) {
    if (CapsOn() != c.capsBefore) SimCmd("Notepad/CapsLock", 0);
    SimCmd(c.command, 0);
    EXPECT_EQ(TakeError(), c.error) << c.command;
    EXPECT_EQ(CapsOn(), c.capsBefore) << c.command;
  }

  // The window closes right after the CapsLock that made the "B".
  for (bool capsBefore : {false, true}) {
    if (CapsOn() != capsBefore) SimCmd("Notepad/CapsLock", 0);
    d.closesAfterKeys = n;
    d.keysUntilClose = capsBefore ? 2 : 4;
    SimCmd(capsBefore ? "Notepad/'Abcd'" : "Notepad/'aBCD'", 0);
    EXPECT_EQ(TakeError(), "Handle does not refer to an active window");
    EXPECT_EQ(CapsOn(), capsBefore);
    n = Window("Notepad");
  }
}

TEST_F(TurnsTest, TheTurnLastsUntilTheLastRelease) {
  Window("Notepad");
  SimCmd("Notepad/Shift/D", 0);
  EXPECT_TRUE(d.inputLockHeld);
  SimCmd("Notepad/A", 0);
  SimCmd("Notepad/Shift/U", 0);
  EXPECT_FALSE(d.inputLockHeld);
  EXPECT_EQ(d.inputLockTurns, 1);
  SimCmd("Notepad/'ab'", 0);
  SimCmd("/Foo", 0); // a bad key name needs no turn
  EXPECT_EQ(TakeError(), "Bad key name \"Foo\"");
  EXPECT_EQ(d.inputLockTurns, 2);
  // An early end gives the turn back with the keys.
  SimCmd("Notepad/Ctrl/D", 0);
  ASSERT_TRUE(d.inputLockHeld);
  ReleaseHeldInput();
  EXPECT_FALSE(d.inputLockHeld);

  // Another run keeps it: nothing is sent, not even the activation.
  d.inputLockBusy = true;
  d.calls.clear();
  SimCmd("Notepad/'x'", 300);
  EXPECT_EQ(TakeError(),
            "AcquireInputLock: another run is sending input to this desktop; gave up after 300 ms");
  EXPECT_TRUE(d.calls.empty());
}
