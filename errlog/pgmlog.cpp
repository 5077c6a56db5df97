#include "errlog/pgmlog.h"

#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "files/fileops.h"
#include "files/fldf.h"
#include "files/fname.h"
#include "files/ftest.h"
#include "mem/tracked.h"
#include "text/numfmt.h"
#include "time/clock.h"
#include "time/parsetime.h"
#include "time/sttoutm.h"
#include "time/utm.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

std::FILE* pgm_log_st = nullptr;
U8 pgm_log_bytes = 0;
bool log_echo = true;
bool log_err_line = false;
bool log_flush = false;
U1 fault_mode = 0;
const char* log_time_pattern = "12/31/2022 23:00:00";
bool log_elapsed = true;
U2 log_pause_secs = 2;
char log_line[kLogLineSize];
U4 log_last_msecs = 0;
char pgm_err_fn[kPgmTextSz];
bool err_file_ena = true;
bool log_write_failed = false;
const char* (*log_command_file_hook)(const char* fn) = nullptr;

namespace {

constexpr U4 kLineLimit = kLogLineSize - 3; // characters in front of "\r\n"
constexpr U4 kMaxIndent = 255;

bool busy = false;
char blankRow[kMaxIndent + 1];
char prefaces[kLogPrefaceLevels][kLogPrefaceSize];
U2 prefaceLevel = 0;

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

// The three last stored characters of a cut text become "...".
void MarkCut(char* bf, U4 len) {
  for (U4 i = len >= 3 ? len - 3 : 0; i < len; ++i)
    bf[i] = '.';
}

// Bounded append: false when src did not wholly fit within limit characters.
bool Append(char* bf, U4& len, U4 limit, const char* src, U4 n = kAllU4) {
  if (n == kAllU4) n = static_cast<U4>(std::strlen(src));
  U4 room = len < limit ? limit - len : 0;
  U4 take = n < room ? n : room;
  std::memcpy(bf + len, src, take);
  len += take;
  bf[len] = '\0';
  return take == n;
}

void CopyBounded(char* dst, U4 size, const char* src) {
  U4 len = 0;
  dst[0] = '\0';
  if (!Append(dst, len, size - 1, src ? src : "")) MarkCut(dst, len);
}

// The file part of the write and the console echo. False when the file took fewer bytes;
// the echo happens in any case, and a line the console would not have seen goes to
// standard error, so that a full disk cannot swallow what was being reported.
bool RawWrite(const char* bf, U4 len) {
  bool written = true;
  if (pgm_log_st) {
    size_t n = std::fwrite(bf, 1, len, pgm_log_st);
    pgm_log_bytes += n;
    written = n == len;
    if (written && log_flush) written = std::fflush(pgm_log_st) == 0;
  }
  bool echo = log_echo && !daemon_pgm;
  if (echo && log_err_line) {
    std::fflush(stdout);
    std::fwrite(bf, 1, len, stderr);
    std::fflush(stderr);
  } else if (echo) {
    std::fwrite(bf, 1, len, stdout);
  } else if (!written && !daemon_pgm) {
    std::fwrite(bf, 1, len, stderr);
  }
  return written;
}

void WriteError() {
  log_write_failed = true;
  SeMErrMult("Write error on \"", pgm_log_fn, "\"", nullptr);
}

// A file that may take the log in a move: none yet, or an earlier log (its first line
// carries a time stamp). Anything else is another program's file and stays.
bool MayReplace(const char* what, const char* fn) {
  if (!FileOrDirectoryExists(fn, false) && !FileIsLink(fn)) return true;
  char first[kLogLineSize] = "";
  if (FLDF* fd = FileExists(fn, false) ? FLOpenRead(fn) : nullptr) {
    if (const char* rec = FLReadRec(fd)) CopyBounded(first, sizeof first, rec);
    FLClose(fd);
  }
  ClearErr();
  if (FileSize8(fn, false) == 0 && FileExists(fn, false)) return true;
  if (LogLineTextStart(first) != 0) return true;
  SeMErrMult(what, " \"", fn, "\" exists and is not a log: choose another log name", nullptr);
  return false;
}

void Trace(const char* format, ...) {
  if (!pgm_log_dbg) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stdout, format, ap);
  va_end(ap);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The length of a time stamp shaped like the time pattern at the start of line: a run of
// digits in the pattern stands for any run of digits (a day may be written "6" or "06"),
// everything else for itself. 0 when there is none.
U4 MatchStamp(const char* line) {
  const char* p = log_time_pattern ? log_time_pattern : "12/31/2022 23:00:00";
  const char* l = line;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (*p) {
    if (digit(*p)) {
      if (!digit(*l)) return 0;
      while (digit(*p))
        ++p;
      while (digit(*l))
        ++l;
    } else if (*p++ != *l++) {
      return 0;
    }
  }
  return static_cast<U4>(l - line);
}

// Seconds since 1970 of the time stamp at the start of line (within its first len
// characters); the elapsed-time group after it is no part of it.
bool StampTime(const char* line, U4 len, I8* t) {
  const U4 stamp_len = MatchStamp(line);
  if (stamp_len != 0 && stamp_len < len) len = stamp_len;
  char stamp[128];
  if (len >= sizeof stamp) return false;
  std::memcpy(stamp, line, len);
  stamp[len] = 0;
  UTM utm{};
  if (!StToUTM(&utm, stamp, kUtmNoDefaults, 2, 2, false) || utm.timet == kTimeTUndefined)
    return false;
  *t = utm.timet;
  return true;
}

} // namespace

