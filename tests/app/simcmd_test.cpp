#include "app/keytable.h"
#include "app/simcmd.h"

#include "app_fixture.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

TEST(KeyTable, OrderCodesAndNames) {
  EXPECT_STREQ(key_names[0].name, "Mouse:L");
  EXPECT_STREQ(key_names[3].name, "Ctrl-Break");
  EXPECT_EQ(key_names[3].code, 0x03);
  EXPECT_STREQ(key_names[kKeyNameCount - 1].name, "PA1");
  EXPECT_EQ(key_names[kKeyNameCount - 1].code, 0xFD);
  // Names are whole and case-blind; the first of two names with one code wins.
  EXPECT_EQ(KeyNameIndex("mouse:l"), 0);
  EXPECT_EQ(key_names[KeyNameIndex("/")].code, 0xBF);
  EXPECT_LT(KeyNameIndex("/"), KeyNameIndex("?"));
  EXPECT_EQ(key_names[KeyNameIndex("\\")].code, 0xE2);
  EXPECT_EQ(key_names[KeyNameIndex("*")].code, 0x38);
  EXPECT_EQ(key_names[KeyNameIndex("kp:enter")].code, 0x6C);
  EXPECT_EQ(key_names[KeyNameIndex("F24")].code, 0x87);
  EXPECT_EQ(key_names[KeyNameIndex("z")].code, 0x5A);
  EXPECT_EQ(KeyNameIndex("Ente"), -1);
  EXPECT_EQ(KeyNameIndex(""), -1);
  // Every code of the table lies where the vocabulary puts it: 132 distinct names.
  for (int i = 0; i < kKeyNameCount; ++i)
    EXPECT_EQ(KeyNameIndex(key_names[i].name), i);

  char buf[8];
  EXPECT_STREQ(CharName(0, buf), "<NUL>");
  EXPECT_STREQ(CharName('\b', buf), "<BS>");
  EXPECT_STREQ(CharName('\r', buf), "<CR>");
  EXPECT_STREQ(CharName('\t', buf), "\t");
  EXPECT_STREQ(CharName(255, buf), "<?>");
  EXPECT_STREQ(CharName('q', buf), "q");
  // The remembered lookup of typed characters answers as the table does, found or not,
  // the first time and later.
  for (int round = 0; round < 2; ++round)
    for (int c = 0; c < 256; ++c)
      ASSERT_EQ(CharKeyIndex(static_cast<unsigned char>(c)),
                KeyNameIndex(CharName(static_cast<unsigned char>(c), buf)))
          << "character " << c << " round " << round;
  EXPECT_GE(CharKeyIndex('a'), 0);
  EXPECT_EQ(CharKeyIndex(0), -1);
}

TEST(UpDown, WholeFieldCaseBlind) {
  EXPECT_EQ(UpDownCode(nullptr), 3);
  EXPECT_EQ(UpDownCode(""), 3);
  EXPECT_EQ(UpDownCode("d"), 1);
  EXPECT_EQ(UpDownCode("U"), 2);
  EXPECT_EQ(UpDownCode("du"), 3);
  EXPECT_EQ(UpDownCode("UD"), 0);
  EXPECT_EQ(UpDownCode("DUD"), 0);
}

using SimCmdTest = AppTest;

TEST_F(SimCmdTest, KeysPressAndReleaseInOrder) {
  HWND_T n = Window("Notepad");
  d.scanCodes[0x41] = 0x11E; // only the low byte is a scan code
  SimCmd("Notepad/a", 0);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.calls, Join(Raised(n), {Key(0x41, false, 0x1E), Key(0x41, true, 0x1E)}));

  // The window is in front now: no more activation, only the keys.
  d.calls.clear();
  SimCmd("Notepad/Shift/D", 0);
  SimCmd("Notepad/A/d/1/2/junk", 0);
  SimCmd("Notepad/Shift/u", 0);
  SimCmd("Notepad//", 0);
  SimCmd("Notepad/A/UD", 0);
  SimCmd("Notepad", 0);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.calls, (Lines{Key(0x10, false), Key(0x41, false, 0x1E), Key(0x10, true),
                            Key(0xBF, false), Key(0xBF, true)}));
}

TEST_F(SimCmdTest, NoWindowGoesToTheFocus) {
  SimCmd("/Enter", 0);
  SimCmd("/ctrl-break//5", 0); // y without a mouse button changes nothing
  SimCmd("", 0);
  EXPECT_EQ(TakeError(), "");
  Lines want;
  Tap(want, 0x0D);
  Tap(want, 0x03);
  EXPECT_EQ(d.calls, want);
  EXPECT_TRUE(d.findWindowCalls.empty());
}

