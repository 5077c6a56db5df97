#include "console/keymap.h"
#include "console/keynames.h"
#include "errlog/errstack.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "runtime/interrupt.h"
#include "time/clock.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<KBMapEntry> BuiltInMap() {
  std::vector<KBMapEntry> map;
  EXPECT_TRUE(ParseKBMap(kKBMapRows, kKBMapRowCount, &map));
  return map;
}

// The names of the keys that terminal bytes produce through the built-in map.
std::string Keys(const std::string& bytes, bool final = true) {
  static const std::vector<KBMapEntry> map = BuiltInMap();
  std::vector<KbEvent> events;
  DecodeTerminalInput(bytes.data(), bytes.size(), final, &events);
  std::string names;
  for (const KbEvent& e : events) {
    if (e.kind == KbEvent::kMouse) {
      names += e.flags == kMouseWheeled ? (e.wheel > 0 ? "[wheel+]" : "[wheel-]")
               : e.buttons              ? "[press]"
                                        : "[other]";
      continue;
    }
    names += KeyName(MapKeyEvent(map, e.vk, e.ch, e.state));
  }
  return names;
}

} // namespace

TEST(KeyNames, TableAndLookup) {
  EXPECT_STREQ(KeyName(0), "<Ctrl-@>");
  EXPECT_STREQ(KeyName(8), "<BS>");
  EXPECT_STREQ(KeyName(27), "<Esc>");
  EXPECT_STREQ(KeyName(32), "<Space>");
  EXPECT_STREQ(KeyName('~'), "~");
  EXPECT_STREQ(KeyName(256), "<F1>");
  EXPECT_STREQ(KeyName(kKeyPageUp), "<PageUp>");
  EXPECT_STREQ(KeyName(kKeyPageDown), "<PageDown>");
  EXPECT_STREQ(KeyName(kKeyUp), "<Up>");
  EXPECT_STREQ(KeyName(kKeyDown), "<Down>");
  EXPECT_STREQ(KeyName(314), "<ALT-Right>");
  EXPECT_STREQ(KeyName(315), "");
  EXPECT_STREQ(KeyName(0xFFFF), "");
  // Every name leads back to its own value.
  for (U2 k = 0; k < kKeyValueCount; ++k)
    EXPECT_EQ(KeyValueOfName(KeyName(k)), k) << k;
  EXPECT_EQ(KeyValueOfName("<ctrl-f1>"), 287);
  EXPECT_EQ(KeyValueOfName("a"), 'a'); // one character is never folded
  EXPECT_EQ(KeyValueOfName("<ALT-B>"), kKeyNone);
  EXPECT_EQ(KeyValueOfName(""), kKeyNone);
}

TEST(KeyMap, RowsAndModifiers) {
  EXPECT_EQ(kKBMapRowCount, 158u);
  const auto map = BuiltInMap();
  EXPECT_EQ(map.back().vk, kKBMapEnd);
  // Rows naming unknown keys (most Alt-digit and Alt-letter ones) are left out.
  EXPECT_LT(map.size(), 158u);
  auto key = [&](U2 vk, U1 ch, U4 state) {
    return std::string(KeyName(MapKeyEvent(map, vk, ch, state)));
  };
  EXPECT_EQ(key(112, 0, kKsLeftAlt), "<Ctrl-F1>");
  EXPECT_EQ(key(112, 0, kKsRightCtrl), "<Ctrl-F1>");
  EXPECT_EQ(key(112, 0, 0), "<F1>");
  EXPECT_EQ(key(38, 0, kKsEnhanced | kKsShift), "<Shft-Up>");
  EXPECT_EQ(key(38, 0, kKsEnhanced), "<Up>");
  EXPECT_EQ(key(38, '8', 0), "<Up>");       // pad 8, NumLock off
  EXPECT_EQ(key(38, '8', kKsNumLock), "8"); // NumLock on: the digit stays
  EXPECT_EQ(key(110, '.', kKsNumLock), "<KP:Del>");
  EXPECT_EQ(key(192, '`', 0), "`");
  EXPECT_EQ(key(192, '~', kKsShift), "~");
  EXPECT_EQ(key(65, 'a', kKsLeftAlt), "<ALT-A>");
  EXPECT_EQ(key(66, 'b', kKsLeftAlt), "b"); // no such key name: the character stays
  EXPECT_EQ(key(9, 9, kKsShift), "<Shft-Tab>");

  // Comments, short rows and unknown names are skipped; a bad code is an error.
  const char* rows[] = {"<F1>            112     KMB_CTL ; Ctrl first", "<F2>            113",
                        "<Nope>          114     KMB_CTL", ";               186     KMB_NOSHIFT"};
  std::vector<KBMapEntry> m;
  ASSERT_TRUE(ParseKBMap(rows, 4, &m));
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].vk, 112);
  EXPECT_EQ(m[0].mask, KMB_CTL);
  EXPECT_EQ(m[1].key, ';');
  const char* bad[] = {"<F1>            x12     KMB_CTL"};
  EXPECT_FALSE(ParseKBMap(bad, 1, &m));
  EXPECT_TRUE(ErrSet);
  ClearErr();
}

