// Log lines from units below the program log. The program log and the error report set
// these hooks when they are linked in; until then a line goes nowhere and an error stays
// pending.
#pragma once
#include "base/types.h"

#include <cstdarg>

extern I2 log_indent; // blanks before the text, 0..255 (default 1)

// One line of the texts, ended by a null pointer.
extern void (*log_line_hook)(const char* text, va_list rest);
// Writes what the log holds, and every later line at once.
extern void (*log_flush_always_hook)();
// Reports the pending error (the log, the error file) and clears it.
extern bool (*report_err_hook)();

// One line of concatenated texts (ended by a null pointer).
void LogStMult(const char* text, ...) TAP_SENTINEL;

// Fixed-arity front end: LogSt(a, b, c) is LogStMult(a, b, c, nullptr).
template <typename... Texts> inline void LogSt(const char* first, Texts... rest) {
  LogStMult(first, static_cast<const char*>(rest)..., static_cast<const char*>(nullptr));
}

void FlushLogAlways();
// False when no error was pending or nothing reports it.
bool ReportPendingErr();
