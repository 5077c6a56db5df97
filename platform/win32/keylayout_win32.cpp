#include "platform/win32/keylayout_win32.h"
#include "errlog/errstack.h"
#include "platform/win32/inputrelease_win32.h"
#include "platform/win32/keyintake_win32.h"
#include "platform/win32/keystateshare_win32.h"

#include <windows.h>

namespace {
constexpr UINT kMapVkToVsc = 0;
constexpr UINT kKeepKeyboardState = 0x4; // ToUnicodeEx leaves dead keys alone

HKL Layout(void* layout) {
  return static_cast<HKL>(layout);
}

// Shift states of VkKeyScanEx.
constexpr unsigned int kShift = 1, kCtrl = 2, kAlt = 4;

// What vk types on layout with the modifiers and CapsLock as given; 0 for none or more
// than one character. A dead key leaves nothing behind for the next look-up.
U4 CharOfKey(HKL layout, U1 vk, unsigned int mods, bool capsLock) {
  BYTE state[256] = {};
  if (mods & kShift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
  if (mods & kCtrl) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
  if (mods & kAlt) state[VK_MENU] = state[VK_LMENU] = 0x80;
  if (capsLock) state[VK_CAPITAL] = 0x01;
  UINT scan = MapVirtualKeyExA(vk, kMapVkToVsc, layout);
  WCHAR text[8];
  int n = ToUnicodeEx(vk, scan, state, text, 8, kKeepKeyboardState, layout);
  if (n < 0) {
    BYTE none[256] = {};
    ToUnicodeEx(VK_SPACE, MapVirtualKeyExA(VK_SPACE, kMapVkToVsc, layout), none, text, 8,
                kKeepKeyboardState, layout);
    return 0;
  }
  return n == 1 ? text[0] : 0;
}

LayoutKey::Code KeyCode(HKL layout, U1 vk) {
  LayoutKey::Code code;
  code.vk = vk;
  code.scan = static_cast<U1>(MapVirtualKeyExA(vk, kMapVkToVsc, layout) & 0xFF);
  return code;
}
} // namespace

void Win32LayoutDesktop::BeginText(HWND_T window) {
  HWND target = window ? reinterpret_cast<HWND>(window) : ::GetForegroundWindow();
  inText_ = true;
  intakeSeen_ = true;
  queued_.clear();
  textTop_ = target ? ::GetAncestor(target, GA_ROOT) : nullptr;
  DWORD thread = target ? ::GetWindowThreadProcessId(target, nullptr) : 0;
  layout_ = ::GetKeyboardLayout(thread);
  // Our thread's key state stands still while the keys go to another thread; sharing the
  // target's input state makes GetKeyState tell the CapsLock and Shift of now.
  ShareKeyState(thread);
}

bool Win32LayoutDesktop::ShareKeyState(unsigned long thread) {
  DWORD self = ::GetCurrentThreadId();
  if (!thread || thread == self) return false;
  if (thread == joined_) return true;
  StopSharingKeyState();
  if (AttachInputKeepingKeys(thread)) joined_ = thread;
  return joined_ != 0;
}

void Win32LayoutDesktop::StopSharingKeyState() {
  if (joined_) DetachInputKeepingKeys(joined_);
  joined_ = 0;
}

bool Win32LayoutDesktop::EndText() {
  // What came after the last check: the keys that put CapsLock and Shift back.
  bool taken = SendQueued();
  inText_ = false;
  // The first failure of the run stays the one reported.
  if (!taken && !ErrSet) SeMErrMult("ActivateWindow", " failure", nullptr);
  return taken;
}

bool Win32LayoutDesktop::KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) {
  return CharOfKey(Layout(layout_), vk, shift ? kShift : 0, capsLock) == ch;
}

bool Win32LayoutDesktop::LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) {
  if (ch > 0xFFFF) return false;
  SHORT found = ::VkKeyScanExW(static_cast<WCHAR>(ch), Layout(layout_));
  if (found == -1) return false;
  auto vk = static_cast<U1>(found & 0xFF);
  unsigned int mods = (found >> 8) & 0xFF;
  if (mods & ~(kShift | kCtrl | kAlt)) return false; // Kana and such have no key of ours
  // CapsLock turns Shift around on the keys it acts on.
  if (CharOfKey(Layout(layout_), vk, mods, capsLock) != ch) mods ^= kShift;
  // Where the system's own translation disagrees (Ctrl and Alt for AltGr are not understood
  // everywhere), the character goes by itself.
  if (CharOfKey(Layout(layout_), vk, mods, capsLock) != ch) return false;
  *key = LayoutKey{};
  key->key = KeyCode(Layout(layout_), vk);
  if (mods & kShift) key->modifiers[key->modifierCount++] = KeyCode(Layout(layout_), VK_SHIFT);
  // Ctrl and Alt together stand for AltGr.
  if (mods & kCtrl) key->modifiers[key->modifierCount++] = KeyCode(Layout(layout_), VK_CONTROL);
  if (mods & kAlt) key->modifiers[key->modifierCount++] = KeyCode(Layout(layout_), VK_MENU);
  return true;
}

