#include "platform/stackwalk.h"

#include "platform/symtab/symtab.h"

#include <windows.h>
// dbghelp.h needs the types of windows.h.
#include <dbghelp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
struct StackRange {
  U8 low, high;
  bool Holds(U8 sp) const { return sp >= low && sp + 8 <= high; }
};

// The committed memory around address: the stack a walk starts on when it is not the
// thread's own.
StackRange RegionOf(U8 address) {
  MEMORY_BASIC_INFORMATION info{};
  if (!VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                    sizeof info) ||
      info.State != MEM_COMMIT)
    return {0, 0};
  U8 base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  return {base, base + info.RegionSize};
}

#if !defined(_WIN64)
// The saved-frame chain from frame, for a walk that starts off the thread's stack, where the
// system's walk stops: on the fault handler's reserve stack, or on the stack Wine gives the
// handler of a signal. It may cross once to the thread's stack.
U4 WalkFromOtherStack(U8 frame, const StackRange& thread, U8* addresses, U4 max) {
  const StackRange start = RegionOf(frame);
  bool onStart = true;
  U4 n = 0;
  while (n < max && frame % 4 == 0 && (onStart ? start : thread).Holds(frame)) {
    const std::uintptr_t* words = reinterpret_cast<const std::uintptr_t*>(frame);
    U8 next = words[0], ret = words[1];
    if (ret == 0 || !PlatformIsCallReturn(ret)) break;
    addresses[n++] = ret;
    if (onStart && !start.Holds(next))
      onStart = false;
    else if (next <= frame)
      break;
    frame = next;
  }
  return n;
}
#endif
} // namespace

[[gnu::noinline]] U4 PlatformCaptureStack(U8* addresses, U4 max) {
  constexpr U4 kMax = 128;
  if (max > kMax) max = kMax;
  StackRange thread{};
  if (!PlatformStackBounds(&thread.low, &thread.high)) thread = {0, 0};
  U8 frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  // The system's walk ends at once off the thread's stack. This function's own return
  // address comes first, as from the system's walk below.
#if defined(_WIN64)
  U8 spots[kMax];
  if (!thread.Holds(frame)) return PlatformUnwindFrames(nullptr, spots, addresses, max);
#else
  if (!thread.Holds(frame)) return WalkFromOtherStack(frame, thread, addresses, max);
#endif
  void* frames[kMax];
  // Skip this function itself.
  USHORT n = RtlCaptureStackBackTrace(1, max, frames, nullptr);
  for (USHORT i = 0; i < n; ++i)
    addresses[i] = reinterpret_cast<uintptr_t>(frames[i]);
  return n;
}

#if defined(_WIN64)
namespace {
// One frame outward through the unwind tables; false when the stack leaves the stack the
// walk started on and the thread's, or goes no further out. A walk that starts off the
// thread's stack (see WalkFromOtherStack) may cross once to it.
bool UnwindStep(CONTEXT* ctx, const StackRange& start, const StackRange& thread) {
  DWORD64 sp = ctx->Rsp;
  const bool onStart = start.Holds(sp);
  const StackRange& here = onStart ? start : thread;
  if (!here.Holds(sp) || sp % 8 != 0) return false;
  DWORD64 imageBase = 0;
  PRUNTIME_FUNCTION fn = RtlLookupFunctionEntry(ctx->Rip, &imageBase, nullptr);
  if (fn) {
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, ctx->Rip, fn, ctx, &handlerData, &establisher,
                     nullptr);
  } else {
    // A leaf function keeps no frame: its return address is on top of the stack.
    ctx->Rip = *reinterpret_cast<const DWORD64*>(sp);
    ctx->Rsp = sp + 8;
    // Code of no unwind data on a stack of unknown frames: only a real return goes on.
    if (!PlatformIsCallReturn(ctx->Rip)) return false;
  }
  if (ctx->Rip == 0) return false;
  if (onStart && !start.Holds(ctx->Rsp)) return thread.Holds(ctx->Rsp);
  return ctx->Rsp > sp && ctx->Rsp <= here.high;
}
} // namespace

