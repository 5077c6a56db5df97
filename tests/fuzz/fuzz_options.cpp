// libFuzzer target: start-up and the option lookup over an argument vector made of the
// input's zero-separated pieces (the first byte picks which typed lookups run).
// Start-up is made repeatable with its test reset, and runs inside a scratch directory:
// "-HOME=" and "-LOG=" values are narrowed to plain names there, so that no run can move
// into or write to a directory outside it. Since each run starts in that directory, give
// corpus folders as absolute paths (tools/fuzz.sh does).
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "mem/lpm.h"
#include "runtime/startup.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

fs::path sandbox;
U4 real_lpm_block_sz = 0;

bool HasPrefixNoCase(const std::string& s, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// Only letters, digits and "_" survive in a directory value; anything else means "here".
void NarrowHome(std::string& arg) {
  std::string v = arg.substr(6);
  for (char c : v)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
      arg = arg.substr(0, 6) + sandbox.string();
      return;
    }
}

// A log name stays a file name in the current directory.
void NarrowLog(std::string& arg) {
  for (size_t i = 5; i < arg.size(); ++i) {
    char c = arg[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
      arg[i] = '_';
  }
  if (arg.size() > 5 && arg[5] == '.') arg.insert(5, "x");
}

// A value found by the lookup of name came from an argument that is a leading part of
// the name (at least two characters), bare or followed by "=" and that value.
void FoundInArgs(const std::vector<std::string>& args, const char* name, const char* value) {
  if (!value || std::strcmp(value, "<absent>") == 0) return;
  std::string n = name;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    for (size_t l = 2; l <= n.size(); ++l) {
      if (!HasPrefixNoCase(a, n.substr(0, l).c_str())) continue;
      if ((a.size() == l && !*value) || a.substr(l) == "=" + std::string(value)) return;
    }
  }
  __builtin_trap();
}

void CleanSandbox() {
  std::error_code ec;
  fs::current_path(sandbox, ec);
  for (const auto& e : fs::directory_iterator(sandbox, ec)) {
    if (e.path().filename() != "sub") fs::remove_all(e.path(), ec);
  }
  for (const auto& e : fs::directory_iterator(sandbox / "sub", ec))
    fs::remove_all(e.path(), ec);
}

} // namespace

// Start-up installs the program's fault handlers unless an option says otherwise; the
// sanitizers keep theirs, so that a fault is still reported with its input.
extern "C" const char* __asan_default_options() {
  return "allow_user_segv_handler=0:handle_sigill=1:handle_abort=1:handle_sigfpe=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/tapster_fuzz_opts_XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  sandbox = tmpl;
  fs::create_directory(sandbox / "sub");
  // The pool is reserved once per process; later sizes are only read, never applied.
  InternalMemInit();
  real_lpm_block_sz = lpm_block_sz;
  std::atexit([] {
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(sandbox, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ClearErr();
  CleanSandbox();
  ResetStartupForTest();
  U1 flags = data[0];
  std::vector<std::string> args{"fuzz_options"};
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  for (size_t from = 0; from <= rest.size() && args.size() < 300;) {
    size_t z = rest.find('\0', from);
    if (z == std::string::npos) z = rest.size();
    args.push_back(rest.substr(from, z - from));
    from = z + 1;
  }
  for (auto& a : args) {
    if (HasPrefixNoCase(a, "-HOME=")) NarrowHome(a);
    if (HasPrefixNoCase(a, "-LOG=")) NarrowLog(a);
  }
  std::vector<const char*> argv;
  for (const auto& a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const char* const* av = argv.data();

  ProgramInit(av);
  lpm_block_sz = real_lpm_block_sz;
  ArgText(av, nullptr);
  ClearErr(); // go on to the lookups even after an unrecognised argument

  static const char* const kNames[] = {"-count", "-name", "-ratio", "-fail", "-xy", "-DEBUG"};
  const char* name = kNames[flags % 6];
  bool redundant_ok = flags & 8;
  const char* v = ArgText(av, name, "<absent>", redundant_ok);
  if (!ErrSet) FoundInArgs(args, name, v);
  ClearErr();
  switch ((flags >> 4) & 7) {
  case 0:
    ArgU1(av, name, 7);
    break;
  case 1:
    ArgI2(av, name, -7);
    break;
  case 2:
    ArgU4(av, name, 7);
    break;
  case 3:
    ArgI8(av, name, -7);
    break;
  case 4:
    ArgDouble(av, name, 0.5);
    break;
  case 5:
    ArgBool(av, name, true);
    break;
  case 6:
    ArgU8(av, name, 7);
    break;
  default:
    ArgI1(av, name, 7);
    break;
  }
  char msg[kErrMsgSize];
  ErrMessage(true, false, msg, sizeof msg);
  ArgText(av, "", nullptr);
  ArgText(av, nullptr);
  ErrMessage(true, false, msg, sizeof msg);
  ClosePgmLog();
  return 0;
}
