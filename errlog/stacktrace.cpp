#include "errlog/stacktrace.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "platform/inputrelease.h"
#include "platform/stackwalk.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The walk reads raw stack words, redzones of the address sanitizer included.
#if defined(__GNUC__)
#define TAP_RAW_STACK_READ __attribute__((no_sanitize("address")))
#else
#define TAP_RAW_STACK_READ
#endif

bool fault_handlers_installed = false;

namespace {

constexpr U4 kMaxFrames = 100;
constexpr U4 kCallersSize = 512;
char symbolBf[1024];
char callersBf[kCallersSize];
U8 moduleBase = 0;
bool crashing = false;

// Symbol names of the addresses seen lately: an error's callers group names the same
// frames again and again, and a lookup may read a symbol table.
struct SymbolCache {
  static constexpr U4 kSlots = 64;
  static constexpr U4 kNameSz = 256;
  struct Slot {
    U8 address = 0;
    U8 offset = 0;
    bool found = false;
    char name[kNameSz] = "";
  } slots[kSlots];

  bool Lookup(U8 address, char* name, U4 size, U8* offset) {
    Slot& s = slots[(address >> 2) % kSlots];
    if (s.address != address) {
      char full[512] = "";
      U8 off = 0;
      bool found = PlatformSymbolName(address, full, sizeof full, &off);
      size_t len = found ? std::strlen(full) : 0;
      // A name too long for a slot is looked up each time.
      if (len >= kNameSz) {
        std::snprintf(name, size, "%s", full);
        *offset = off;
        return found;
      }
      s.address = address;
      s.found = found;
      s.offset = off;
      std::memcpy(s.name, full, len);
      s.name[len] = '\0';
    }
    std::snprintf(name, size, "%s", s.name);
    *offset = s.offset;
    return s.found;
  }
};
SymbolCache symbolCache;

// The symbol text of a code address (the fault's own); "?" when unknown.
void CodeSymbol(U8 address, bool with_offset, char* out, U4 size) {
  char name[512];
  U8 offset = 0;
  if (address == 0 || !symbolCache.Lookup(address, name, sizeof name, &offset)) {
    std::snprintf(out, size, "?");
    return;
  }
  if (with_offset)
    std::snprintf(out, size, "%s/%llX", name, static_cast<unsigned long long>(offset));
  else
    std::snprintf(out, size, "%s", name);
}

// The symbol text of a return address: it points behind its call, which may be the
// last instruction of the function, so the call itself is looked up.
void ReturnSymbol(U8 address, bool with_offset, char* out, U4 size) {
  char name[512];
  U8 offset = 0;
  if (address <= 1 || !symbolCache.Lookup(address - 1, name, sizeof name, &offset)) {
    std::snprintf(out, size, "?");
    return;
  }
  if (with_offset)
    std::snprintf(out, size, "%s/%llX", name, static_cast<unsigned long long>(offset + 1));
  else
    std::snprintf(out, size, "%s", name);
}

bool IsMain(const char* symbol) {
  const char* m = "main/";
  for (; *m; ++m, ++symbol)
    if ((*symbol | 0x20) != *m) return false; // '/' | 0x20 is '/' itself
  return true;
}

// The system's code that calls main.
bool IsStartup(const char* symbol) {
  static const char* const kStartup[] = {
      "__libc_start_main", "__libc_start_call_main", "_start",
      "__tmainCRTStartup", "mainCRTStartup",         "BaseThreadInitThunk",
      "RtlUserThreadStart"};
  size_t n = std::strcspn(symbol, "/");
  for (const char* name : kStartup)
    if (std::strlen(name) == n && std::strncmp(symbol, name, n) == 0) return true;
  return false;
}

// The start-up code whose only callee is main (threads start elsewhere).
bool CallsMain(const char* symbol) {
  static const char* const kCallers[] = {"__libc_start_main", "__libc_start_call_main",
                                         "__tmainCRTStartup", "mainCRTStartup"};
  size_t n = std::strcspn(symbol, "/");
  for (const char* name : kCallers)
    if (std::strlen(name) == n && std::strncmp(symbol, name, n) == 0) return true;
  return false;
}

// Appends piece to the callers buffer; false once it is full.
bool AppendCaller(U4& len, const char* piece) {
  size_t n = std::strlen(piece);
  size_t room = len < kCallersSize - 1 ? kCallersSize - 1 - len : 0;
  bool fits = n <= room;
  if (!fits) n = room;
  // snprintf's bound is one the compiler can follow (memcpy drew a false overflow warning).
  if (n) std::snprintf(callersBf + len, kCallersSize - len, "%.*s", static_cast<int>(n), piece);
  len += static_cast<U4>(n);
  callersBf[len] = '\0';
  return fits;
}

// One step of the saved-frame chain from frame: the next frame and the return address.
// A frame is followed only while it lies inside this thread's stack, aligned and above the
// previous one, so that a damaged chain ends the walk instead of faulting. Where frame
// pointers form no chain the platform's unwinder finds the frames, and the same checks
// apply to them.
struct FrameWalk {
  U8 low = 0, high = 0;
  bool bounded = false;
  U8 unwound[kMaxFrames + 2];
  U8 rets[kMaxFrames + 2];
  U4 count = 0;
  // context: the fault's, null for the caller's own stack; own: the walk starts at the
  // frame of the function that made the walk.
  // Not inlined, so that an own walk's first frame is this constructor's.
  [[gnu::noinline]] explicit FrameWalk(const void* context = nullptr, bool own = false) {
    bounded = PlatformStackBounds(&low, &high);
    if (context || own) count = PlatformUnwindFrames(context, unwound, rets, kMaxFrames + 2);
    // The own walk begins at the frame of the function that made it.
    if (count && !context) {
      std::memmove(unwound, unwound + 1, (count - 1) * sizeof(U8));
      std::memmove(rets, rets + 1, (count - 1) * sizeof(U8));
      --count;
    }
  }
  bool Unwound() const { return count != 0; }
  // The first frame: the unwinder's, else the frame pointer given.
  U8 First(U8 frame) const { return count ? unwound[0] : frame; }
  bool Valid(U8 frame) const {
    constexpr U8 kWord = sizeof(uintptr_t);
    return frame != 0 && frame % kWord == 0 && bounded && frame >= low && frame + 2 * kWord <= high;
  }
  TAP_RAW_STACK_READ bool Step(U8 frame, U8* next, U8* ret) const {
    if (!Valid(frame)) return false;
    if (count) {
      for (U4 i = 0; i < count; ++i)
        if (unwound[i] == frame) {
          *next = i + 1 < count ? unwound[i + 1] : 0;
          *ret = rets[i];
          return true;
        }
      return false;
    }
    const uintptr_t* words = reinterpret_cast<const uintptr_t*>(static_cast<uintptr_t>(frame));
    *next = words[0];
    *ret = words[1];
    return true;
  }
};

char* Callers(U8 start, U2 skip) {
  U8 frames[kMaxFrames + 2];
  U4 n = PlatformCaptureStack(frames, kMaxFrames + 2);
  // Entry 0 is this function, entry 1 its caller.
  U4 first = 2;
  if (start != 0) {
    for (U4 i = 0; i < n; ++i)
      if (frames[i] == start) {
        first = i;
        break;
      }
  }
  U4 len = 0;
  callersBf[0] = '\0';
  U4 count = 0;
  for (U4 i = first; i < n && count < kMaxFrames; ++i, ++count) {
    char symbol[600];
    ReturnSymbol(frames[i], true, symbol, sizeof symbol);
    bool main = IsMain(symbol);
    if (IsStartup(symbol)) {
      // The system's start-up code below main: main itself was left by a tail call, and
      // the nameless frames just above belong to the start-up code too.
      while (len >= 2 && std::strcmp(callersBf + len - 2, "/?") == 0)
        callersBf[len -= 2] = '\0';
      if (CallsMain(symbol) && count >= skip) {
        if (len > 0) AppendCaller(len, "/");
        AppendCaller(len, "main");
      }
      break;
    }
    if (count >= skip) {
      if (char* slash = debug_level ? nullptr : std::strchr(symbol, '/')) *slash = '\0';
      if ((len > 0 && !AppendCaller(len, "/")) || !AppendCaller(len, symbol)) break;
    }
    if (main) break;
  }
  return callersBf;
}

// The return address that a faulting function without a frame of its own left on top of
// the stack; 0 when the frame chain already leads to it or there is none.
TAP_RAW_STACK_READ U8 LeafReturn(const FrameWalk& walk, U8 frame, U8 stack) {
  if (walk.Unwound() || !stack || !walk.Valid(stack)) return 0;
  U8 word = *reinterpret_cast<const uintptr_t*>(static_cast<uintptr_t>(stack));
  U8 next = 0, ret = 0;
  if (!PlatformIsCallReturn(word) || (walk.Step(frame, &next, &ret) && ret == word)) return 0;
  return word;
}

TAP_RAW_STACK_READ void AppendBytes(char* line, size_t size, const U1* from, U8 end) {
  for (const U1* p = from; reinterpret_cast<uintptr_t>(p) < end; ++p) {
    size_t len = std::strlen(line);
    std::snprintf(line + len, size - len, " %02x", *p);
  }
}

} // namespace