U4 LogLineTextStart(const char* line) {
  if (!line) return 0;
  U4 i = MatchStamp(line);
  if (i == 0) return 0;
  if (line[i] == '(') {
    const char* close = std::strchr(line + i, ')');
    if (!close) return 0;
    i = static_cast<U4>(close - line) + 1;
  }
  return line[i] == ' ' ? i + 1 : 0;
}

void LogBf(const char* buffer, U4 length) {
  if (ErrSet || !buffer) return;
  if (length == kAllU4) length = static_cast<U4>(std::strlen(buffer));
  if (length == 0) return;
  U1 savedDebug = debug_level;
  debug_level = 0;
  bool written = RawWrite(buffer, length);
  debug_level = savedDebug;
  if (!written) WriteError();
}

bool StampHoldsForASecond(const char* pattern) {
  TPDAT tp{};
  ParseTime(&tp, pattern, kAllU4);
  return tp.msec.val == kTPNotFound;
}

namespace {
// The time stamp of a line changes once a second: it is formatted again only then, or when
// the pattern is another (formatting it is most of a short line's cost).
const char* LineStamp() {
  static char pattern[64];
  static char stamp[128];
  static U8 stamped_secs = 0;
  static bool valid = false;
  const U8 secs = ClockSecs();
  if (valid && secs == stamped_secs && std::strcmp(pattern, log_time_pattern) == 0) return stamp;
  valid = false;
  const char* text = TimeTS_MyBf(static_cast<I8>(secs), log_time_pattern, stamp, sizeof stamp);
  if (text != stamp || std::strlen(log_time_pattern) >= sizeof pattern ||
      !StampHoldsForASecond(log_time_pattern))
    return text;
  std::strcpy(pattern, log_time_pattern);
  stamped_secs = secs;
  valid = true;
  return stamp;
}
} // namespace