TEST_F(SimCmdTest, MouseForms) {
  HWND_T n = Window("Notepad");
  SimCmd("Notepad/Mouse:L//10/20", 0);
  SimCmd("Notepad///10/20", 0);
  SimCmd("Notepad/Mouse:R/D/10/20", 0);
  SimCmd("Notepad/Mouse:M", 0); // the middle button is pressed too
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.calls, Join(Raised(n), {Mouse(4098, 12754, 0x8007), Mouse(4098, 12754, 0x8001),
                                      Mouse(4098, 12754, 0x8009), Mouse(3415, 12147, 0x8061)}));
  SimCmd("/Mouse:L//-5/-7", 0); // off the screen: no click at its edge
  EXPECT_EQ(TakeError(), "SimMouse: the point lies outside the screen (x=-7 y=-5 "
                         "screen=1920x1080)");
  EXPECT_EQ(d.calls.size(), Raised(n).size() + 4);
}

TEST_F(SimCmdTest, FailuresStopBeforeTheirEffects) {
  Window("Notepad");
  SimCmd("Notepad///D", 0); // a letter where y belongs: before any look-up
  EXPECT_EQ(TakeError(), "Unexp integer char \"D\" in \"D\"");
  EXPECT_TRUE(d.findWindowCalls.empty());

  SimCmd("Notepad/Foo", 0);
  EXPECT_EQ(TakeError(), "Bad key name \"Foo\"");
  SimCmd("/TMO=100", 0);
  EXPECT_EQ(TakeError(), "Bad key name \"TMO=100\"");
  SimCmd("Notepad/A/D/99999", 0);
  EXPECT_EQ(TakeError(), "Integer value (99999) > 32767");

  // Nothing runs while an error is pending.
  d.calls.clear();
  SeMErrMult("earlier", nullptr);
  SimCmd("Notepad/A", 0);
  EXPECT_EQ(TakeError(), "earlier");
  EXPECT_TRUE(d.calls.empty());
}

TEST_F(SimCmdTest, TypedTextDrivesCapsLockAndShift) {
  HWND_T n = Window("Notepad");
  SimCmd("Notepad/'Hello World<eNTER>'ignored \t", 0);
  EXPECT_EQ(TakeError(), "");
  Lines want = Raised(n);
  for (int vk : {0x14, 0x48, 0x14, 0x45, 0x4C, 0x4C, 0x4F, 0x20, 0x14, 0x57, 0x14, 0x4F, 0x52, 0x4C,
                 0x44, 0x0D})
    Tap(want, vk);
  EXPECT_EQ(d.calls, want);
  EXPECT_EQ(d.GetKeyState(0x14), 0);

  // Shifted characters hold Shift around the key; the ud field has no say in text.
  d.calls.clear();
  SimCmd("Notepad/'a_1\t?/U", 0);
  EXPECT_EQ(TakeError(), "");
  want.clear();
  Tap(want, 0x41);
  want.push_back(Key(0x10, false));
  Tap(want, 0xBD);
  want.push_back(Key(0x10, true));
  Tap(want, 0x31);
  Tap(want, 0x09);
  want.push_back(Key(0x10, false));
  Tap(want, 0xBF);
  want.push_back(Key(0x10, true));
  EXPECT_EQ(d.calls, want);

  // What was typed before a bad character stays typed.
  d.calls.clear();
  SimCmd("Notepad/'a!b'", 0);
  EXPECT_EQ(TakeError(), "Bad key name \"'a!b'\"");
  want.clear();
  Tap(want, 0x41);
  EXPECT_EQ(d.calls, want);
}

TEST_F(SimCmdTest, CapsLockAtBothEndsOfTheAlphabet) {
  HWND_T n = Window("Notepad");
  // From CapsLock off: the first upper-case letter switches it on, the first lower-case off.
  SimCmd("Notepad/'aZAza'", 0);
  EXPECT_EQ(TakeError(), "");
  Lines want = Raised(n);
  for (int vk : {0x41, 0x14, 0x5A, 0x41, 0x14, 0x5A, 0x41})
    Tap(want, vk);
  EXPECT_EQ(d.calls, want);
  // From CapsLock on, mirrored.
  SimCmd("Notepad/CapsLock", 0);
  ASSERT_NE(d.GetKeyState(0x14), 0);
  d.calls.clear();
  SimCmd("Notepad/'ZazAZ'", 0);
  EXPECT_EQ(TakeError(), "");
  want.clear(); // already in front
  for (int vk : {0x5A, 0x14, 0x41, 0x5A, 0x14, 0x41, 0x5A})
    Tap(want, vk);
  EXPECT_EQ(d.calls, want);
}