const char* MapSymbolAndOffset(U8 address, bool with_offset) {
  if (ErrSet) return "?";
  char name[512];
  U8 offset = 0;
  if (!PlatformSymbolName(address, name, sizeof name, &offset)) return "?";
  if (with_offset)
    std::snprintf(symbolBf, sizeof symbolBf, "%s/%llX", name,
                  static_cast<unsigned long long>(offset));
  else
    std::snprintf(symbolBf, sizeof symbolBf, "%s", name);
  return symbolBf;
}

[[gnu::noinline]] char* StackCallers_STC() {
  moduleBase = PlatformModuleBase(reinterpret_cast<uintptr_t>(&StackCallers_STC));
  // Found by its return address: how many frames a system's capture counts before the
  // caller differs between systems and builds.
  return Callers(reinterpret_cast<uintptr_t>(__builtin_return_address(0)), CallersSkip);
}

char* StackCallersFrom_STC(U8 return_address, U2 skip) {
  moduleBase = PlatformModuleBase(reinterpret_cast<uintptr_t>(&StackCallers_STC));
  return Callers(return_address, skip);
}

namespace {
// from: the first address listed when the stack holds it (a fault's address seen from its
// handler), else the caller of the listing function.
template <typename Line> void EachCaller(Line line, U8 from = 0) {
  U8 frames[kMaxFrames + 1];
  U4 n = PlatformCaptureStack(frames, kMaxFrames + 1);
  U4 first = 1;
  for (U4 i = 0; from && i < n; ++i)
    if (frames[i] == from) {
      first = i;
      break;
    }
  for (U4 i = first; i < n; ++i) {
    char symbol[600];
    ReturnSymbol(frames[i], true, symbol, sizeof symbol);
    line(frames[i], symbol);
    if (IsMain(symbol)) break;
  }
}
} // namespace

