#include "runtime/startup.h"

#include "console/kb.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "errlog/stacktrace.h"
#include "files/ftest.h"
#include "mem/accounting.h"
#include "mem/lpm.h"
#include "mem/memgauge.h"
#include "mem/reuse.h"
#include "mem/tracked.h"
#include "platform/stdstreams.h"
#include "proc/exec.h"
#include "runtime/fault.h"
#include "runtime/interrupt.h"
#include "runtime/optionlist.h"
#include "runtime/shutdown.h"
#include "text/numbers.h"
#include "time/clock.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

void InstallLayerHooks() {
  InstallErrStackHooks({StackCallersFrom_STC, LogStack, AllocLPM, CrashMe});
  kb_program_exit = ProgramExit;
}

namespace {
// Programs that never call ProgramInit (the tests) get the hooks as well.
[[maybe_unused]] const bool layer_hooks_installed = (InstallLayerHooks(), true);
} // namespace

void (*pgm_reuse_rings_hook)() = ReuseMemInit;
void (*pgm_mem_init_hook)() = InternalMemInit;
U4 arg_cnt = 0;

namespace {

#ifdef _WIN32
constexpr char kDirSep = '\\';
#else
constexpr char kDirSep = '/';
#endif

bool lib_pass_done = false;
// Claims of arguments beyond the fixed table, so that a long command line is still
// checked completely without indexing past the table.
std::vector<bool> arg_recognized_more;

bool PrefixNoCase(const char* st, const char* prefix) {
  for (; *prefix; ++st, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*st)) !=
        std::tolower(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

bool EqualNoCase(const char* a, const char* b) {
  return PrefixNoCase(a, b) && std::strlen(a) == std::strlen(b);
}

// Prefix match of st against the first n characters of name.
bool PrefixNoCaseN(const char* st, const char* name, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(st[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

// The text after the first "=", or null when there is none or it is empty.
const char* ValueOf(const char* arg) {
  const char* eq = std::strchr(arg, '=');
  if (!eq || !eq[1]) return nullptr;
  return eq + 1;
}

void CopyText(char* dst, const char* src, size_t size) {
  std::snprintf(dst, size, "%s", src ? src : "");
}

void Claim(U4 ix) {
  if (ix < kArgTableSz) {
    arg_recognized[ix] = true;
  } else {
    if (arg_recognized_more.size() <= ix - kArgTableSz)
      arg_recognized_more.resize(ix - kArgTableSz + 1);
    arg_recognized_more[ix - kArgTableSz] = true;
  }
}

bool Claimed(U4 ix) {
  if (ix < kArgTableSz) return arg_recognized[ix];
  U4 k = ix - kArgTableSz;
  return k < arg_recognized_more.size() && arg_recognized_more[k];
}

// Exact name: true; name followed by "=" and a value: TrueWord of it; otherwise unchanged.
void FlagOption(const char* arg, const char* name, bool* setting) {
  if (EqualNoCase(arg, name)) {
    *setting = true;
    return;
  }
  size_t n = std::strlen(name);
  if (PrefixNoCase(arg, name) && arg[n] == '=' && arg[n + 1]) *setting = TrueWord(arg + n + 1);
}

// Deletes a file that may not exist; false when it exists and stays.
bool DeleteOldFile(const char* fn) {
  if (!fn || !*fn) return true;
  if (std::remove(fn) == 0) return true;
  if (errno == ENOENT) return true;
  std::FILE* f = std::fopen(fn, "rb");
  if (!f) return errno == ENOENT;
  std::fclose(f);
  return false;
}

const char* FileNamePart(const char* path) {
  const char* p = path;
  if (std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') p += 2;
  for (const char* q = p; *q; ++q) {
    if (*q == '\\' || *q == '/') p = q + 1;
  }
  return p;
}

void CurrentDir(char* bf, size_t size) {
  if (!PlatformGetCwd(bf, static_cast<U4>(size))) {
    bf[0] = 0;
    return;
  }
  size_t n = std::strlen(bf);
  if (n > 1 && (bf[n - 1] == '\\' || bf[n - 1] == '/')) bf[n - 1] = 0;
}

void ProgramInitStreams() {
  I4* fnos[3] = {&stdin_fno, &stdout_fno, &stderr_fno};
  void** handles[3] = {&stdin_handle, &stdout_handle, &stderr_handle};
  bool* redirected[3] = {&stdin_redirected, &stdout_redirected, &stderr_redirected};
  for (int i = 0; i < 3; ++i) {
    int fd = PlatformStreamFileNo(i);
    if (fd < 0) continue;
    *fnos[i] = fd;
    *redirected[i] = !PlatformStreamIsTerminal(fd);
    *handles[i] = PlatformStdHandle(i);
    if (i > 0) PlatformSetBinary(fd);
  }
}

// The command file ("@" argument) that is the same file as fn, whatever the spelling, or
// null: the log must never empty or delete a file the run is about to read.
const char* CommandFileNamed(const char* const* argv, const char* fn) {
  for (U4 i = 1; argv[i]; ++i)
    if (argv[i][0] == '@' && SameFile(argv[i] + 1, fn)) return argv[i] + 1;
  return nullptr;
}

// The "@" arguments of the run, kept for the log's checks after start-up.
std::vector<std::string> command_files;

const char* StartCommandFile(const char* fn) {
  for (const std::string& cmd : command_files)
    if (SameFile(cmd.c_str(), fn)) return cmd.c_str();
  return nullptr;
}

// Step 10: the default log name, falling back to a unique one when the old file is held
// or is a command file of the run.
void DefaultLogName(const char* const* argv) {
  CopyText(pgm_log_fn, (std::string(home_dir) + kDirSep + pgm_name + ".log").c_str(), kPgmTextSz);
  if (pgm_log_dbg) std::printf("ProgramInit:2:pgm_log_fn=%s\n", pgm_log_fn);
  const bool clash = CommandFileNamed(argv, pgm_log_fn) != nullptr;
  if (!clash && (log_append || DeleteOldFile(pgm_log_fn))) return;
  char hex[24];
  std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(ClockUsecs()));
  CopyText(pgm_log_fn, (std::string(home_dir) + kDirSep + pgm_name + "_" + hex + ".log").c_str(),
           kPgmTextSz);
  if (pgm_log_dbg) std::printf("ProgramInit:4:pgm_log_fn=%s\n", pgm_log_fn);
  DeleteOldFile(pgm_log_fn);
}

// The library pass of the first ArgText call. False when an option failed.
bool LibraryPass(const char* const* argv) {
  static const char* const kClaimedOnly[] = {"-lpm_block_sz=",
                                             "-lpm_max_sz=",
                                             "-log_malloc_callers",
                                             "-log_mem_callers",
                                             "-mem_dbg",
                                             "-malloc_dbg",
                                             "-reuse_mem_ena",
                                             "-appendlog",
                                             "-pgm_log_dbg",
                                             "-fault_handler_ena",
                                             "-add_vectored_exception_handler",
                                             "-daemon_pgm"};
  U4 last = arg_cnt > 0 ? arg_cnt - 1 : 0;
  if (last > kArgTableSz - 1) last = kArgTableSz - 1;
  for (U4 i = 1; i <= last; ++i) {
    const char* arg = argv[i];
    const char* value = ValueOf(arg);
    bool done = false;
    for (const char* name : kClaimedOnly) {
      if (PrefixNoCase(arg, name)) {
        arg_recognized[i] = true;
        done = true;
        break;
      }
    }
    if (done) continue;
    if (IsHelpArg(arg) || IsVersionArg(arg)) {
      arg_recognized[i] = true; // the program answers them itself
    } else if (PrefixNoCase(arg, "-DEBUG")) {
      arg_recognized[i] = true;
      debug_level = 1;
      if (value) {
        U4 pidx = 0;
        U1 level = St10U1(value, 0, 0, &pidx, false);
        debug_level = pidx == kAllU4 ? level : TrueWord(value) ? 1 : 0;
      }
    } else if (PrefixNoCase(arg, "-BELL")) {
      arg_recognized[i] = true;
      bell_ena = value ? TrueWord(value) : true;
    } else if (PrefixNoCase(arg, "-HOME=") && value) {
      arg_recognized[i] = true;
      char cwd[kPgmTextSz];
      CurrentDir(cwd, sizeof cwd);
      if (!EqualNoCase(value, cwd)) {
        // Relative names of the open log and its error file would mean other files there.
        char full[kPgmTextSz];
        if (pgm_log_fn[0] && PlatformFullPath(pgm_log_fn, full, sizeof full))
          CopyText(pgm_log_fn, full, kPgmTextSz);
        if (pgm_err_fn[0] && PlatformFullPath(pgm_err_fn, full, sizeof full))
          CopyText(pgm_err_fn, full, kPgmTextSz);
        if (!PlatformChDir(value)) {
          SeMErrMult("Failure changing to directory ", value, nullptr);
          return false;
        }
        // A relative value would mean something else once we are in it.
        CurrentDir(home_dir, kPgmTextSz);
        if (!home_dir[0]) CopyText(home_dir, value, kPgmTextSz);
        std::string dst = std::string(home_dir) + kDirSep + FileNamePart(pgm_log_fn);
        if (pgm_log_fn[0] && !EqualNoCase(dst.c_str(), pgm_log_fn)) MovePgmLog(dst.c_str());
        if (ErrSet) return false;
      }
    } else if (PrefixNoCase(arg, "-LOG=") && value) {
      arg_recognized[i] = true;
    } else if (PrefixNoCase(arg, "-ZorvsPC")) {
      arg_recognized[i] = true;
      zorvs_pc = value ? TrueWord(value) : true;
    } else if (PrefixNoCase(arg, "-PauseOnError")) {
      arg_recognized[i] = true;
      pause_on_error = value ? TrueWord(value) : true;
    }
  }
  return true;
}

// The option lookup: any leading part of name of at least two characters.
const char* Lookup(const char* const* argv, const char* name, const char* dflt,
                   bool allow_redundant) {
  size_t len = std::strlen(name);
  const char* found = nullptr;
  arg_found_ix = 0;
  for (size_t n = len; n >= 2; --n) {
    for (U4 i = 1; i < arg_cnt; ++i) {
      const char* arg = argv[i];
      if (!PrefixNoCaseN(arg, name, n)) continue;
      const char* value;
      if (arg[n] == 0)
        value = "";
      else if (arg[n] == '=')
        value = arg + n + 1;
      else
        continue;
      if (!found) {
        found = value;
        arg_found_ix = static_cast<U2>(i < 65535 ? i : 65535);
        Claim(i);
      } else if (allow_redundant) {
        Claim(i);
      } else {
        SeMErrMult("Redundant argument \"", arg, "\"", nullptr);
        return nullptr;
      }
    }
    if (n == 2) break;
  }
  return found ? found : dflt;
}

// Common part of the typed lookups: null for "use the default", "" for a bare flag.
const char* TypedValue(const char* const* argv, const char* name, bool* failed) {
  *failed = false;
  const char* v = ArgText(argv, name, nullptr, false);
  if (ErrSet) *failed = true;
  return v;
}

const char* FoundArg(const char* const* argv) {
  return arg_found_ix && arg_found_ix < arg_cnt ? argv[arg_found_ix] : "";
}

// Rewrites the parser's message into the option's message.
void InvalidValue(const char* const* argv) {
  char msg[kErrMsgSize];
  msg[0] = 0;
  ErrMessage(false, false, msg, sizeof msg);
  SeMErrMult("Invalid argument value in \"", FoundArg(argv), "\": ", msg, nullptr);
}

template <typename T, typename Parse>
T TypedLookup(const char* const* argv, const char* name, T dflt, Parse parse) {
  bool failed = false;
  const char* v = TypedValue(argv, name, &failed);
  if (failed) return 0;
  if (!v) return dflt;
  if (!*v) return static_cast<T>(1);
  T r = parse(v);
  if (ErrSet) {
    InvalidValue(argv);
    return 0;
  }
  return r;
}

} // namespace

bool EnvBool(const char* name, bool dflt) {
  const char* v = std::getenv(name);
  if (!v) return dflt;
  if (!*v) return true;
  return TrueWord(v);
}

const char* ProgramName() {
  if (pgm_name[0]) return pgm_name;
  char path[kPgmTextSz];
  if (!PlatformImagePath(path, sizeof path) || !path[0]) {
    CopyText(pgm_image_path, "?", kPgmTextSz);
    CopyText(pgm_image_fn, "?", kPgmTextSz);
    CopyText(pgm_name, "?", kPgmTextSz);
    return pgm_name;
  }
  CopyText(pgm_image_path, path, kPgmTextSz);
  CopyText(pgm_image_fn, FileNamePart(path), kPgmTextSz);
  CopyText(pgm_name, pgm_image_fn, kPgmTextSz);
  char* dot = std::strrchr(pgm_name, '.');
  if (dot && dot != pgm_name) *dot = 0;
  if (!pgm_name[0]) {
    CopyText(pgm_image_path, "?", kPgmTextSz);
    CopyText(pgm_image_fn, "?", kPgmTextSz);
    CopyText(pgm_name, "?", kPgmTextSz);
  }
  return pgm_name;
}

void ProgramInit(const char* const* argv) {
  if (ErrSet || pgm_pid != 0 || !argv || !argv[0]) return;
  InstallLayerHooks();
  // 1. Options that memory set-up and the fault handlers need before anything else.
  bool daemon_by_option = false; // an explicit choice either way beats the stream test
  for (U4 i = 1; argv[i]; ++i) {
    const char* arg = argv[i];
    const char* value = ValueOf(arg);
    if (PrefixNoCase(arg, "-lpm_block_sz=") && value) {
      lpm_block_sz = static_cast<U4>(std::atoi(value));
    } else if (PrefixNoCase(arg, "-lpm_max_sz=") && value) {
      lpm_max_sz = static_cast<U4>(std::atoi(value));
    } else if (EqualNoCase(arg, "-mem_dbg")) {
      mem_dbg = 1;
    } else if (PrefixNoCase(arg, "-mem_dbg=") && value) {
      mem_dbg = St10U2(value, 0, 0, nullptr, false);
    }
    FlagOption(arg, "-fault_handler_ena", &fault_handler_ena);
    FlagOption(arg, "-add_vectored_exception_handler", &add_vectored_exception_handler);
    FlagOption(arg, "-daemon_pgm", &daemon_pgm);
    if (PrefixNoCase(arg, "-daemon_pgm") && (arg[11] == 0 || (arg[11] == '=' && arg[12])))
      daemon_by_option = true;
    FlagOption(arg, "-reuse_mem_ena", &reuse_mem_ena);
    FlagOption(arg, "-malloc_dbg", &malloc_dbg);
  }
  // 2, 3. Memory tracking.
  if (pgm_reuse_rings_hook) pgm_reuse_rings_hook();
  memgauge_run_hook = [](const char* cmd, U4* size) {
    return PipeToBfMult(size, true, cmd, nullptr);
  };
  mem_code_location_hook = [] { return static_cast<const char*>(code_location); };
  if (pgm_mem_init_hook) pgm_mem_init_hook();
  // 4 - 6.
  const U2 probe = 0x1234;
  big_endian = *reinterpret_cast<const unsigned char*>(&probe) != 0x34;
  pgm_pid = PlatformPid();
  zorvs_pc = EnvBool("zorvs_pc", false) || EnvBool("ZORVS_PC", false) || EnvBool("ZorvsPC", false);
  pgm_start_msecs = ClockMsecs64();
  command_files.clear();
  for (U4 i = 1; argv[i]; ++i)
    if (argv[i][0] == '@') command_files.emplace_back(argv[i] + 1);
  log_command_file_hook = StartCommandFile;
  // 7. Home directory.
  if (!PlatformGetCwd(home_dir, kPgmTextSz)) {
    home_dir[0] = 0;
    SeMErrno("getcwd");
    return;
  }
  CurrentDir(home_dir, kPgmTextSz);
  // 8. Log options.
  bool log_from_option = false;
  for (U4 i = 1; argv[i]; ++i) {
    const char* arg = argv[i];
    const char* value = ValueOf(arg);
    if (PrefixNoCase(arg, "-LOG=") && value) {
      // A name cut to fit would put the log into another file.
      if (LogNameUsable("Log file", value))
        CopyText(pgm_log_fn, value, kPgmTextSz);
      else
        pgm_log_fn[0] = 0;
      log_from_option = true;
    } else if (EqualNoCase(arg, "-appendlog") || PrefixNoCase(arg, "-appendlog=")) {
      log_append = value ? TrueWord(value) : EqualNoCase(arg, "-appendlog");
      if (pgm_log_dbg) std::printf("ProgramInit:0:log_append=%d\n", log_append ? 1 : 0);
    } else if (EqualNoCase(arg, "-pgm_log_dbg") || PrefixNoCase(arg, "-pgm_log_dbg=")) {
      pgm_log_dbg = value ? TrueWord(value) : EqualNoCase(arg, "-pgm_log_dbg");
      if (pgm_log_dbg) std::printf("ProgramInit:1:pgm_log_dbg=%d\n", 1);
    }
  }
  // 9 - 12. Who the program is, and its log.
  pgm_module_instance = PlatformModuleInstance();
  pgm_process_handle = PlatformProcessHandle();
  ProgramName();
  if (!log_from_option) DefaultLogName(argv);
  if (!LogNameUsable("Log file", pgm_log_fn)) {
    pgm_log_fn[0] = 0; // nothing of the log touches it, at exit either
  } else {
    ErrFileName();
    if (!LogNameUsable("Error file", pgm_err_fn)) pgm_err_fn[0] = 0;
  }
  static bool err_file_deleted = false;
  if (!err_file_deleted && pgm_err_fn[0] && !CommandFileNamed(argv, pgm_err_fn)) {
    err_file_deleted = true;
    DeleteOldFile(pgm_err_fn);
  }
  // 13 - 15. The streams are examined before the log opens: a file opened now would
  // take the number of a missing stream.
  ProgramInitStreams();
  PlatformFillMissingStreams();
  OpenPgmLog(255);
  if (!daemon_by_option && stdin_fno < 0 && stdout_fno < 0 && stderr_fno < 0) daemon_pgm = true;
  int n = PlatformProcessorCount();
  processor_cnt = static_cast<I2>(n < 1 ? 1 : n > 32767 ? 32767 : n);
  const char* failed = "";
  U4 code = 0;
  if (!InstallInterruptHandlers(&failed, &code)) {
    // The run goes on; Ctrl-C then ends it the system's way, and the log says why.
    PushErr();
    SeMLastErr(failed, nullptr, code);
    char msg[kErrMsgSize];
    ErrMessage(false, false, msg, sizeof msg);
    PopErr(false);
    LogStMult("InstallInterruptHandlers", ":", "ERROR(ignored): ", msg, nullptr);
  }
  // 16.
  if (fault_handler_ena) InstallFaultHandlers(add_vectored_exception_handler);
}

const char* ArgText(const char* const* argv, const char* name, const char* dflt,
                    bool allow_redundant) {
  if (ErrSet) return nullptr;
  if (!argv) return name && !*name ? dflt : nullptr;
  if (!lib_pass_done) {
    lib_pass_done = true;
    arg_cnt = 0;
    while (argv[arg_cnt])
      ++arg_cnt;
    if (!LibraryPass(argv)) return nullptr;
  }
  if (ErrSet) return nullptr;
  if (!name) {
    for (U4 i = 1; i < arg_cnt; ++i) {
      if (argv[i][0] == '-' && !Claimed(i)) {
        SeMErrMult("Unrecognized argument \"", argv[i], "\"", nullptr);
        return nullptr;
      }
    }
    return nullptr;
  }
  if (!*name) {
    for (U4 i = 1; i < arg_cnt; ++i) {
      if (argv[i][0] != '-') return argv[i];
    }
    return dflt;
  }
  if (std::strlen(name) < 2) return dflt;
  return Lookup(argv, name, dflt, allow_redundant);
}

U1 ArgU1(const char* const* argv, const char* name, U1 dflt) {
  return TypedLookup<U1>(argv, name, dflt,
                         [](const char* v) { return St10U1(v, 0, 0, nullptr, true); });
}
U2 ArgU2(const char* const* argv, const char* name, U2 dflt) {
  return TypedLookup<U2>(argv, name, dflt,
                         [](const char* v) { return St10U2(v, 0, 0, nullptr, true); });
}
U4 ArgU4(const char* const* argv, const char* name, U4 dflt) {
  return TypedLookup<U4>(argv, name, dflt,
                         [](const char* v) { return St10U4(v, 0, 0, nullptr, true); });
}
U8 ArgU8(const char* const* argv, const char* name, U8 dflt) {
  return TypedLookup<U8>(argv, name, dflt,
                         [](const char* v) { return St10U8(v, 0, 0, nullptr, true); });
}
I1 ArgI1(const char* const* argv, const char* name, I1 dflt) {
  return TypedLookup<I1>(argv, name, dflt,
                         [](const char* v) { return St10I1(v, 0, 0, nullptr, true); });
}
I2 ArgI2(const char* const* argv, const char* name, I2 dflt) {
  return TypedLookup<I2>(argv, name, dflt,
                         [](const char* v) { return St10I2(v, 0, 0, nullptr, true); });
}
I4 ArgI4(const char* const* argv, const char* name, I4 dflt) {
  return TypedLookup<I4>(argv, name, dflt,
                         [](const char* v) { return St10I4(v, 0, 0, nullptr, true); });
}
I8 ArgI8(const char* const* argv, const char* name, I8 dflt) {
  return TypedLookup<I8>(argv, name, dflt,
                         [](const char* v) { return St10I8(v, 0, 0, nullptr, true); });
}
double ArgDouble(const char* const* argv, const char* name, double dflt) {
  return TypedLookup<double>(argv, name, dflt,
                             [](const char* v) { return StFF8(v, 0, 0, nullptr, true); });
}

bool ArgBool(const char* const* argv, const char* name, bool dflt) {
  bool failed = false;
  const char* v = TypedValue(argv, name, &failed);
  if (failed) return false;
  if (!v) return dflt;
  if (!*v || TrueWord(v)) return true;
  if (FalseWord(v)) return false;
  SeMErrMult("Invalid argument value in \"", FoundArg(argv), "\"", nullptr);
  return false;
}

void ResetStartupForTest() {
  lib_pass_done = false;
  arg_cnt = 0;
  arg_found_ix = 0;
  arg_recognized_more.clear();
  for (bool& b : arg_recognized)
    b = false;
  lpm_block_sz = 0x100000;
  lpm_max_sz = 0;
  reuse_mem_ena = true;
  mem_dbg = 0;
  malloc_dbg = false;
  fault_handler_ena = true;
  add_vectored_exception_handler = true;
  log_append = false;
  pgm_log_dbg = false;
  daemon_pgm = false;
  debug_level = 0;
  bell_ena = true;
  pause_on_error = false;
  pgm_pid = 0;
}
