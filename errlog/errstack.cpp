#include "errlog/errstack.h"

#include "platform/syserr.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

U2 ErrLevel = 0;
char ErrMsg[kErrLevels][kErrMsgSize];
bool ErrLevelSet[kErrLevels];
char* CurErrMsg = ErrMsg[0];
U2 CallersSkip = 0;

namespace {

ErrStackHooks hooks{};

[[noreturn]] void CrashMe(const char* name) {
  if (hooks.crash) hooks.crash(name, 0);
  std::abort();
}

// Inline, so that a walk starting at its caller does not name this frame.
[[gnu::always_inline]] inline const char* StackCallersFrom_STC(U8 return_address, U2 skip) {
  return hooks.callers_from ? hooks.callers_from(return_address, skip) : nullptr;
}

void LogStack() {
  if (hooks.log_stack) hooks.log_stack();
}

void* AllocLPM(U4 size) {
  return hooks.alloc_text ? hooks.alloc_text(size) : nullptr;
}

constexpr U4 kSaveSize = 512;
bool building = false;       // SeMErrMult is at work
char callersSave[kSaveSize]; // AddErrMult keeps the callers group here
char sysErrBf[kSaveSize];    // SeMLastErr builds its text here
bool overflowing = false;    // the level overflow is being reported
U8 setterReturn = 0;         // where the outermost setter returns to

// The callers group names the function that called the outermost setter, however many
// setters pass the text on.
class SetterEntry {
public:
  explicit SetterEntry(void* ret) : owner_(setterReturn == 0) {
    if (owner_) setterReturn = reinterpret_cast<uintptr_t>(ret);
  }
  ~SetterEntry() {
    if (owner_) setterReturn = 0;
  }
  SetterEntry(const SetterEntry&) = delete;
  SetterEntry& operator=(const SetterEntry&) = delete;

private:
  bool owner_;
};
#define TAP_SETTER_ENTRY SetterEntry setterEntry(__builtin_return_address(0))

// The three last stored characters of a text cut at its buffer's end become "...".
void MarkCut(char* bf, U4 len) {
  for (U4 i = len >= 3 ? len - 3 : 0; i < len; ++i)
    bf[i] = '.';
}

// Appends src to bf (holding len characters) without letting it grow beyond limit
// characters; returns false when src did not fit.
bool Append(char* bf, U4& len, U4 limit, const char* src) {
  while (*src) {
    if (len >= limit) {
      bf[len] = '\0';
      return false;
    }
    bf[len++] = *src++;
  }
  bf[len] = '\0';
  return true;
}

// Joins a Mult list (first, then the va_list up to a null) into bf of limit characters.
void Join(char* bf, U4 limit, const char* first, va_list rest) {
  U4 len = 0;
  bf[0] = '\0';
  for (const char* t = first; t; t = va_arg(rest, const char*)) {
    if (!Append(bf, len, limit, t)) {
      MarkCut(bf, len);
      return;
    }
  }
}

// Carriage returns and line feeds become "<CR>" and "<LF>" so that a message stays one
// line; the result keeps within limit characters, cut with "...".
void EscapeLineEnds(char* bf, U4 limit) {
  if (!std::strpbrk(bf, "\r\n")) return;
  char out[kErrMsgSize * 4 + 1];
  U4 len = 0;
  bool cut = false;
  for (const char* p = bf; *p && !cut; ++p) {
    const char* piece = *p == '\r' ? "<CR>" : *p == '\n' ? "<LF>" : nullptr;
    char one[2] = {*p, '\0'};
    cut = !Append(out, len, limit, piece ? piece : one);
  }
  if (cut) MarkCut(out, len);
  std::memcpy(bf, out, len + 1);
}

// " [[" followed somewhere by "]]".
bool HasCallersGroup(const char* text) {
  const char* open = std::strstr(text, " [[");
  return open && std::strstr(open + 3, "]]");
}

void SyncLevel() {
  ErrLevelSet[ErrLevel] = ErrSet;
}

// Stores text (at most 1023 characters) as the message of the current level and sets
// the error. The caller has checked that none is pending.
void Store(const char* text) {
  if (building) CrashMe("SeMErrMult");
  building = true;
  CurErrMsg = ErrMsg[ErrLevel];
  char* slot = CurErrMsg;
  std::snprintf(slot, kErrMsgSize, "%s", *text ? text : "(empty)");
  EscapeLineEnds(slot, kErrMsgSize - 1);
  if (!HasCallersGroup(slot)) {
    // CallersSkip 1 stands for the setter's own frame, which the entry mark leaves out.
    U2 skip = CallersSkip > 1 ? CallersSkip - 1 : 0;
    const char* chain = StackCallersFrom_STC(setterReturn, skip);
    U4 len = static_cast<U4>(std::strlen(slot));
    U4 start = len;
    bool whole = Append(slot, len, kErrMsgSize - 1, " [[") &&
                 Append(slot, len, kErrMsgSize - 1, chain ? chain : "?") &&
                 Append(slot, len, kErrMsgSize - 1, "]]");
    if (!whole && len > start) MarkCut(slot, len);
  }
  ErrSet = true;
  SyncLevel();
  building = false;
}

char* LPMCopy(const char* text) {
  U4 len = static_cast<U4>(std::strlen(text));
  char* copy = static_cast<char*>(AllocLPM(len + 1));
  if (copy) std::memcpy(copy, text, len + 1);
  return copy;
}

} // namespace