void LogStackFrom(U8 address) {
  moduleBase = PlatformModuleBase(reinterpret_cast<uintptr_t>(&LogStack));
  LogStMult("STACK FRAMES:", nullptr);
  EachCaller(
      [](U8 at, const char* symbol) {
        char line[700];
        std::snprintf(line, sizeof line, "Call:%llX %s", static_cast<unsigned long long>(at),
                      symbol);
        LogStMult(line, nullptr);
      },
      address);
}

void LogStack() {
  LogStackFrom(0);
}

void PrintStack() {
  std::printf("STACK FRAMES:\n");
  EachCaller([](U8 address, const char* symbol) {
    std::printf("Call:%llx %s\n", static_cast<unsigned long long>(address), symbol);
  });
  std::fflush(stdout);
}

void LogStackFrames(U8 address, U8 frame, U8 stack, const void* context) {
  if (frame == 0) return;
  FrameWalk walk(context);
  frame = walk.First(frame);
  char line[1024];
  char symbol[600];
  CodeSymbol(address, true, symbol, sizeof symbol);
  std::snprintf(line, sizeof line, "Fault Occurred at %llx: %s",
                static_cast<unsigned long long>(address), symbol);
  if (U8 leaf = LeafReturn(walk, frame, stack)) {
    LogStMult(line, nullptr);
    ReturnSymbol(leaf, true, symbol, sizeof symbol);
    std::snprintf(line, sizeof line, "Called from %llx: %s", static_cast<unsigned long long>(leaf),
                  symbol);
    LogStMult(line, nullptr);
  }
  for (U4 i = 0; i < kMaxFrames; ++i) {
    if (IsMain(symbol)) break;
    U8 next = 0, ret = 0;
    bool stepped = walk.Step(frame, &next, &ret);
    size_t len = std::strlen(line);
    std::snprintf(line + len, sizeof line - len, " with: ");
    if (stepped) {
      // The argument area lies behind the saved frame and the return address.
      const U1* args =
          reinterpret_cast<const U1*>(static_cast<uintptr_t>(frame)) + 2 * sizeof(uintptr_t);
      U8 end = frame + 2 * sizeof(uintptr_t) + 20;
      if (walk.Valid(next) && next > frame && next < end) end = next;
      if (end > walk.high) end = walk.high;
      AppendBytes(line, sizeof line, args, end);
    }
    LogStMult(line, nullptr);
    if (!stepped || ret == 0) break;
    ReturnSymbol(ret, true, symbol, sizeof symbol);
    std::snprintf(line, sizeof line, "Called from %llx: %s", static_cast<unsigned long long>(ret),
                  symbol);
    LogStMult(line, nullptr);
    // Only a frame further up the stack is followed.
    if (next <= frame) break;
    frame = next;
  }
}

