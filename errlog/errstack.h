// The process-wide pending error: one flag, one message, ten nested levels.
// Every failing function sets a message here and returns its failure value; callers
// test ErrSet and fall through, so the first message travels to the top.
#pragma once
#include "base/settings.h"
#include "base/types.h"

#include <cstdarg>

inline constexpr U2 kErrLevels = 10;
inline constexpr U4 kErrMsgSize = 1024; // one slot: at most 1023 characters and a NUL

// The pending error of the current level. It lives among the allocator's switches, which
// its quick paths test in one load.
inline constexpr bool& ErrSet = alloc_switches.err_set;
extern U2 ErrLevel;                          // 0..9
extern char ErrMsg[kErrLevels][kErrMsgSize]; // one message per level
extern bool ErrLevelSet[kErrLevels];         // saved flag of each level
extern char* CurErrMsg;                      // slot of the current level
extern U2 CallersSkip;                       // innermost frames left out of the callers group

// Setting an error. Mult lists are texts ended by a null pointer.
bool SeMErrMult(const char* first, ...) TAP_SENTINEL;
void AddErrMult(const char* first, ...) TAP_SENTINEL;
void InsErrMult(const char* first, ...) TAP_SENTINEL;
// The same with a va_list that holds the texts after `first` (for Mult wrappers elsewhere).
bool SeMErrMultV(const char* first, va_list rest);
void AddErrMultV(const char* first, va_list rest);
void InsErrMultV(const char* first, va_list rest);

// System failures: the texts, then " (error #<code>: <system text>)".
// code 0 takes the platform's last error. Returns the code used, 1 when an error was
// already pending, 0 when there was neither code nor text.
U4 SeMLastErr(const char* text1, const char* text2 = nullptr, U4 code = 0);
// As SeMLastErr with errno ("Error #<errnum>: <strerror text>"); errnum 0 takes errno.
I4 SeMErrno(const char* text1, const char* text2 = nullptr, I4 errnum = 0);
// Serial line errors: the mask and the names of its bits. handle and status are the
// platform's communications handle and status record (may be null).
void SeMCommErr(void* handle, bool quiet, const char* text1, const char* text2, U4 mask,
                void* status);
// SNMP management errors: the code is the platform's last error.
I4 SeMSNMPErr(const char* text1, const char* text2);

// Reading, clearing and nesting.
bool ClearErr();
char* ErrMessage(bool with_callers, bool keep, char* buffer, U4 size);
bool PushErr();
char* PushErrMessage_LPM();
void PopErr(bool carry);

// The system's text for an error code (LPM copy), or null for 0; "Error#<code>" when the
// system has none.
char* WindowsErrorText(U4 code);

// What the error stack needs from the layers above it, installed at start-up. Until then
// a message has the callers group " [[?]]", copies fail (null), nothing is logged and an
// internal fault aborts.
struct ErrStackHooks {
  // The callers text from the frame return_address returns into, skip entries left out.
  char* (*callers_from)(U8 return_address, U2 skip);
  // The current call stack into the program log (the error levels overflow).
  void (*log_stack)();
  // size bytes of the short-lived text pool, null when it is full.
  void* (*alloc_text)(U4 size);
  // Ends the program by a fault so that the fault path reports it.
  void (*crash)(const char* name, int mode);
};
void InstallErrStackHooks(const ErrStackHooks& hooks);
