#include "app/driver.h"

#include "app/simcmd.h"
#include "errlog/errstack.h"
#include "files/fldf.h"
#include "runtime/interrupt.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"
#include "text/match.h"
#include "text/numbers.h"
#include "time/clock.h"

#include <cstdio>

const char* const tapster_usage =
    "Keyboard/Mouse Simulation Utility\n"
    "---------------------------------\n"
    "Usage:\n"
    "\tTapster {win}/{key}/{ud}/{y}/{x}\n"
    "where:\n"
    "\t{win} = Window name (\"~\" is wild-card character)\n"
    "\t{key} = Key or button name\n"
    "\t{u/d} = Up/down code: \"D\", \"U\", or \"\"DU\" (default = \"DU\")\n"
    "\t{y}   = Y coordinate\n"
    "\t{x}   = X coordinate\n";

namespace {
constexpr U2 kDefaultTimeoutMsecs = 2000;
constexpr U4 kPauseMsecs = 500;

void Echo(const char* cmd) {
  std::printf("%s\n", cmd);
  std::fflush(stdout);
}

// Every line of the file is one command; the file is closed even when a command failed.
void RunFile(const char* fn, U2 timeoutMsecs) {
  FLDF* fd = FLOpenRead(fn);
  while (const char* rec = FLReadRec(fd)) {
    Echo(rec);
    SimCmd(rec, timeoutMsecs);
  }
  PushErr();
  fd = FLClose(fd);
  PopErr(true);
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

  if (ErrSet) {
    char message[4096];
    ErrMessage(true, false, message, sizeof message);
    std::printf("ERROR: %s\n", message);
    std::fflush(stdout);
    // The error has been shown; the orderly end still closes the log and ends children.
    return ProgramExit(1);
  }
  return ProgramExit(255);
}