[[gnu::noinline]] U4 PlatformUnwindFrames(const void* context, U8* frames, U8* rets, U4 max) {
  StackRange thread{};
  if (!PlatformStackBounds(&thread.low, &thread.high)) return 0;
  CONTEXT ctx;
  if (context)
    ctx = *static_cast<const CONTEXT*>(context);
  else
    RtlCaptureContext(&ctx);
  const StackRange start = thread.Holds(ctx.Rsp) ? thread : RegionOf(ctx.Rsp);
  if (!context && !UnwindStep(&ctx, start, thread)) return 0; // this function's own frame
  U4 n = 0;
  while (n < max && UnwindStep(&ctx, start, thread)) {
    // After the step the stack pointer lies just above the slot of the return address.
    frames[n] = ctx.Rsp - 16;
    rets[n] = ctx.Rip;
    ++n;
  }
  return n;
}
#else
// The saved-frame chain of the 32-bit calling convention is walked instead.
U4 PlatformUnwindFrames(const void*, U8*, U8*, U4) {
  return 0;
}
#endif

// GCC 12 takes the inlined segment read of NtCurrentTeb for an out-of-bounds access.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
bool PlatformStackBounds(U8* low, U8* high) {
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  if (!tib || !tib->StackLimit || !tib->StackBase) return false;
  *low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  *high = reinterpret_cast<uintptr_t>(tib->StackBase);
  return *low < *high;
}
#pragma GCC diagnostic pop

namespace {
// 255: not yet tried; then 0 failed, 1 ready.
U1 symbolState = 255;

bool SymbolsReady() {
  if (symbolState == 255) {
    HANDLE process = GetCurrentProcess();
    symbolState = SymInitialize(process, nullptr, TRUE) ? 1 : 0;
    if (symbolState) SymSetOptions(SYMOPT_DEFERRED_LOADS | SYMOPT_INCLUDE_32BIT_MODULES);
  }
  return symbolState == 1;
}

} // namespace

namespace {
// The COFF symbol table that MinGW leaves in the image: the symbol service of a system
// without the program's debug format finds no names, this table has them all.
struct CoffSymbol {
  U8 address;
  std::string name;
};
std::vector<CoffSymbol> coffSymbols;
U8 coffModule = 0;
bool coffLoaded = false;

template <typename T> T At(const std::vector<char>& bf, size_t off) {
  T v{};
  if (off + sizeof(T) <= bf.size()) std::memcpy(&v, bf.data() + off, sizeof(T));
  return v;
}

void LoadCoffSymbols() {
  coffLoaded = true;
  HMODULE module = GetModuleHandleA(nullptr);
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return;
  std::vector<char> image;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    image.insert(image.end(), chunk, chunk + got);
  std::fclose(f);
  U4 pe = At<U4>(image, 0x3C);
  if (At<U4>(image, pe) != 0x00004550u) return; // "PE\0\0"
  size_t fh = pe + 4;
  U2 machine = At<U2>(image, fh);
  U2 sections = At<U2>(image, fh + 2);
  U4 symbols = At<U4>(image, fh + 8);
  U4 count = At<U4>(image, fh + 12);
  U2 optional = At<U2>(image, fh + 16);
  if (symbols == 0 || count == 0) return;
  size_t sh = fh + 20 + optional;
  std::vector<U4> sectionRva(sections);
  for (U2 i = 0; i < sections; ++i)
    sectionRva[i] = At<U4>(image, sh + i * 40u + 12);
  size_t strings = symbols + size_t{count} * 18;
  bool underscore = machine == 0x14c; // 32-bit x86 decorates C names with "_"
  coffModule = reinterpret_cast<uintptr_t>(module);
  for (U4 i = 0; i < count; ++i) {
    size_t e = symbols + size_t{i} * 18;
    if (e + 18 > image.size()) break;
    I2 section = At<I2>(image, e + 12);
    U2 type = At<U2>(image, e + 14);
    U1 aux = At<U1>(image, e + 17);
    if (section > 0 && section <= sections && (type & 0xF0) == 0x20) {
      std::string name;
      if (At<U4>(image, e) == 0) {
        size_t off = strings + At<U4>(image, e + 4);
        for (; off < image.size() && image[off]; ++off)
          name += image[off];
      } else {
        for (size_t k = 0; k < 8 && image[e + k]; ++k)
          name += image[e + k];
      }
      if (underscore && !name.empty() && name[0] == '_') name.erase(0, 1);
      U8 address = coffModule + sectionRva[section - 1] + At<U4>(image, e + 8);
      if (!name.empty()) coffSymbols.push_back({address, std::move(name)});
    }
    i += aux;
  }
  std::sort(coffSymbols.begin(), coffSymbols.end(),
            [](const CoffSymbol& a, const CoffSymbol& b) { return a.address < b.address; });
}

const CoffSymbol* CoffLookup(U8 address) {
  if (!coffLoaded) LoadCoffSymbols();
  if (coffSymbols.empty() || address < coffSymbols.front().address) return nullptr;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                   sizeof info) == 0 ||
      reinterpret_cast<uintptr_t>(info.AllocationBase) != coffModule)
    return nullptr;
  auto it = std::upper_bound(coffSymbols.begin(), coffSymbols.end(), address,
                             [](U8 a, const CoffSymbol& s) { return a < s.address; });
  return &*(it - 1);
}

} // namespace

