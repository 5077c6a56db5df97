#include "console/kb.h"

#include "base/settings.h"
#include "console/keymap.h"
#include "console/keynames.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "runtime/interrupt.h"
#include "time/clock.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

bool kb_open = false;
U1 (*kb_program_exit)(U1 status) = nullptr;
bool kb_ctrl_c_ena = true, kb_ctrl_break_ena = true;
bool kb_abort_on_ctrl_c = true, kb_abort_on_break = true;
bool kb_abort_msg_ctrl_c = true, kb_abort_msg_break = true;
bool kb_single_key = true;
bool kb_output_on = true;

namespace {

std::deque<U2> key_queue;
std::vector<KBMapEntry> key_map;
bool kb_hit_busy = false;

void Show(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

// The orderly end: the error is reported, children end, the console mode comes back.
[[noreturn]] void EndProgram() {
  std::exit(kb_program_exit ? kb_program_exit(1) : 1);
}

void Paste() {
  std::string text;
  if (!PlatformClipboardText(&text)) return;
  for (char c : text) {
    if (c == '\r') continue;
    key_queue.push_back(c == '\n' ? U2{13} : U2(U1(c)));
  }
}

// One key press; true when it aborts.
bool TakeKey(U2 key) {
  switch (KeyActionOf(key)) {
  case kActAbort:
    key_queue.clear();
    if (!kb_abort_msg_ctrl_c) break;
    SeMErrMult("Process aborted by user", nullptr);
    return true;
  case kActDebug: {
    debug_level = U1(debug_level >= 5 ? 0 : debug_level + 1);
    char text[16];
    std::snprintf(text, sizeof text, "DE_BUG=%u", unsigned(debug_level));
    Show(text);
    return false;
  }
  case kActOutput:
    kb_output_on = !kb_output_on;
    Show(kb_output_on ? "Output on" : "Output off");
    return false;
  case kActPaste:
    Paste();
    return false;
  default:
    break;
  }
  key_queue.push_back(key);
  return false;
}

// One console event: queues what it produces; true when it aborts.
bool TakeEvent(const KbEvent& ev) {
  if (ev.kind == KbEvent::kKey) {
    if (!ev.down) return false;
    const U2 key = MapKeyEvent(key_map, ev.vk, ev.ch, ev.state);
    return key != 0 && key < kKeyValueCount && TakeKey(key);
  }
  if (ev.kind != KbEvent::kMouse) return false;
  if (ev.flags == kMouseWheeled) {
    key_queue.push_back(ev.wheel > 0 ? kKeyUp : kKeyDown);
  } else if (ev.flags == 0 && ev.buttons) {
    key_queue.push_back(ev.buttons & kMouseLeft ? kKeyPageUp : kKeyPageDown);
  }
  return false;
}

// A break key found by KBHit.
void TakeBreak(bool abort_on, bool abort_msg) {
  key_queue.clear();
  if (abort_msg) SeMErrMult("Process aborted by user", nullptr);
  if (abort_on) EndProgram();
  if (!ErrSet) key_queue.push_back(kKeyCtrlC);
}

bool ReadEvents() {
  const char* failed = "";
  U4 code = 0;
  for (;;) {
    if (ErrSet) return false;
    const U4 flags = TakeClaimedInterrupts(kInterruptCtrlC | kInterruptBreak);
    if (flags & kInterruptCtrlC) TakeBreak(kb_abort_on_ctrl_c, kb_abort_msg_ctrl_c);
    if (flags & kInterruptBreak) TakeBreak(kb_abort_on_break, kb_abort_msg_break);
    if (flags) return false;
    U4 count = 0;
    if (!PlatformKbEventCount(&count, &failed, &code)) {
      SeMLastErr(failed, nullptr, code);
      return false;
    }
    if (count == 0) return false;
    for (U4 i = 0; i < count; ++i) {
      KbEvent ev;
      if (!PlatformKbReadEvent(&ev, &failed, &code)) {
        SeMLastErr(failed, nullptr, code);
        return false;
      }
      if (TakeEvent(ev)) return true;
      if (kb_single_key && !key_queue.empty()) return false;
    }
  }
}

} // namespace

bool ReadKBMap() {
  if (ErrSet) return false;
  return ParseKBMap(kKBMapRows, kKBMapRowCount, &key_map);
}

void OpenKB(bool raw) {
  if (ErrSet || kb_open) return;
  log_indent = I2(log_indent + 4);
  CloseKB();
  key_queue.clear();
  ReadKBMap();
  const char* failed = "";
  U4 code = 0;
  if (!ErrSet && !PlatformKbOpen(raw, &failed, &code)) SeMLastErr(failed, nullptr, code);
  if (!ErrSet) {
    // The break keys now reach KBHit instead of ending the program at the next wait.
    ClaimInterrupts((kb_ctrl_c_ena ? kInterruptCtrlC : 0) |
                    (kb_ctrl_break_ena ? kInterruptBreak : 0));
    kb_open = true;
  }
  log_indent = I2(log_indent - 4);
}

void CloseKB() {
  if (!kb_open) return;
  log_indent = I2(log_indent + 4);
  ClaimInterrupts(0); // a break key not yet seen by KBHit now ends the program
  key_queue.clear();
  const char* failed = "";
  U4 code = 0;
  if (!PlatformKbClose(&failed, &code)) SeMLastErr(failed, nullptr, code);
  key_map.clear();
  kb_open = false;
  log_indent = I2(log_indent - 4);
}

bool KBHit(bool plain) {
  if (plain || !kb_open) return !daemon_pgm && PlatformStdinKind() != 0 && PlatformKbHitPlain();
  if (!key_queue.empty() && kb_single_key) return true;
  if (kb_hit_busy) {
    LogStMult("KBHit", ":AFT0 ERRRR", nullptr);
    PlatformConsoleGetch();
  }
  kb_hit_busy = true;
  const bool aborted = ReadEvents();
  kb_hit_busy = false;
  return aborted || !key_queue.empty();
}

U2 KBReadKey(bool wait, bool keep) {
  if (!kb_open) return 0;
  while (!KBHit(false)) {
    if (ErrSet || !wait) return 0;
    SleepMsecs(10);
  }
  if (ErrSet || key_queue.empty()) return 0;
  const U2 key = key_queue.front();
  if (!keep) key_queue.pop_front();
  return key;
}

int KBGetChar(bool wait) {
  switch (PlatformStdinKind()) {
  case 0:
    return wait ? 26 : 0;
  case 2: {
    const int c = PlatformStdinByte();
    return c < 0 ? 26 : c;
  }
  default:
    if (!wait && !PlatformKbHitPlain()) return 0;
    const int c = PlatformConsoleGetch();
    if (c == 3) {
      std::printf("Ctrl-C abort\n");
      std::fflush(stdout);
      EndProgram();
    }
    return c < 0 ? 26 : c;
  }
}