void LogStMultV(const char* text, va_list rest) {
  if (!fault_mode) {
    if (busy) {
      std::printf("%s%s\n", "LogStMult", " BUSY");
      std::fflush(stdout);
      CrashMe("LogStMult");
    }
  }
  busy = true;
  std::unique_lock<std::mutex> lock(LogLock(), std::defer_lock);
  if (!fault_mode) lock.lock();

  U4 elapsed = log_last_msecs ? ElapsedMsecs(log_last_msecs) : 0;
  bool failed = false;
  if (!log_err_line && log_pause_secs && log_last_msecs && !ErrSet &&
      elapsed / 1000 >= log_pause_secs)
    failed |= !RawWrite("\r\n", 2);

  // A pending error is recorded first and stays pending; the line is written at a clean
  // level so that its own failure cannot replace the first message.
  bool pushed = false;
  if (ErrSet) {
    pushed = PushErr();
    const char* msg = ErrMsg[ErrLevel - 1];
    failed |= !RawWrite("DBGERR:", 7);
    failed |= !RawWrite(msg, static_cast<U4>(std::strlen(msg)));
    failed |= !RawWrite("\r\n", 2);
  }

  U4 len = 0;
  log_line[0] = '\0';
  if (!fault_mode && log_time_pattern) {
    Append(log_line, len, kLineLimit, LineStamp());
    if (log_elapsed) {
      Append(log_line, len, kLineLimit, "(");
      Append(log_line, len, kLineLimit, DecDigits(elapsed, 5).bf);
      Append(log_line, len, kLineLimit, ")");
    }
  }
  if (!blankRow[0]) std::memset(blankRow, ' ', kMaxIndent);
  I2 indent = log_indent < 0                             ? 0
              : log_indent > static_cast<I2>(kMaxIndent) ? kMaxIndent
                                                         : log_indent;
  bool fits = Append(log_line, len, kLineLimit, blankRow, static_cast<U4>(indent));
  fits = fits && Append(log_line, len, kLineLimit, prefaces[prefaceLevel]);
  for (const char* t = text; t && fits; t = va_arg(rest, const char*))
    fits = Append(log_line, len, kLineLimit, t);
  if (!fits) MarkCut(log_line, len);
  log_line[len++] = '\r';
  log_line[len++] = '\n';
  log_line[len] = '\0';
  U1 savedDebug = debug_level;
  debug_level = 0;
  failed |= !RawWrite(log_line, len);
  debug_level = savedDebug;
  if (failed) WriteError();

  log_last_msecs = ClockMsecs();
  if (pushed) PopErr(true);
  busy = false;
}

namespace {
void FlushAlways() {
  if (pgm_log_st) std::fflush(pgm_log_st);
  log_flush = true;
}

// Units below the log write through these.
[[maybe_unused]] const bool hooks_set =
    (log_line_hook = LogStMultV, log_flush_always_hook = FlushAlways, true);
} // namespace

namespace {
template <typename T> void LogValue(const char* l1, const char* l2, const char* format, T v) {
  char bf[64];
  std::snprintf(bf, sizeof bf, format, v);
  LogStMult(l1 ? l1 : "", l2 ? l2 : "", bf, nullptr);
}
} // namespace

void LogStU1(const char* label, U1 value) {
  LogValue(label, "", "%u", unsigned{value});
}
void LogStU2(const char* label, U2 value) {
  LogValue(label, "", "%u", unsigned{value});
}
void LogStU4(const char* label, U4 value) {
  LogValue(label, "", "%" PRIu32, value);
}
void LogStU8(const char* label, U8 value) {
  LogValue(label, "", "%" PRIu64, value);
}
void LogStI1(const char* label, I1 value) {
  LogValue(label, "", "%d", int{value});
}
void LogStI2(const char* label, I2 value) {
  LogValue(label, "", "%d", int{value});
}
void LogStI4(const char* label, I4 value) {
  LogValue(label, "", "%" PRId32, value);
}
void LogStI8(const char* label, I8 value) {
  LogValue(label, "", "%" PRId64, value);
}
void LogStBool(const char* label, bool value) {
  LogStMult(label ? label : "", value ? "True" : "False", nullptr);
}
void LogStDouble(const char* label, double value) {
  LogValue(label, "", "%lf", value);
}
void LogStU8(const char* label1, const char* label2, U8 value) {
  LogValue(label1, label2, "%" PRIu64, value);
}
void LogStI8(const char* label1, const char* label2, I8 value) {
  LogValue(label1, label2, "%" PRId64, value);
}
void LogStBool(const char* label1, const char* label2, bool value) {
  LogStMult(label1 ? label1 : "", label2 ? label2 : "", value ? "True" : "False", nullptr);
}
void LogStDouble(const char* label1, const char* label2, double value) {
  LogValue(label1, label2, "%lf", value);
}
void LogStW(const char* label, const char16_t* value) {
  std::string narrow;
  for (const char16_t* p = value; p && *p; ++p)
    narrow += *p < 0x100 ? static_cast<char>(*p) : '?';
  LogStMult(label ? label : "", narrow.c_str(), nullptr);
}

