#include "platform/stackwalk.h"

#include <windows.h>
// dbghelp.h needs the types of windows.h.
#include <dbghelp.h>

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

U4 PlatformCaptureStack(U8* addresses, U4 max) {
  constexpr U4 kMax = 128;
  void* frames[kMax];
  // Skip this function itself.
  USHORT n = RtlCaptureStackBackTrace(1, max < kMax ? max : kMax, frames, nullptr);
  for (USHORT i = 0; i < n; ++i)
    addresses[i] = reinterpret_cast<uintptr_t>(frames[i]);
  return n;
}

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

// "ns::Fn(int) const" -> "ns::Fn"; the anonymous namespace is dropped.
void FunctionPart(const char* full, char* name, U4 size) {
  static const char kAnon[] = "(anonymous namespace)::";
  const char* p = full;
  while (std::strncmp(p, kAnon, sizeof kAnon - 1) == 0)
    p += sizeof kAnon - 1;
  size_t len = std::strcspn(p, "(");
  if (len == 0) len = std::strlen(p);
  if (len >= size) len = size - 1;
  std::memcpy(name, p, len);
  name[len] = '\0';
}
} // namespace

bool PlatformSymbolName(U8 address, char* name, U4 size, U8* offset) {
  if (!name || size == 0) return false;
  name[0] = '\0';
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
  if (raw[0] == '_' && raw[1] == '_' && raw[2] == 'Z') ++raw; // 32-bit leading underscore
  int status = -1;
  char* demangled = raw[0] == '_' && raw[1] == 'Z'
                        ? abi::__cxa_demangle(raw, nullptr, nullptr, &status)
                        : nullptr;
  FunctionPart(status == 0 && demangled ? demangled : raw, name, size);
  std::free(demangled);
  if (offset) *offset = displacement;
  return name[0] != '\0';
}

U8 PlatformModuleBase(U8 address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                   sizeof info) == 0)
    return address & 0x00FF0000u;
  return reinterpret_cast<uintptr_t>(info.AllocationBase);
}

void PlatformRaiseFault(int mode) {
  if (mode == 0)
    RaiseException(EXCEPTION_INT_DIVIDE_BY_ZERO, 0, 0, nullptr);
  else
    std::abort();
}
