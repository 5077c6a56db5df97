#include "platform/stackwalk.h"

#include "platform/symtab/symtab.h"

#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <link.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

U4 PlatformCaptureStack(U8* addresses, U4 max) {
  constexpr int kMax = 128;
  void* frames[kMax + 1];
  int want = static_cast<int>(max < kMax ? max : kMax) + 1;
  int n = backtrace(frames, want); // entry 0 is this function itself
  U4 stored = 0;
  for (int i = 1; i < n && stored < max; ++i)
    addresses[stored++] = reinterpret_cast<uintptr_t>(frames[i]);
  return stored;
}

bool PlatformStackBounds(U8* low, U8* high) {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  void* base = nullptr;
  size_t size = 0;
  bool ok = pthread_attr_getstack(&attr, &base, &size) == 0 && base;
  pthread_attr_destroy(&attr);
  if (!ok) return false;
  *low = reinterpret_cast<uintptr_t>(base);
  *high = *low + size;
  return true;
}

namespace {
// The full symbol table of a module file: the dynamic table that dladdr reads lacks the
// functions of anonymous namespaces and every static function.
struct ElfSymbol {
  U8 address;
  U8 size;
  std::string name;
};
struct ElfTable {
  std::string file;
  std::vector<ElfSymbol> symbols;
};
std::vector<ElfTable> tables;

template <typename T> bool ReadAt(std::FILE* f, U8 off, T* out, size_t count = 1) {
  return std::fseek(f, static_cast<long>(off), SEEK_SET) == 0 &&
         std::fread(out, sizeof(T), count, f) == count;
}

void LoadTable(ElfTable& table, U8 bias) {
  std::FILE* f = std::fopen(table.file.c_str(), "rb");
  if (!f) return;
  ElfW(Ehdr) eh;
  if (ReadAt(f, 0, &eh) && std::memcmp(eh.e_ident, ELFMAG, SELFMAG) == 0 &&
      eh.e_shentsize == sizeof(ElfW(Shdr)) && eh.e_shnum > 0 && eh.e_shnum < 4096) {
    std::vector<ElfW(Shdr)> sections(eh.e_shnum);
    if (ReadAt(f, eh.e_shoff, sections.data(), sections.size())) {
      for (const auto& sh : sections) {
        if (sh.sh_type != SHT_SYMTAB || sh.sh_link >= sections.size() ||
            sh.sh_entsize != sizeof(ElfW(Sym)))
          continue;
        const auto& strSh = sections[sh.sh_link];
        std::vector<ElfW(Sym)> syms(sh.sh_size / sizeof(ElfW(Sym)));
        std::vector<char> strings(strSh.sh_size + 1, '\0');
        if (syms.empty() || !ReadAt(f, sh.sh_offset, syms.data(), syms.size()) ||
            !ReadAt(f, strSh.sh_offset, strings.data(), strSh.sh_size))
          continue;
        for (const auto& sym : syms) {
          if (ELF32_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_value == 0 ||
              sym.st_name >= strSh.sh_size)
            continue;
          table.symbols.push_back({bias + sym.st_value, sym.st_size, &strings[sym.st_name]});
        }
      }
    }
  }
  std::fclose(f);
  std::sort(table.symbols.begin(), table.symbols.end(),
            [](const ElfSymbol& a, const ElfSymbol& b) { return a.address < b.address; });
}

const ElfSymbol* ElfLookup(U8 address, const Dl_info& info) {
  if (!info.dli_fname) return nullptr;
  // The main program's name from dladdr may be empty or relative; its file is /proc/self/exe.
  std::string file = info.dli_fname[0] == '/' ? info.dli_fname : "/proc/self/exe";
  ElfTable* table = nullptr;
  for (auto& t : tables)
    if (t.file == file) table = &t;
  if (!table) {
    tables.push_back({file, {}});
    table = &tables.back();
    // Position-independent modules are shifted by their load base; others are not.
    U8 base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    ElfW(Ehdr)* eh = static_cast<ElfW(Ehdr)*>(info.dli_fbase);
    LoadTable(*table, eh && eh->e_type == ET_DYN ? base : 0);
  }
  auto& syms = table->symbols;
  auto it = std::upper_bound(syms.begin(), syms.end(), address,
                             [](U8 a, const ElfSymbol& s) { return a < s.address; });
  if (it == syms.begin()) return nullptr;
  const ElfSymbol& sym = *(it - 1);
  return address < sym.address + (sym.size ? sym.size : 1) ? &sym : nullptr;
}

} // namespace

namespace {
// The table written into the program after linking, which stripping leaves in place.
bool EmbeddedLookup(U8 address, const Dl_info& info, char* name, U4 size, U8* offset) {
  Dl_info own{};
  if (!EmbeddedTableReady() || !dladdr(&embedded_symbol_table, &own) ||
      own.dli_fbase != info.dli_fbase)
    return false;
  unsigned long long off = 0;
  U8 rva = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
  if (rva >> 32 || !EmbeddedTableLookup(static_cast<unsigned>(rva), name, size, &off)) return false;
  if (offset) *offset = off;
  return true;
}
} // namespace

bool PlatformSymbolName(U8 address, char* name, U4 size, U8* offset) {
  if (!name || size == 0) return false;
  name[0] = '\0';
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info)) return false;
  if (EmbeddedLookup(address, info, name, size, offset)) return true;
  if (info.dli_sname && info.dli_saddr) {
    SymbolFunctionName(info.dli_sname, name, size);
    if (offset) *offset = address - reinterpret_cast<uintptr_t>(info.dli_saddr);
    return name[0] != '\0';
  }
  const ElfSymbol* sym = ElfLookup(address, info);
  if (!sym) return false;
  SymbolFunctionName(sym->name.c_str(), name, size);
  if (offset) *offset = address - sym->address;
  return name[0] != '\0';
}

U8 PlatformModuleBase(U8 address) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info)) return 0;
  return reinterpret_cast<uintptr_t>(info.dli_fbase);
}

bool PlatformIsCallReturn(U8 address) {
  Dl_info info{};
  if (address < 8 || !dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address - 7)), &info))
    return false;
  return CallPrecedes(reinterpret_cast<const U1*>(static_cast<uintptr_t>(address)));
}

// Frame pointers form a chain here.
U4 PlatformUnwindFrames(const void*, U8*, U8*, U4) {
  return 0;
}