TEST(KeyTable, EveryNameWithItsCode) {
  // The whole vocabulary in order, written out independently of the table.
  std::vector<std::pair<std::string, int>> want = {
      {"Mouse:L", 0x01},     {"Mouse:R", 0x02}, {"Mouse:M", 0x04}, {"Ctrl-Break", 0x03},
      {",", 0xBC},           {".", 0xBE},       {"/", 0xBF},       {"?", 0xBF},
      {";", 0xBA},           {":", 0xBA},       {"*", 0x38},       {"'", 0xDE},
      {"[", 0xDB},           {"]", 0xDD},       {"\\", 0xE2},      {"-", 0xBD},
      {"_", 0xBD},           {"=", 0xBB},       {"+", 0xBB},       {"Backspace", 0x08},
      {"Tab", 0x09},         {"Clear", 0x0C},   {"Enter", 0x0D},   {"Shift", 0x10},
      {"Ctrl", 0x11},        {"Alt", 0x12},     {"Pause", 0x13},   {"CapsLock", 0x14},
      {"Esc", 0x1B},         {"Space", 0x20},   {"PageUp", 0x21},  {"PageDown", 0x22},
      {"End", 0x23},         {"Home", 0x24},    {"Left", 0x25},    {"Up", 0x26},
      {"Right", 0x27},       {"Down", 0x28},    {"Select", 0x29},  {"Execute", 0x2B},
      {"PrintScreen", 0x2C}, {"Insert", 0x2D},  {"Delete", 0x2E},  {"Help", 0x2F}};
  for (int i = 0; i < 10; ++i)
    want.push_back({std::string(1, char('0' + i)), 0x30 + i});
  for (int i = 0; i < 26; ++i)
    want.push_back({std::string(1, char('A' + i)), 0x41 + i});
  want.insert(want.end(), {{"LeftWindows", 0x5B}, {"RightWindows", 0x5C}, {"Applications", 0x5D}});
  for (int i = 0; i < 10; ++i)
    want.push_back({"KP:" + std::to_string(i), 0x60 + i});
  want.insert(want.end(), {{"KP:*", 0x6A},
                           {"KP:+", 0x6B},
                           {"KP:Enter", 0x6C},
                           {"KP:-", 0x6D},
                           {"KP:.", 0x6E},
                           {"KP:/", 0x6F}});
  for (int i = 1; i <= 24; ++i)
    want.push_back({"F" + std::to_string(i), 0x6F + i});
  want.insert(want.end(), {{"Numlock", 0x90},
                           {"Scroll", 0x91},
                           {"Attention", 0xF6},
                           {"CrSel", 0xF7},
                           {"ExSel", 0xF8},
                           {"EraseEOF", 0xF9},
                           {"Play", 0xFA},
                           {"Zoom", 0xFB},
                           {"PA1", 0xFD}});
  ASSERT_EQ(want.size(), size_t(kKeyNameCount));
  for (int i = 0; i < kKeyNameCount; ++i) {
    EXPECT_EQ(key_names[i].name, want[i].first) << i;
    EXPECT_EQ(key_names[i].code, want[i].second) << want[i].first;
  }
}

TEST_F(SimCmdTest, WindowWaitOnTheClock) {
  SimCmd("Notepad/A", 0);
  EXPECT_EQ(TakeError(), "Window \"Notepad\" not found");
  EXPECT_EQ(d.findWindowCalls, Lines{"(null)|Notepad"});
  EXPECT_EQ(d.enumWindowsCalls, 1); // the second look, children included
  EXPECT_TRUE(clock.sleeps.empty());

  // A window that appears during the wait is used as soon as it is there.
  HWND_T n = 0;
  {
    FakeWindow w;
    w.title = "Slow Starter";
    n = d.AddLater(w, 200);
  }
  SimCmd("slow starter/B", 2000);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(clock.sleeps, std::vector<U4>(20, 10));
  Lines want = Raised(n);
  Tap(want, 0x42);
  EXPECT_EQ(d.calls, want);

  // The timeout counts from the start of the wait: more than 50 ms is too long.
  clock.sleeps.clear();
  {
    FakeWindow w;
    w.title = "Later";
    d.AddLater(w, 200);
  }
  SimCmd("Later", 50);
  EXPECT_EQ(TakeError(), "Window \"Later\" not found");
  EXPECT_EQ(clock.sleeps, std::vector<U4>(6, 10));
}