namespace {
// The table written into the executable after linking: found without reading any file.
bool EmbeddedLookup(U8 address, char* name, U4 size, U8* offset) {
  if (!EmbeddedTableReady()) return false;
  auto base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (address < base || address - base >= nt->OptionalHeader.SizeOfImage) return false;
  unsigned long long off = 0;
  if (!EmbeddedTableLookup(static_cast<U4>(address - base), name, size, &off)) return false;
  if (offset) *offset = off;
  return true;
}

// A system module's nearest exported name below the address, read from its image in memory.
bool ExportLookup(U8 address, char* name, U4 size, U8* offset) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                   sizeof info) == 0 ||
      !info.AllocationBase || info.Type != MEM_IMAGE)
    return false;
  auto base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (nt->Signature != IMAGE_NT_SIGNATURE || dir.VirtualAddress == 0) return false;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  U8 rva = address - base;
  DWORD best = 0;
  const char* bestName = nullptr;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (ordinals[i] >= exports->NumberOfFunctions) continue;
    DWORD f = functions[ordinals[i]];
    if (f <= rva && f >= best) {
      best = f;
      bestName = reinterpret_cast<const char*>(base + names[i]);
    }
  }
  if (!bestName) return false;
  std::snprintf(name, size, "%s", bestName);
  if (offset) *offset = rva - best;
  return true;
}

bool DebugServiceLookup(U8 address, char* name, U4 size, U8* offset) {
  if (!SymbolsReady()) return false;
  constexpr U4 kMaxName = 259;
  alignas(SYMBOL_INFO) char record[sizeof(SYMBOL_INFO) + kMaxName];
  SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(record);
  std::memset(record, 0, sizeof record);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = kMaxName;
  DWORD64 displacement = 0;
  // 32-bit addresses are handed over sign-extended, as the symbol service expects.
  DWORD64 key = static_cast<DWORD64>(static_cast<intptr_t>(static_cast<uintptr_t>(address)));
  if (!SymFromAddr(GetCurrentProcess(), key, &displacement, symbol)) return false;
  const char* raw = symbol->Name;
  if (raw[0] == '_' && raw[1] == '_' && raw[2] == 'Z') ++raw;
  SymbolFunctionName(raw, name, size);
  if (offset) *offset = displacement;
  return name[0] != '\0';
}
} // namespace

// Cheapest first: the debug-symbol service loads every module's debug information on its
// first use, which costs the best part of a second under Wine.
bool PlatformSymbolName(U8 address, char* name, U4 size, U8* offset) {
  if (!name || size == 0) return false;
  name[0] = '\0';
  if (EmbeddedLookup(address, name, size, offset)) return true;
  if (!EmbeddedTableReady()) {
    if (const CoffSymbol* coff = CoffLookup(address)) {
      SymbolFunctionName(coff->name.c_str(), name, size);
      if (offset) *offset = address - coff->address;
      if (name[0]) return true;
    }
  }
  if (ExportLookup(address, name, size, offset)) return true;
  return DebugServiceLookup(address, name, size, offset);
}

U8 PlatformModuleBase(U8 address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                   sizeof info) == 0)
    return address & 0x00FF0000u;
  return reinterpret_cast<uintptr_t>(info.AllocationBase);
}

bool PlatformIsCallReturn(U8 address) {
  MEMORY_BASIC_INFORMATION info{};
  const auto* at = reinterpret_cast<const U1*>(static_cast<uintptr_t>(address));
  if (address < 8 || VirtualQuery(at - 7, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
      !(info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE)))
    return false;
  return CallPrecedes(at);
}