void PrintStackFrames(U8 address, U8 frame, U8 stack, const void* context) {
  std::printf("%s:\n", "PrintStackFrames");
  bool own = frame == 0;
  FrameWalk walk(own ? nullptr : context, own);
  char symbol[600];
  if (own)
    frame = walk.First(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  else {
    frame = walk.First(frame);
    CodeSymbol(address, true, symbol, sizeof symbol);
    std::printf("\tFault Occurred at %llx: %s\n", static_cast<unsigned long long>(address), symbol);
    if (U8 leaf = LeafReturn(walk, frame, stack)) {
      ReturnSymbol(leaf, true, symbol, sizeof symbol);
      std::printf("\tCalled from %llx: %s\n", static_cast<unsigned long long>(leaf), symbol);
    }
  }
  for (U4 i = 0; i < kMaxFrames; ++i) {
    U8 next = 0, ret = 0;
    if (!walk.Step(frame, &next, &ret) || ret == 0) break;
    if (own && i == 1) std::printf("\t****Fault Occurred Here:****\n");
    ReturnSymbol(ret, true, symbol, sizeof symbol);
    std::printf("\tCalled from %llx: %s\n", static_cast<unsigned long long>(ret), symbol);
    if (next <= frame) break;
    frame = next;
  }
  std::fflush(stdout);
}

void CrashMe(const char* name, int mode) {
  if (crashing) std::abort();
  crashing = true;
  // Its own messages below may wait on a full pipe or a slow log: keys go up first.
  PlatformReleaseInputNow();
  FlushLogAlways();
  if (!daemon_pgm) {
    std::printf("CrashMe(%d) CALLED FROM %s\n", mode, name ? name : "?");
    std::fflush(stdout);
  }
  // The fault reaches the handlers that start-up installed; without them the system's
  // default handling of a fault would only start a debugger, so the program aborts.
  if (fault_handlers_installed) PlatformRaiseFault(mode);
  std::abort();
}