bool OpenPgmLog(U1 append) {
  if (ErrSet || pgm_log_st || !pgm_log_fn[0]) return pgm_log_st != nullptr;
  pgm_log_bytes = 0;
  bool app = append == 255 ? log_append : append != 0;
  Trace("OpenPgmLog:0:pgm_log_fn=%s append=%d\n", pgm_log_fn, app ? 1 : 0);
  if (app && FileExists(pgm_log_fn, false)) {
    pgm_log_bytes = FileSize8(pgm_log_fn, false);
    Trace("OpenPgmLog:1:pgm_log_sz=%llud\n", static_cast<unsigned long long>(pgm_log_bytes));
  }
  errno = 0;
  pgm_log_st = MyFOpen(pgm_log_fn, app ? "ab" : "wb");
  if (!pgm_log_st) {
    const char* reason = errno ? std::strerror(errno) : "unknown reason";
    SeMErrMult("Open error on \"", pgm_log_fn, "\" (", reason, ")", nullptr);
    return false;
  }
  return true;
}

void ClosePgmLog() {
  if (pgm_log_st) {
    // The last buffered lines meet a full disk here: the run must not end as if all was
    // written, and the log cannot carry the news itself.
    if (MyFClose(pgm_log_st) != 0) {
      log_write_failed = true;
      if (!daemon_pgm) {
        std::fflush(stdout);
        std::fprintf(stderr, "ERROR: Write error on \"%s\"\n", pgm_log_fn);
        std::fflush(stderr);
      }
    }
    pgm_log_st = nullptr;
  }
  if (pgm_log_fn[0] && FileExists(pgm_log_fn, false) && FileSize8(pgm_log_fn, false) == 0)
    DelFile(pgm_log_fn);
}

bool CopyPgmLog(const char* destination) {
  if (ErrSet) return false;
  if (!destination || !pgm_log_fn[0]) {
    SeMErrMult("CopyPgmLog:no file (", pgm_log_fn, " -> ", destination ? destination : "NULL", ")",
               nullptr);
    return false;
  }
  if (pgm_log_st && std::fflush(pgm_log_st) != 0) {
    WriteError();
    return false;
  }
  return MyCopyFile(destination, pgm_log_fn, false);
}

namespace {
// The error file's name for the log file logfn into err (kPgmTextSz bytes).
void ErrFileNameOf(const char* logfn, char* err) {
  char name[kPgmTextSz];
  CopyBounded(name, sizeof name, logfn);
  char* dot = std::strrchr(name, '.');
  char* sep = std::strrchr(name, '/');
  char* bsep = std::strrchr(name, '\\');
  if (bsep > sep) sep = bsep;
  // Only a dot of the file name itself starts an extension.
  if (dot && (!sep || dot > sep)) *dot = '\0';
  U4 len = static_cast<U4>(std::strlen(name));
  if (len > kPgmTextSz - 5) len = kPgmTextSz - 5;
  std::memcpy(err, name, len);
  std::memcpy(err + len, ".err", 5);
}
} // namespace

void ErrFileName() {
  ErrFileNameOf(pgm_log_fn, pgm_err_fn);
}

bool LogNameUsable(const char* what, const char* fn) {
  if (ErrSet) return false;
  if (std::strlen(fn) > kPgmTextSz - 1) {
    char limit[16];
    std::snprintf(limit, sizeof limit, "%u", static_cast<unsigned>(kPgmTextSz - 1));
    SeMErrMult(what, " name longer than ", limit, " characters: \"", fn, "\"", nullptr);
    return false;
  }
  const char* cmd = log_command_file_hook ? log_command_file_hook(fn) : nullptr;
  if (cmd)
    SeMErrMult(what, " \"", fn, "\" is the command file \"", cmd, "\": choose another log name",
               nullptr);
  return !cmd;
}

