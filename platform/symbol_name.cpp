#include "platform/stackwalk.h"

#include "platform/symtab/symtab.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
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

void SymbolFunctionName(const char* raw, char* name, U4 size) {
  if (size == 0) return;
  int status = -1;
  // Only mangled names go to the demangler: a plain C name such as "main" stays as it is.
  char* demangled = raw[0] == '_' && raw[1] == 'Z'
                        ? abi::__cxa_demangle(raw, nullptr, nullptr, &status)
                        : nullptr;
  FunctionPart(status == 0 && demangled ? demangled : raw, name, size);
  std::free(demangled);
}

bool CallPrecedes(const U1* at) {
#if defined(__i386__) || defined(__x86_64__)
  auto reg = [](U1 modrm) { return (modrm >> 3 & 7) == 2; }; // the call form of opcode FF
  if (at[-5] == 0xE8) return true;                           // call rel32
  if (at[-6] == 0xFF && reg(at[-5]) && (at[-5] & 0xC7) == 0x05) return true; // [disp32]
  if (at[-6] == 0xFF && reg(at[-5]) && (at[-5] >> 6) == 2) return true;      // [reg+disp32]
  if (at[-3] == 0xFF && reg(at[-2]) && (at[-2] >> 6) == 1) return true;      // [reg+disp8]
  if (at[-2] == 0xFF && reg(at[-1]) && ((at[-1] >> 6) == 3 || (at[-1] >> 6) == 0))
    return true; // reg or [reg]
  return false;
#else
  (void)at;
  return false;
#endif
}

const char* embedded_symbol_table = nullptr;

bool EmbeddedTableReady() {
  return embedded_symbol_table && std::memcmp(embedded_symbol_table, "TAPSYMT1", 8) == 0;
}

// "TAPSYMT1", u32 count, u32 names size, count * (u32 rva, u32 name offset), names.
bool EmbeddedTableLookup(unsigned rva, char* name, unsigned size, unsigned long long* offset) {
  if (!EmbeddedTableReady() || size == 0) return false;
  const char* table = embedded_symbol_table;
  U4 count = 0;
  std::memcpy(&count, table + 8, 4);
  const char* entries = table + 16;
  const char* names = entries + size_t{count} * 8;
  auto rvaAt = [&](U4 i) {
    U4 v;
    std::memcpy(&v, entries + size_t{i} * 8, 4);
    return v;
  };
  // The last entry at or below rva.
  U4 lo = 0, hi = count;
  while (lo < hi) {
    U4 mid = lo + (hi - lo) / 2;
    if (rvaAt(mid) <= rva)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == 0) return false;
  U4 nameOffset;
  std::memcpy(&nameOffset, entries + size_t{lo - 1} * 8 + 4, 4);
  std::snprintf(name, size, "%s", names + nameOffset);
  *offset = rva - rvaAt(lo - 1);
  return name[0] != '\0';
}
