#include "app/driver.h"

#include "app/heldinput.h"
#include "app/helptext.h"
#include "app/simcmd.h"
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "files/fldf.h"
#include "platform/stdstreams.h"
#include "runtime/interrupt.h"
#include "runtime/optionlist.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"
#include "text/match.h"
#include "text/numbers.h"
#include "time/clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
constexpr U2 kDefaultTimeoutMsecs = 2000;
constexpr U4 kPauseMsecs = 500;

// True when the text reached standard output; false also when there is none.
bool PrintOut(const char* format, const char* text) {
  if (stdout_fno < 0) return false;
  errno = 0;
  std::clearerr(stdout);
  std::printf(format, text);
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// A reader that went away, or a full disk, ends the run like any failing command; a
// program started without standard output (none, or a closed one) runs silently.
void Echo(const char* cmd) {
  if (stdout_fno < 0 || PrintOut("%s\n", cmd) || errno == EBADF) return;
  SeMErrno("Write error on standard output", nullptr, errno ? errno : EIO);
}

// The error line goes to standard output; the orderly end then writes it to the log and
// the error file and, for a daemon, to the session.
int ErrorEnd() {
  // Nothing held may stay down while the output or the report waits.
  RunErrorEndHook();
  char message[4096];
  ErrMessage(true, true, message, sizeof message);
  // Once the user has the line, the console needs neither a second copy nor a bell.
  if (PrintOut("ERROR: %s\n", message)) log_echo = false;
  return ProgramExit(255);
}

// Editors such as Notepad start a UTF-8 file with a byte-order mark; it is not part of
// the first command.
const char* SkipByteOrderMark(const char* rec) {
  return std::strncmp(rec, "\xEF\xBB\xBF", 3) == 0 ? rec + 3 : rec;
}

// Every line of the file is one command; the file is closed even when a command failed.
void RunFile(const char* fn, U2 timeoutMsecs) {
  FLDF* fd = FLOpenRead(fn);
  bool first = true;
  while (const char* rec = CheckInterrupt() ? nullptr : FLReadRec(fd)) {
    if (first) rec = SkipByteOrderMark(rec);
    first = false;
    Echo(rec);
    SimCmd(rec, timeoutMsecs);
  }
  PushErr();
  fd = FLClose(fd);
  PopErr(true);
}

// --help or --version anywhere on the line answers instead of running the commands, before
// start-up: the answer needs neither the log nor the handlers.
bool AnswerInfoArg(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (IsHelpArg(argv[i]) || IsVersionArg(argv[i])) {
      std::string text = IsHelpArg(argv[i]) ? HelpText() : VersionText();
      // Lines end in "\n" here as they do after start-up, which sets the same mode.
      const int out = PlatformStreamFileNo(1);
      if (out >= 0) PlatformSetBinary(out);
      std::fputs(text.c_str(), stdout);
      std::fflush(stdout);
      return true;
    }
  }
  return false;
}
} // namespace

void RunArguments(int argc, char** argv) {
  U2 timeoutMsecs = kDefaultTimeoutMsecs;
  for (int i = 1; i < argc && !CheckInterrupt(); ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') continue;
    if (i > 1) SleepMsecs(kPauseMsecs);
    if (StPrefix(arg, "/TMO=", 5, false)) {
      timeoutMsecs = St10U2(arg + 5, 1, 1, nullptr, true);
    } else if (arg[0] == '@') {
      RunFile(arg + 1, timeoutMsecs);
    } else {
      Echo(arg);
      SimCmd(arg, timeoutMsecs);
    }
  }
}

int TapsterMain(int argc, char** argv) {
  PlatformIgnoreBrokenPipe();
  if (AnswerInfoArg(argc, argv)) return 0;
  SetErrorEndHook(ReleaseHeldInput);
  ProgramInit(argv);
  ArgText(argv, nullptr);
  if (ErrSet) return ProgramExit(255);
  if (argc <= 1) {
    std::printf("%s", tapster_usage);
    std::fflush(stdout);
    // The orderly end closes the log; the status stays that of the usage text.
    return ProgramExit(1);
  }

  RunArguments(argc, argv);

  if (ErrSet) return ErrorEnd();
  return ProgramExit(255);
}