void InstallErrStackHooks(const ErrStackHooks& installed) {
  hooks = installed;
}

bool SeMErrMultV(const char* first, va_list rest) {
  TAP_SETTER_ENTRY;
  if (ErrSet || !first) return ErrSet;
  char work[kErrMsgSize];
  Join(work, kErrMsgSize - 1, first, rest);
  Store(work);
  return true;
}

bool SeMErrMult(const char* first, ...) {
  TAP_SETTER_ENTRY;
  va_list ap;
  va_start(ap, first);
  bool set = SeMErrMultV(first, ap);
  va_end(ap);
  return set;
}

void AddErrMultV(const char* first, va_list rest) {
  TAP_SETTER_ENTRY;
  if (!ErrSet) {
    SeMErrMultV(first, rest);
    return;
  }
  ErrSet = false;
  char* msg = CurErrMsg;
  callersSave[0] = '\0';
  if (char* group = std::strstr(msg, " [[")) {
    std::snprintf(callersSave, kSaveSize, "%s", group);
    *group = '\0';
  }
  U4 saved = static_cast<U4>(std::strlen(callersSave));
  U4 limit = kErrMsgSize - 1 - saved;
  char added[kErrMsgSize];
  Join(added, kErrMsgSize - 1, first, rest);
  EscapeLineEnds(added, kErrMsgSize - 1);
  U4 len = static_cast<U4>(std::strlen(msg));
  if (len > limit) len = limit; // a group longer than the save area was shortened
  msg[len] = '\0';
  if (!Append(msg, len, limit, added)) MarkCut(msg, len);
  Append(msg, len, kErrMsgSize - 1, callersSave);
  ErrSet = true;
  SyncLevel();
}

void AddErrMult(const char* first, ...) {
  TAP_SETTER_ENTRY;
  va_list ap;
  va_start(ap, first);
  AddErrMultV(first, ap);
  va_end(ap);
}

void InsErrMultV(const char* first, va_list rest) {
  TAP_SETTER_ENTRY;
  if (!first) return;
  if (!ErrSet) {
    SeMErrMultV(first, rest);
    return;
  }
  char text[kErrMsgSize];
  Join(text, kErrMsgSize - 1, first, rest);
  EscapeLineEnds(text, kErrMsgSize - 1);
  U4 len = static_cast<U4>(std::strlen(text));
  if (!Append(text, len, kErrMsgSize - 1, CurErrMsg)) MarkCut(text, len);
  std::memcpy(CurErrMsg, text, len + 1);
  ErrSet = true;
  SyncLevel();
}

void InsErrMult(const char* first, ...) {
  TAP_SETTER_ENTRY;
  va_list ap;
  va_start(ap, first);
  InsErrMultV(first, ap);
  va_end(ap);
}

bool ClearErr() {
  bool was = ErrSet;
  ErrSet = false;
  SyncLevel();
  return was;
}

char* ErrMessage(bool with_callers, bool keep, char* buffer, U4 size) {
  if (!ErrSet) return nullptr;
  U2 saved = CallersSkip;
  if (CallersSkip == 0) CallersSkip = 2;
  if (buffer && size > 0) {
    const char* msg = CurErrMsg;
    const char* end = with_callers ? nullptr : std::strstr(msg, " [[");
    U4 n = end ? static_cast<U4>(end - msg) : static_cast<U4>(std::strlen(msg));
    if (n >= size) {
      std::memcpy(buffer, msg, size - 1);
      buffer[size - 1] = '\0';
      MarkCut(buffer, size - 1);
    } else {
      std::memcpy(buffer, msg, n);
      buffer[n] = '\0';
    }
  }
  if (!keep) ClearErr();
  CallersSkip = saved;
  return buffer;
}

