#include "platform/stackwalk.h"

#include <cxxabi.h>

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
