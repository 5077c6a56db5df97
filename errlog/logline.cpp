#include "errlog/logline.h"

I2 log_indent = 1;
void (*log_line_hook)(const char* text, va_list rest) = nullptr;
void (*log_flush_always_hook)() = nullptr;
bool (*report_err_hook)() = nullptr;

void LogStMult(const char* text, ...) {
  if (!log_line_hook) return;
  va_list ap;
  va_start(ap, text);
  log_line_hook(text, ap);
  va_end(ap);
}

void FlushLogAlways() {
  if (log_flush_always_hook) log_flush_always_hook();
}

bool ReportPendingErr() {
  return report_err_hook && report_err_hook();
}
