// Name texts of execution flags, creation flags and wait results for log lines.
#include "proc/exec.h"

#include <cstdio>
#include <string>

namespace {

struct BitName {
  U4 bit;
  const char* name;
};

template <size_t N> char* JoinNames(const BitName (&names)[N], U4 flags, char* bf, U4 size) {
  if (!bf || size == 0) return bf;
  std::string s;
  for (const auto& n : names) {
    if (!(flags & n.bit)) continue;
    if (!s.empty()) s += "/";
    s += n.name;
  }
  std::snprintf(bf, size, "%s", s.c_str());
  return bf;
}

} // namespace

char* ExecFlagsText_MyBf(U2 flags, char* bf, U4 size) {
  static const BitName kWords[] = {
      {kExecLog, "Log"},   {kExecPrint, "Print"}, {kExecLow, "Low"},
      {kExecNew, "New"},   {kExecMin, "Min"},     {kExecHide, "Hide"},
      {kExecWait, "Wait"}, {kExecChild, "Child"}, {kExecDirect, "Direct"}};
  return JoinNames(kWords, flags, bf, size);
}

char* CreationFlagsText_MyBf(U4 flags, char* bf, U4 size) {
  static const BitName kNames[] = {
      {0x00008000, "ABOVE_NORMAL_PRIORITY_CLASS"},
      {0x00004000, "BELOW_NORMAL_PRIORITY_CLASS"},
      {0x01000000, "CREATE_BREAKAWAY_FROM_JOB"},
      {0x04000000, "CREATE_DEFAULT_ERROR_MODE"},
      {0x00000010, "CREATE_NEW_CONSOLE"},
      {0x00000200, "CREATE_NEW_PROCESS_GROUP"},
      {0x08000000, "CREATE_NO_WINDOW"},
      {0x00040000, "CREATE_PROTECTED_PROCESS"},
      {0x02000000, "CREATE_PRESERVE_CODE_AUTHZ_LEVEL"},
      {0x00000800, "CREATE_SEPARATE_WOW_VDM"},
      {0x00001000, "CREATE_SHARED_WOW_VDM"},
      {0x00000004, "CREATE_SUSPENDED"},
      {0x00000400, "CREATE_UNICODE_ENVIRONMENT"},
      {0x00000002, "DEBUG_ONLY_THIS_PROCESS"},
      {0x00000001, "DEBUG_PROCESS"},
      {0x00000008, "DETACHED_PROCESS"},
      {0x00080000, "EXTENDED_STARTUPINFO_PRESENT"},
      {0x00000080, "HIGH_PRIORITY_CLASS"},
      {0x00000040, "IDLE_PRIORITY_CLASS"},
      {0x00010000, "INHERIT_PARENT_AFFINITY"},
      {0x00000020, "NORMAL_PRIORITY_CLASS"},
      {0x00000100, "REALTIME_PRIORITY_CLASS"},
  };
  return JoinNames(kNames, flags, bf, size);
}

const char* WaitResultName(U4 result, char* bf, U4 size) {
  static const struct {
    U4 code;
    const char* name;
  } kNames[] = {
      {0x00000000, "WAIT_0"},
      {0x00000080, "ABANDONED_WAIT_0"},
      {0x000000C0, "USER_APC"},
      {0x00000102, "TIMEOUT"},
      {0x00000103, "PENDING"},
      {0xFFFFFFFF, "WAIT_FAILED"},
      {0x80000001, "GUARD_PAGE_VIOLATION"},
      {0x80000002, "DATATYPE_MISALIGNMENT"},
      {0x80000003, "BREAKPOINT"},
      {0x80000004, "SINGLE_STEP"},
      {0xC0000005, "ACCESS_VIOLATION"},
      {0xC0000006, "IN_PAGE_ERROR"},
      {0xC0000008, "INVALID_HANDLE"},
      {0xC0000017, "NO_MEMORY"},
      {0xC000001D, "ILLEGAL_INSTRUCTION"},
      {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
      {0xC0000026, "INVALID_DISPOSITION"},
      {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
      {0xC000008D, "FLOAT_DENORMAL_OPERAND"},
      {0xC000008E, "FLOAT_DIVIDE_BY_ZERO"},
      {0xC000008F, "FLOAT_INEXACT_RESULT"},
      {0xC0000090, "FLOAT_INVALID_OPERATION"},
      {0xC0000091, "FLOAT_OVERFLOW"},
      {0xC0000092, "FLOAT_STACK_CHECK"},
      {0xC0000093, "FLOAT_UNDERFLOW"},
      {0xC0000094, "INTEGER_DIVIDE_BY_ZERO"},
      {0xC0000095, "INTEGER_OVERFLOW"},
      {0xC0000096, "PRIVILEGED_INSTRUCTION"},
      {0xC00000FD, "STACK_OVERFLOW"},
      {0xC000013A, "CONTROL_C_EXIT"},
  };
  for (const auto& n : kNames)
    if (n.code == result) return n.name;
  std::snprintf(bf, size, "Error#%u", result);
  return bf;
}

const char* ShowCmdName(U4 showCmd) {
  static const char* const names[] = {
      "SW_HIDE",           "SW_SHOWNORMAL", "SW_SHOWMINIMIZED", "SW_SHOWMAXIMIZED",
      "SW_SHOWNOACTIVATE", "SW_SHOW",       "SW_MINIMIZE",      "SW_SHOWMINNOACTIVE",
      "SW_SHOWNA",         "SW_RESTORE",    "SW_SHOWDEFAULT",   "SW_MAX",
  };
  if (showCmd < sizeof(names) / sizeof(names[0])) return names[showCmd];
  static char other[24];
  std::snprintf(other, sizeof other, "SW_?%u", showCmd);
  return other;
}
