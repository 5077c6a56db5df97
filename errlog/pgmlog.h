// The program log: one text file per run, every line time-stamped and echoed on the
// console, plus the error file (".err") that collects the reported errors.
#pragma once
#include "base/settings.h"
#include "base/types.h"
#include "errlog/logline.h"

#include <cstdio>

inline constexpr U4 kLogLineSize = 4098; // a line ends at character 4095, then "\r\n"
inline constexpr U2 kLogPrefaceLevels = 100;
inline constexpr U4 kLogPrefaceSize = 256;

// Log state (the file name and the append and trace flags are start-up settings).
extern std::FILE* pgm_log_st;        // the open log, or null
extern U8 pgm_log_bytes;             // bytes written since opening (+ size on append)
extern bool log_echo;                // echo every write on the console (default true)
extern bool log_err_line;            // an error line is being written: echo to stderr
extern bool log_flush;               // flush after every write
extern U1 fault_mode;                // non-zero while a fault handler runs
extern const char* log_time_pattern; // sample of the time stamp; null: none
extern bool log_elapsed;             // "(%5lld)" milliseconds since the previous line
extern U2 log_pause_secs;            // blank line after a pause this long; 0: never
extern char log_line[kLogLineSize];  // the last line written
extern U4 log_last_msecs;            // ClockMsecs after the previous line; 0: none yet
extern char pgm_err_fn[kPgmTextSz];  // the error file
extern bool err_file_ena;            // append reported errors to the error file
extern bool log_write_failed;        // a write or flush of the log failed this run
// False for a time stamp pattern with milliseconds: only other stamps are kept and reused
// for the lines of the same second.
bool StampHoldsForASecond(const char* pattern);
// The command file of the run that is the same file as fn, or null; installed at start-up.
// The log never replaces, empties or moves such a file.
extern const char* (*log_command_file_hook)(const char* fn);

// Typed front ends: one or two labels, then the value in decimal ("True"/"False",
// "%lf" for floating point, UTF-16 converted to narrow text).
void LogStU1(const char* label, U1 value);
void LogStU2(const char* label, U2 value);
void LogStU4(const char* label, U4 value);
void LogStU8(const char* label, U8 value);
void LogStI1(const char* label, I1 value);
void LogStI2(const char* label, I2 value);
void LogStI4(const char* label, I4 value);
void LogStI8(const char* label, I8 value);
void LogStBool(const char* label, bool value);
void LogStDouble(const char* label, double value);
void LogStW(const char* label, const char16_t* value);
void LogStU8(const char* label1, const char* label2, U8 value);
void LogStI8(const char* label1, const char* label2, I8 value);
void LogStBool(const char* label1, const char* label2, bool value);
void LogStDouble(const char* label1, const char* label2, double value);

// Raw bytes to the log and the console echo; length kAllU4 means up to the NUL.
void LogBf(const char* buffer, U4 length);

// Opens the log; append 255 lets the append setting decide. True when the log is open.
bool OpenPgmLog(U1 append);
// Closes the log; an empty log file is deleted.
void ClosePgmLog();
bool CopyPgmLog(const char* destination);
// Makes destination the log file, carrying the error file along.
bool MovePgmLog(const char* destination);
// One line in log format appended to another file, without console echo.
bool LogStToFile(const char* fn, const char* text);
bool LogStToFileMult(const char* fn, const char* text, ...) TAP_SENTINEL;
// Every record of a text file into the log.
bool FileToLog(const char* fn);
// Drops the leading lines of a log-format file older than max_age_secs.
bool RemoveOldLogLines(const char* fn, U4 max_age_secs);

void PushLogPreface(const char* text);
U2 PopLogPreface();

// Error file name: the log file name without its extension, then ".err".
void ErrFileName();
// False, with the message pushed, for a log name (what) that the log must not take: one
// longer than 300 characters or a command file of the run.
bool LogNameUsable(const char* what, const char* fn);

// Index where the text of a log-format line starts (after the time stamp, an optional
// parenthesised group and one blank); 0 when the line has none.
U4 LogLineTextStart(const char* line);