namespace {
bool Push(const char* name) {
  if (ErrLevel + 1 >= kErrLevels) {
    if (!overflowing) {
      overflowing = true;
      // The frames go to the log with a clean state, or logging would push again.
      bool pending = ErrSet;
      ErrSet = false;
      LogStack();
      ErrSet = pending;
    }
    CrashMe(name);
  }
  bool was = ErrSet;
  ++ErrLevel;
  ErrLevelSet[ErrLevel] = false;
  ErrMsg[ErrLevel][0] = '\0';
  CurErrMsg = ErrMsg[ErrLevel];
  ErrSet = false;
  return was;
}
} // namespace

bool PushErr() {
  return Push("PushErr");
}

char* PushErrMessage_LPM() {
  if (!Push("PushErrMessage_LPM")) return nullptr;
  return LPMCopy(ErrMsg[ErrLevel - 1]);
}

void PopErr(bool carry) {
  if (ErrLevel == 0) return;
  bool innerSet = ErrSet;
  const char* inner = ErrMsg[ErrLevel];
  --ErrLevel;
  ErrSet = ErrLevelSet[ErrLevel];
  CurErrMsg = ErrMsg[ErrLevel];
  if (carry && innerSet && !ErrSet) {
    std::memcpy(CurErrMsg, inner, kErrMsgSize);
    ErrSet = true;
    SyncLevel();
  }
}

namespace {
// The system's text without its line end and final period, or "Error#<code>".
void SystemText(U4 code, char* text, U4 size) {
  if (PlatformErrorText(code, text, size)) {
    size_t len = std::strlen(text);
    if (len >= 2 && text[len - 2] == '\r' && text[len - 1] == '\n') text[len -= 2] = '\0';
    if (len >= 1 && text[len - 1] == '.') text[--len] = '\0';
  } else {
    std::snprintf(text, size, "Error#%u", static_cast<unsigned>(code));
  }
}
} // namespace

char* WindowsErrorText(U4 code) {
  if (code == 0) return nullptr;
  char text[kSaveSize];
  SystemText(code, text, sizeof text);
  return LPMCopy(text);
}

U4 SeMLastErr(const char* text1, const char* text2, U4 code) {
  TAP_SETTER_ENTRY;
  if (ErrSet) return 1;
  if (code == 0) code = PlatformLastError();
  if (code == 0 && !text1) return 0;
  U4 len = 0;
  U4 limit = kSaveSize - 1;
  sysErrBf[0] = '\0';
  bool fits = (!text1 || Append(sysErrBf, len, limit, text1)) &&
              (!text2 || Append(sysErrBf, len, limit, text2));
  if (fits && code != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(code));
    // The text is the same as WindowsErrorText's, taken without the pool so that a full
    // pool cannot hide the failure being reported.
    char sys[kSaveSize];
    SystemText(code, sys, sizeof sys);
    fits = (!text1 || Append(sysErrBf, len, limit, " (")) &&
           Append(sysErrBf, len, limit, "error #") && Append(sysErrBf, len, limit, number) &&
           Append(sysErrBf, len, limit, ": ") && Append(sysErrBf, len, limit, sys) &&
           (!text1 || Append(sysErrBf, len, limit, ")"));
  }
  if (!fits) MarkCut(sysErrBf, len);
  SeMErrMult(sysErrBf, nullptr);
  return code;
}

I4 SeMErrno(const char* text1, const char* text2, I4 errnum) {
  TAP_SETTER_ENTRY;
  if (ErrSet) return 1;
  if (errnum == 0) errnum = errno;
  if (errnum == 0) {
    U4 code = PlatformLastError();
    if (code != 0 || !text1) return static_cast<I4>(SeMLastErr(text1, text2, code));
  }
  std::string text;
  if (text1) text += text1;
  if (text2) text += text2;
  if (errnum != 0) {
    if (text1) text += " (";
    text += "Error #" + std::to_string(errnum) + ": ";
    const char* sys = std::strerror(errnum);
    text += sys ? sys : "?";
    if (text1) text += ")";
  }
  SeMErrMult(text.c_str(), nullptr);
  return errnum;
}

