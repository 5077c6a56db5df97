#include "platform/stackwalk.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
// "ns::Fn(int) const" -> "ns::Fn"; the anonymous namespace is dropped.
void FunctionPart(const char* full, char* name, U4 size) {
  static const char kAnon[] = "(anonymous namespace)::";
  const char* p = full;
  while (const char* anon = std::strstr(p, kAnon)) {
    if (anon != p) break;
    p += sizeof kAnon - 1;
  }
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
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info) || !info.dli_sname ||
      !info.dli_saddr)
    return false;
  int status = -1;
  char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
  FunctionPart(status == 0 && demangled ? demangled : info.dli_sname, name, size);
  std::free(demangled);
  if (offset) *offset = address - reinterpret_cast<uintptr_t>(info.dli_saddr);
  return name[0] != '\0';
}

U8 PlatformModuleBase(U8 address) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info)) return 0;
  return reinterpret_cast<uintptr_t>(info.dli_fbase);
}

void PlatformRaiseFault(int mode) {
  if (mode == 0)
    std::raise(SIGFPE);
  else
    std::abort();
}