bool Win32LayoutDesktop::TextTargetFocused(HWND_T) {
  HWND top = static_cast<HWND>(textTop_);
  // The foreground window is the one the keys will meet; what waits is dropped when that
  // is not the text's window any more.
  if (top && (!::IsWindow(top) || ::GetForegroundWindow() != top)) {
    queued_.clear();
    return false;
  }
  return SendQueued();
}

void Win32LayoutDesktop::QueueKey(U2 vk, U2 scan, U4 flags, std::uintptr_t extraInfo) {
  queued_.push_back({vk, scan, flags, extraInfo});
}

bool Win32LayoutDesktop::SendQueued() {
  if (queued_.empty()) return true;
  std::vector<INPUT> inputs(queued_.size());
  for (std::size_t i = 0; i < queued_.size(); ++i) {
    INPUT& in = inputs[i];
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = queued_[i].vk;
    in.ki.wScan = queued_[i].scan;
    in.ki.dwFlags = queued_[i].flags;
    in.ki.dwExtraInfo = queued_[i].extraInfo;
  }
  bool taken = true;
  for (std::size_t begin = 0, end; taken && begin < inputs.size(); begin = end) {
    // Without a shared key state (our own thread's window) nothing can be awaited.
    bool await = joined_ && IntakeSeen();
    end = await ? KeyBatchEnd(inputs.data(), inputs.size(), begin) : inputs.size();
    KeyIntakeMark mark = KeyIntakeMarkOf(inputs.data(), begin, end);
    SendBatch(inputs.data(), begin, end);
    if (await) taken = AwaitIntake(mark, textTop_);
  }
  queued_.clear();
  return taken;
}

bool Win32LayoutDesktop::AwaitIntake(const KeyIntakeMark& mark, void* top) {
  KeyIntake intake = WaitKeyIntake(mark, static_cast<HWND>(top), kKeyIntakeWaitMsecs);
  // Under Wine the shared key state at times stops following the other thread; what
  // follows then goes as it would without the wait.
  if (intake == KeyIntake::kUnseen) intakeSeen_ = false;
  return intake == KeyIntake::kTaken || intake == KeyIntake::kUnseen;
}

void Win32LayoutDesktop::SendBatch(INPUT* inputs, std::size_t begin, std::size_t end) {
  // Presses are noted before they go and releases after, so a fault in between releases
  // what may be down. Unicode records carry no virtual key and go out in pairs.
  for (std::size_t i = begin; i < end; ++i)
    if (inputs[i].ki.wVk && !(inputs[i].ki.dwFlags & KEYEVENTF_KEYUP))
      Win32NoteKeyEvent(U1(inputs[i].ki.wVk), U1(inputs[i].ki.wScan), inputs[i].ki.dwFlags);
  // As with keybd_event, nothing reports what the system did with them.
  ::SendInput(static_cast<UINT>(end - begin), inputs + begin, sizeof(INPUT));
  for (std::size_t i = begin; i < end; ++i)
    if (inputs[i].ki.wVk && (inputs[i].ki.dwFlags & KEYEVENTF_KEYUP))
      Win32NoteKeyEvent(U1(inputs[i].ki.wVk), U1(inputs[i].ki.wScan), inputs[i].ki.dwFlags);
}

bool Win32LayoutDesktop::TypeUnicodeChar(U4 ch) {
  if (ch > 0xFFFF) return false;
  if (inText_) {
    QueueKey(0, static_cast<U2>(ch), KEYEVENTF_UNICODE, 0);
    QueueKey(0, static_cast<U2>(ch), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, 0);
    return true;
  }
  INPUT inputs[2] = {};
  for (INPUT& in : inputs) {
    in.type = INPUT_KEYBOARD;
    in.ki.wScan = static_cast<WORD>(ch);
    in.ki.dwFlags = KEYEVENTF_UNICODE;
  }
  inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  return ::SendInput(2, inputs, sizeof(INPUT)) == 2;
}
