#include "errlog/notify.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/syserr.h"
#include "text/numfmt.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr U4 kMsgSize = 4096;

// Appends bytes to the error file; false when it cannot be written.
bool AppendErrFile(const char* bf, size_t len) {
  if (!pgm_err_fn[0]) return false;
  std::FILE* f = std::fopen(pgm_err_fn, "ab");
  if (!f) return false;
  bool ok = std::fwrite(bf, 1, len, f) == len;
  return std::fclose(f) == 0 && ok;
}

// A text that the session did not take goes straight into the log, or where there is no
// log into the error file, so that neither the report nor the failure is lost.
void WriteAside(const char* text) {
  if (pgm_log_st) {
    std::fwrite(text, 1, std::strlen(text), pgm_log_st);
    std::fwrite("\r\n", 1, 2, pgm_log_st);
    if (log_flush) std::fflush(pgm_log_st);
  } else {
    std::string line = std::string(text) + "\r\n";
    AppendErrFile(line.data(), line.size());
  }
}

// Sends text to the interactive session; on failure its own error and text go aside.
void ToSession(const char* title, const char* text, bool textLogged) {
  if (PlatformSessionMessage(title, text)) return;
  SeMLastErr("WTSSendMessage");
  char failure[kMsgSize];
  ErrMessage(true, false, failure, sizeof failure);
  if (!textLogged) WriteAside(text);
  WriteAside(failure);
}

} // namespace

void ShowErr() {
  if (!ErrSet) return;
  char msg[kMsgSize];
  ErrMessage(true, false, msg, sizeof msg);
  if (!daemon_pgm) {
    if (!stderr_redirected && bell_ena)
      std::fprintf(stderr, "%c%s\n", 7, msg);
    else
      std::fprintf(stderr, "%s\n", msg);
    std::fflush(stderr);
    return;
  }
  ToSession(pgm_name, msg, false);
}

bool ProcessErr(U1 bell, bool ignored) {
  if (!ErrSet) return false;
  bool ring = bell == 255 ? bell_ena : bell != 0;
  char msg[kMsgSize];
  ErrMessage(true, false, msg, sizeof msg);

  // Messages quote names from outside (windows, files): a line end in one must not make a
  // line of its own in the log or the error file.
  char line[kMsgSize];
  PrintableText_MyBf(msg, kAllU4, sizeof line - 1, line, sizeof line);
  log_err_line = true;
  LogStMult(ignored ? "ERROR(ignored): " : "ERROR: ", line, nullptr);
  ShowErr();
  log_err_line = false;

  if (err_file_ena && pgm_err_fn[0]) {
    if (!AppendErrFile(log_line, std::strlen(log_line)))
      SeMErrMult("Write error on \"", pgm_err_fn, "\"", nullptr);
    ShowErr();
  }

  if (ring && log_echo && !daemon_pgm) {
    std::printf("%c", 7);
    std::fflush(stdout);
  }

  if (daemon_pgm) {
    std::string title = std::string(pgm_image_fn) + ": Error";
    ToSession(title.c_str(), msg, true);
  }

  // A log that cannot take the line (a full disk) shows up here at the latest.
  if (pgm_log_st && std::fflush(pgm_log_st) != 0) {
    SeMErrMult("Write error on \"", pgm_log_fn, "\"", nullptr);
    ShowErr();
  }
  return true;
}

namespace {
bool ReportWithSettings() {
  return ProcessErr();
}
// Units below the report use it through this.
[[maybe_unused]] const bool hook_set = (report_err_hook = ReportWithSettings, true);
} // namespace