TEST(TerminalInput, EscapeSequences) {
  EXPECT_EQ(Keys("aZ5~\t\r\x7f"), "aZ5~<TAB><Enter><BS>");
  EXPECT_EQ(Keys("\x01\x0b"), "<Ctrl-A><Ctrl-K>");
  EXPECT_EQ(Keys("\x1b[A\x1b[B\x1b[C\x1b[D\x1bOH\x1b[F"), "<Up><Down><Right><Left><Home><End>");
  EXPECT_EQ(Keys("\x1b[2~\x1b[3~\x1b[5~\x1b[6~"), "<Insert><Delete><PageUp><PageDown>");
  EXPECT_EQ(Keys("\x1bOP\x1b[15~\x1b[24~\x1b[[A"), "<F1><F5><F12><F1>");
  EXPECT_EQ(Keys("\x1b[1;2A\x1b[1;5D\x1b[5;5~\x1b[1;5P\x1b[1;3B"),
            "<Shft-Up><Ctrl-Left><Ctrl-PageUp><Ctrl-F1><ALT-Down>");
  EXPECT_EQ(Keys("\x1b[1;3P\x1b[Z\x1b"
                 "a\x1b\x1b[A"),
            "<Ctrl-F1><Shft-Tab><ALT-A><ALT-Up>");
  // Mouse reports: presses, wheel turns, a release and a move.
  EXPECT_EQ(Keys("\x1b[<0;3;4M\x1b[<0;3;4m\x1b[<64;1;1M\x1b[<65;1;1M\x1b[<35;2;2M"),
            "[press][other][wheel+][wheel-][other]");
  // Unknown sequences vanish whole; a lone Esc is the key once no more bytes come.
  EXPECT_EQ(Keys("\x1b[99~x\x1b[?5zy"), "xy");
  EXPECT_EQ(Keys("\x1b"), "<Esc>");
  std::vector<KbEvent> events;
  EXPECT_EQ(DecodeTerminalInput("a\x1b[1;", 5, false, &events), 1u);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(Keys("\x1b[1;", true), "<Esc>[1;");
}

TEST(Interrupt, RaisedOnceUnlessClaimed) {
  auto message = [] {
    char msg[256];
    ErrMessage(false, false, msg, sizeof msg);
    return std::string(msg);
  };
  ResetInterruptForTest();
  PlatformRecordInterrupt(kInterruptEnd);
  EXPECT_TRUE(InterruptRequested());
  SleepMsecs(600000); // ends at once, with the error
  ASSERT_TRUE(ErrSet);
  EXPECT_EQ(message(), "Process aborted");
  PlatformRecordInterrupt(kInterruptCtrlC); // the program is already on its way out
  EXPECT_FALSE(CheckInterrupt());
  EXPECT_FALSE(InterruptRequested());

  // A claimed break key waits for its claimer; given back, it ends the program.
  ResetInterruptForTest();
  ClaimInterrupts(kInterruptCtrlC);
  PlatformRecordInterrupt(kInterruptCtrlC);
  EXPECT_FALSE(CheckInterrupt());
  EXPECT_EQ(TakeClaimedInterrupts(kInterruptAll), kInterruptCtrlC);
  EXPECT_EQ(TakeClaimedInterrupts(kInterruptAll), 0u);
  PlatformRecordInterrupt(kInterruptCtrlC | kInterruptBreak);
  ClaimInterrupts(0);
  EXPECT_TRUE(CheckInterrupt());
  EXPECT_EQ(message(), "Process aborted");
  ResetInterruptForTest();
}
