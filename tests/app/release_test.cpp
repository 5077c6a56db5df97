// Input a run leaves behind when it ends early.
#include "app/heldinput.h"
#include "app/simcmd.h"

#include "app_fixture.h"

class ReleaseTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    ReleaseHeldInput(); // whatever earlier tests left held
    d.calls.clear();
  }
  bool ShiftDown() { return d.GetKeyState(kVkShift) & 0x8000; }
};

TEST_F(ReleaseTest, ShiftOfATypedCharacterComesUpWhenItsWindowCloses) {
  HWND_T n = Window("Notepad");
  SimCmd("Notepad/'a_'", 0);
  ASSERT_EQ(TakeError(), "");
  // The window goes after Shift went down, or after the "_" itself.
  for (int keys : {1, 3}) {
    d.Close(n);
    n = Window("Notepad");
    d.closesAfterKeys = n;
    d.keysUntilClose = keys;
    SimCmd("Notepad/'____'", 0);
    EXPECT_EQ(TakeError(), "Handle does not refer to an active window");
    EXPECT_FALSE(ShiftDown()) << keys;
    EXPECT_EQ(d.Input().back(), Key(kVkShift, true));
    EXPECT_EQ(HeldInputCount(), 0);
  }
}

TEST_F(ReleaseTest, AnEarlyEndReleasesWhatTheRunHolds) {
  Window("Notepad");
  SimCmd("Notepad/Ctrl/D", 0);
  SimCmd("/Shift/D", 0);
  SimCmd("/A/D", 0);
  SimCmd("/A/U", 0);
  SimCmd("Notepad/Mouse:L/D/10/20", 0);
  SimCmd("Notepad/Mouse:R//10/20", 0); // a click holds nothing
  ASSERT_EQ(TakeError(), "");
  EXPECT_EQ(HeldInputCount(), 3);

  // Released at a clean level: a pending error stays the one reported.
  SeMErrMult("first", nullptr);
  d.calls.clear();
  ReleaseHeldInput();
  EXPECT_EQ(TakeError(), "first");
  EXPECT_EQ(d.calls, Lines({Key(kVkShift, true), Key(0x11, true), Mouse(0, 0, kMouseEventfLeftUp),
                            "ReturnLentKeys"}));
  EXPECT_EQ(HeldInputCount(), 0);

  // Keys released by the commands themselves are not released again.
  d.calls.clear();
  ReleaseHeldInput();
  EXPECT_EQ(d.calls, Lines({"ReturnLentKeys"}));
}