bool MovePgmLog(const char* destination) {
  if (ErrSet || !pgm_log_fn[0] || !destination) return false;
  Trace("MovePgmLog:0:dstfn=%s\n", destination);
  if (SameText(destination, pgm_log_fn)) return true;
  char full[kPgmTextSz], current[kPgmTextSz];
  if (!LogNameUsable("Log file", destination)) return false;
  if (!FullPath(destination, true, full, sizeof full)) return false;
  if (!LogNameUsable("Log file", full)) return false;
  Trace("MovePgmLog:1:dstfn1=%s\n", full);
  if (!FullPath(pgm_log_fn, true, current, sizeof current)) return false;
  if (SameText(full, current) || SameFile(full, pgm_log_fn)) {
    CopyBounded(pgm_log_fn, sizeof pgm_log_fn, full);
    Trace("MovePgmLog:1:pgm_log_fn=%s\n", pgm_log_fn);
    return true;
  }
  // Everything the move would replace is checked before anything is touched.
  char newErr[kPgmTextSz];
  ErrFileNameOf(full, newErr);
  if (!MayReplace("Log file", full) || !LogNameUsable("Error file", newErr) ||
      (!SameText(newErr, pgm_err_fn) && !MayReplace("Error file", newErr)))
    return false;
  log_indent = static_cast<I2>(log_indent + 4);
  bool moved = CopyPgmLog(full);
  if (moved) {
    bool wasOpen = pgm_log_st != nullptr;
    ClosePgmLog();
    DelFile(pgm_log_fn);
    CopyBounded(pgm_log_fn, sizeof pgm_log_fn, full);
    if (wasOpen) OpenPgmLog(1);
    char oldErr[kPgmTextSz];
    CopyBounded(oldErr, sizeof oldErr, pgm_err_fn);
    ErrFileName();
    if (oldErr[0] && FileExists(oldErr, false)) moved = MyMoveFile(pgm_err_fn, oldErr);
  }
  log_indent = static_cast<I2>(log_indent - 4);
  Trace("MovePgmLog:x:pgm_log_fn=%s\n", pgm_log_fn);
  return moved && !ErrSet;
}

bool LogStToFile(const char* fn, const char* text) {
  PushErr();
  char savedFn[kPgmTextSz];
  std::memcpy(savedFn, pgm_log_fn, sizeof savedFn);
  std::FILE* savedSt = pgm_log_st;
  bool savedAppend = log_append, savedEcho = log_echo;
  U8 savedBytes = pgm_log_bytes;
  U4 savedClock = log_last_msecs;
  const bool savedFailed = log_write_failed;
  I2 savedIndent = log_indent;
  CopyBounded(pgm_log_fn, sizeof pgm_log_fn, fn ? fn : "");
  pgm_log_st = nullptr;
  log_append = true;
  log_echo = false;
  pgm_log_bytes = 0;
  log_last_msecs = 0;
  log_indent = 1;
  const char* shown = text ? text : "";
  Trace("LogStToFile:0:dstfn=%s st=%s\n", pgm_log_fn, shown);
  bool ok = false;
  if (pgm_log_fn[0] && OpenPgmLog(255)) {
    Trace("LogStToFile:1:dstfn=%s st=%s\n", pgm_log_fn, shown);
    LogStMult(shown, nullptr);
    Trace("LogStToFile:2:dstfn=%s st=%s\n", pgm_log_fn, shown);
    if (pgm_log_st && std::fflush(pgm_log_st) != 0) WriteError();
    ok = !ErrSet;
  }
  ClosePgmLog();
  Trace("LogStToFile:x:dstfn=%s st=%s\n", pgm_log_fn, shown);
  std::memcpy(pgm_log_fn, savedFn, sizeof savedFn);
  pgm_log_st = savedSt;
  log_append = savedAppend;
  log_echo = savedEcho;
  pgm_log_bytes = savedBytes;
  log_last_msecs = savedClock;
  log_write_failed = savedFailed;
  log_indent = savedIndent;
  PopErr(true);
  return ok;
}

