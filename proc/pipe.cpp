// Reading a command's standard output into memory, with a timeout.
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "mem/lpm.h"
#include "mem/tracked.h"
#include "platform/process.h"
#include "proc/exec.h"
#include "proc/parsecmd.h"
#include "runtime/interrupt.h"
#include "time/clock.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr U4 kTimeoutSecs = 5;
constexpr U4 kFirstBlock = 65504;
constexpr U4 kGrowBy = 65536;
constexpr U4 kChunk = 4096;
constexpr const char* kErrFile = "PipeToBfMult.err";

std::string FirstErrLine(const char* fn) {
  std::FILE* f = std::fopen(fn, "rb");
  if (!f) return "";
  char line[1024] = "";
  if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
  std::fclose(f);
  line[std::strcspn(line, "\r\n")] = '\0';
  return line;
}

// Reads the child's output until it ends or the time is up; null on error.
char* ReadAll(void* pipe, U4* size) {
  U4 cap = kFirstBlock, len = 0;
  char* bf = static_cast<char*>(AllocU1(cap));
  U4 start = ClockMsecs();
  while (bf && !ErrSet) {
    if (len + kChunk + 1 > cap) {
      cap += kGrowBy;
      bf = static_cast<char*>(ReallocU1(bf, cap, false));
      if (!bf) break;
    }
    bool eof = false;
    U4 code = 0;
    I4 got = PlatformPipeRead(pipe, bf + len, kChunk, &eof, &code);
    if (got < 0) {
      SeMLastErr("fread", nullptr, code ? code : 1);
      break;
    }
    if (got > 0) {
      len += static_cast<U4>(got);
      continue;
    }
    if (eof) {
      bf[len] = '\0';
      *size = len;
      return static_cast<char*>(ReallocU1(bf, len + 1, true));
    }
    if (ElapsedMsecs(start) / 1000 > kTimeoutSecs) {
      char secs[8];
      std::snprintf(secs, sizeof secs, "%u", kTimeoutSecs);
      SeMErrMult("timeout (tmo=", secs, ")", nullptr);
      break;
    }
    SleepMsecs(100);
  }
  FreeSP(&bf);
  return nullptr;
}

char* PipeV(U4* size, bool set_err, const char* first, va_list rest) {
  if (size) *size = 0;
  if (ErrSet || !first || !*first) return nullptr;
  std::string cmd(first);
  for (int n = 1; n < 100; ++n) {
    const char* piece = va_arg(rest, const char*);
    if (!piece) break;
    cmd += piece;
  }
  ParseCommand(cmd.c_str());
  if (cmd.find("2>&1") == std::string::npos && !parsed_cmd.stderr_fn[0]) {
    cmd += std::string(" 2> ") + (set_err ? kErrFile : PlatformNullDevice());
    ParseCommand(cmd.c_str());
  }
  if (debug_level) {
    char tmo[8];
    std::snprintf(tmo, sizeof tmo, "%u", kTimeoutSecs);
    LogStMult("PipeToBfMult", ":0:cmd=", cmd.c_str(), " tmo=", tmo,
              " errf=", set_err ? kErrFile : "", " stdinFN=", parsed_cmd.stdin_fn,
              " stdoutFN=", parsed_cmd.stdout_fn, " stderrFN=", parsed_cmd.stderr_fn,
              " append=", parsed_cmd.stderr_append ? "True" : "False", nullptr);
  }
  std::string line = cmd;
  PlatformShellLine(&line);
  PlatformChildStart start;
  start.cmd = line.c_str();
  start.own_group = true;
  start.pipe_stdout = true;
  start.no_window = daemon_pgm;
  void *child = nullptr, *pipe = nullptr;
  U4 code = 0;
  char* bf = nullptr;
  U4 got = 0;
  if (PlatformStartChild(start, &child, &pipe, &code) == 0) {
    SeMLastErr("popen", nullptr, code ? code : 1);
  } else {
    bf = ReadAll(pipe, &got);
    PlatformPipeClose(pipe);
    // A child that timed out, or went on after closing its output, is ended with what it
    // started rather than waited for.
    if (!bf || !PlatformWaitChild(child, kTimeoutSecs * 1000)) PlatformKillChild(child, &code);
    PlatformCloseChild(child);
  }
  if (set_err && !ErrSet) {
    std::string err = FirstErrLine(kErrFile);
    if (!err.empty()) SeMErrMult(err.c_str(), nullptr);
  }
  if (ErrSet) {
    FreeSP(&bf);
    got = 0;
    if (set_err)
      AddErrMult(" (cmd=", cmd.c_str(), ")", nullptr);
    else if (!InterruptRaised()) // an interrupt ends the run, whoever asked for the output
      ClearErr();
  }
  if (set_err) {
    PushErr();
    std::remove(kErrFile);
    PopErr(true);
  }
  ClearParseCommand();
  if (size) *size = got;
  return bf;
}

} // namespace

char* PipeToBfMult(U4* size, bool set_err, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* bf = PipeV(size, set_err, first, ap);
  va_end(ap);
  return bf;
}

char* PipeToLPMMult(U4* size, bool set_err, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  U4 n = 0;
  char* bf = PipeV(&n, set_err, first, ap);
  va_end(ap);
  if (size) *size = 0;
  if (!bf) return nullptr;
  char* copy = static_cast<char*>(AllocLPM(n + 1));
  if (copy) {
    std::memcpy(copy, bf, n + 1);
    if (size) *size = n;
  }
  FreeSP(&bf);
  return copy;
}

bool PipeToFileMult(const char* fn, bool set_err, const char* first, ...) {
  if (ErrSet || !fn) return false;
  va_list ap;
  va_start(ap, first);
  U4 n = 0;
  char* bf = PipeV(&n, set_err, first, ap);
  va_end(ap);
  if (!bf) return false;
  bool ok = true;
  if (n == 0) {
    std::remove(fn);
  } else if (std::FILE* f = std::fopen(fn, "wb")) {
    ok = std::fwrite(bf, 1, n, f) == n;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) SeMErrno("fwrite: fn=", fn);
  } else {
    SeMErrno("fopen: fn=", fn);
    ok = false;
  }
  FreeSP(&bf);
  return ok;
}