void SeMCommErr(void* handle, bool quiet, const char* text1, const char* text2, U4 mask,
                void* status) {
  TAP_SETTER_ENTRY;
  if (ErrSet) return;
  U4 saved = PlatformLastError();
  if (mask == 0 || !status) {
    U4 fetched = 0;
    if (!PlatformClearCommError(handle, &fetched, status)) {
      // Where the device cannot be asked, a mask given by the caller still counts.
      if (mask == 0) {
        SeMLastErr("CCE", nullptr, 0);
        return;
      }
    } else {
      mask = fetched;
    }
  }
  if (mask == 0) {
    if (!quiet) SeMLastErr(text1, text2, saved);
    return;
  }
  static const struct {
    U4 bit;
    const char* name;
  } kNames[] = {
      {0x0001, "RX overflow"},       {0x0002, "RX overrun"},      {0x0004, "RX parity err"},
      {0x0008, "RX framing err"},    {0x0010, "Break"},           {0x0100, "TX overflow"},
      {0x0200, "LPTx tmo"},          {0x0400, "LPTx I/O err"},    {0x0800, "LPTx Dvc not selected"},
      {0x1000, "LPTx Out-Of-Paper"}, {0x8000, "Mode unsupported"}};
  std::string text;
  if (text1) text += text1;
  if (text2) text += text2;
  if (text1) text += " (";
  text += "COMM err #" + std::to_string(mask) + ":";
  bool any = false;
  for (int bit = 15; bit >= 0; --bit) {
    U4 b = 1u << bit;
    if (!(mask & b)) continue;
    const char* name = "??";
    for (const auto& n : kNames)
      if (n.bit == b) name = n.name;
    if (any) text += ",";
    text += name;
    any = true;
  }
  if (!any) text += "??";
  if (text1) text += ")";
  SeMErrMult(text.c_str(), nullptr);
}

namespace {
const char* SnmpText(I4 code) {
  static const char* const kStatus[] = {
      nullptr,
      "The agent could not place the results of the requested SNMP operation in a single SNMP "
      "message",
      "The requested SNMP operation identified an unknown variable",
      "The requested SNMP operation tried to change a variable but it specified either a syntax "
      "or value error",
      "The requested SNMP operation tried to change a variable that was not allowed to change, "
      "according to the community profile of the variable",
      "An error other than one of those listed here occurred during the requested SNMP operation",
      "The specified SNMP variable is not accessible",
      "The value specifies a type that is inconsistent with the type required for the variable",
      "The value specifies a length that is inconsistent with the length required for the "
      "variable",
      "The value contains an Abstract Syntax Notation One (ASN.1) encoding that is inconsistent "
      "with the ASN.1 tag of the field",
      "The value cannot be assigned to the variable",
      "The variable does not exist, and the agent cannot create it",
      "The value is inconsistent with values of other managed objects",
      "Assigning the value to the variable requires allocation of resources that are currently "
      "unavailable",
      "No validation errors occurred, but no variables were updated",
      "No validation errors occurred. Some variables were updated because it was not possible to "
      "undo their assignment",
      "An authorization error occurred",
      "The variable exists but the agent cannot modify it",
      "The variable does not exist; the agent cannot create it because the named object instance "
      "is inconsistent with the values of other managed objects"};
  static const char* const kPdu[] = {"SNMP_PDUAPI_UNRECOGNIZED_PDU", "SNMP_PDUAPI_INVALID_ES",
                                     "SNMP_PDUAPI_INVALID_GT"};
  static const char* const kAuth[] = {"SNMP_AUTHAPI_INVALID_VERSION",
                                      "SNMP_AUTHAPI_INVALID_MSG_TYPE",
                                      "SNMP_AUTHAPI_TRIV_AUTH_FAILED"};
  static const char* const kMgmt[] = {
      "SNMP_MGMTAPI_TIMEOUT",      "SNMP_MGMTAPI_SELECT_FDERRORS", "SNMP_MGMTAPI_TRAP_ERRORS",
      "SNMP_MGMTAPI_TRAP_DUPINIT", "SNMP_MGMTAPI_NOTRAPS",         "SNMP_MGMTAPI_AGAIN",
      "SNMP_MGMTAPI_INVALID_CTL",  "SNMP_MGMTAPI_INVALID_SESSION", "SNMP_MGMTAPI_INVALID_BUFFER"};
  if (code >= 1 && code <= 18) return kStatus[code];
  if (code >= 20 && code <= 22) return kPdu[code - 20];
  if (code >= 30 && code <= 32) return kAuth[code - 30];
  if (code >= 40 && code <= 48) return kMgmt[code - 40];
  return "??";
}
} // namespace

I4 SeMSNMPErr(const char* text1, const char* text2) {
  TAP_SETTER_ENTRY;
  if (ErrSet) return 1;
  I4 code = static_cast<I4>(PlatformLastError());
  if (code == 0 && !text1) return 0;
  std::string text;
  if (text1) text += text1;
  if (text2) text += text2;
  if (code != 0) {
    if (text1) text += " (";
    text += "SNMP error #" + std::to_string(code) + ":" + SnmpText(code);
    if (text1) text += ")";
  }
  SeMErrMult(text.c_str(), nullptr);
  return code;
}