bool LogStToFileMult(const char* fn, const char* text, ...) {
  PushErr();
  char bf[4097];
  U4 len = 0;
  bf[0] = '\0';
  va_list ap;
  va_start(ap, text);
  bool fits = true;
  for (const char* t = text; t && fits; t = va_arg(ap, const char*))
    fits = Append(bf, len, sizeof bf - 1, t);
  va_end(ap);
  if (!fits) MarkCut(bf, len);
  PopErr(true);
  return LogStToFile(fn, bf);
}

bool FileToLog(const char* fn) {
  if (!fn) {
    LogStMult("FileToLog", ":srcfn is NULL", nullptr);
    return false;
  }
  if (!*fn) {
    LogStMult("FileToLog", ":srcfn is empty", nullptr);
    return false;
  }
  if (FLDF* fd = FLOpenRead(fn)) {
    U4 number = 0;
    char num[16];
    while (const char* record = FLReadRec(fd)) {
      std::snprintf(num, sizeof num, "%u", static_cast<unsigned>(++number));
      LogStMult(fn, ":", num, ":", record, nullptr);
    }
    // The handle is closed with the error of the read kept in front.
    PushErr();
    FLClose(fd);
    PopErr(true);
  }
  if (ErrSet) {
    char msg[4096];
    ErrMessage(true, false, msg, sizeof msg);
    LogStMult("FileToLog", ":ERROR:", msg, nullptr);
    return false;
  }
  return true;
}

bool RemoveOldLogLines(const char* fn, U4 max_age_secs) {
  if (ErrSet || !fn || !*fn) return false;
  if (const char* cmd = log_command_file_hook ? log_command_file_hook(fn) : nullptr) {
    SeMErrMult("RemoveOldLogLines", ":\"", fn, "\" is the command file \"", cmd, "\"", nullptr);
    return false;
  }
  if (max_age_secs == 0) {
    if (!FileExists(fn, false)) return true;
    FLClose(FLOpenWrite(fn));
    return !ErrSet;
  }
  if (!FileExists(fn, false)) return false;
  U4 len = 0;
  char* whole = FileReadBf(fn, &len);
  std::string data(whole ? whole : "", len);
  FreeSP(&whole);
  if (ErrSet || data.empty()) return false;

  I8 now = static_cast<I8>(ClockSecs());
  bool dated = false;
  size_t keepFrom = std::string::npos;
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find_first_of("\r\n", pos);
    size_t next = end == std::string::npos ? data.size() : end + 1;
    if (end != std::string::npos && data[end] == '\r' && next < data.size() && data[next] == '\n')
      ++next;
    std::string line = data.substr(pos, (end == std::string::npos ? data.size() : end) - pos);
    U4 start = LogLineTextStart(line.c_str());
    I8 t = 0;
    if (start != 0 && StampTime(line.c_str(), start, &t)) {
      dated = true;
      if (now - t <= static_cast<I8>(max_age_secs)) {
        keepFrom = pos;
        break;
      }
    }
    pos = next;
  }
  if (keepFrom == 0) return false;
  std::string rest = keepFrom == std::string::npos ? std::string() : data.substr(keepFrom);
  if (keepFrom == std::string::npos && !dated) return false;
  // The kept lines are gathered in memory first, so that a failed write leaves the log whole.
  const char* tmp = "MRF:RemoveOldLogLines.tmp";
  FileWriteBf(tmp, rest.data(), static_cast<U4>(rest.size()), FL_WRITE);
  MyMoveFile(fn, tmp);
  DelFile(tmp);
  return !ErrSet;
}

void PushLogPreface(const char* text) {
  if (prefaceLevel + 1 >= kLogPrefaceLevels) {
    LogStack();
    CrashMe("PushLogPreface");
  }
  ++prefaceLevel;
  CopyBounded(prefaces[prefaceLevel], kLogPrefaceSize, text);
}

U2 PopLogPreface() {
  if (prefaceLevel == 0) return 0;
  U2 old = prefaceLevel;
  --prefaceLevel;
  return old;
}
