// libFuzzer target: the splitting of a command line into arguments and redirections.
// Input: the command text (up to its first zero byte).
// Besides the sanitizers: no error is ever pushed, and a line without quotes or
// redirections splits exactly at its blanks and tabs.
#include "errlog/errstack.h"
#include "proc/parsecmd.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearErr();
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string cmd = in.substr(0, in.find('\0'));
  ParseCommand(cmd.c_str());
  CHECK(!ErrSet);
  const ParsedCommand& p = parsed_cmd;
  for (const char* fn : {p.stdin_fn, p.stdout_fn, p.stderr_fn})
    CHECK(std::strlen(fn) <= 300);
  if (cmd.find_first_of("\"'<>") == std::string::npos) {
    CHECK(p.args == Words(cmd));
    CHECK(!p.stdin_fn[0] && !p.stdout_fn[0] && !p.stderr_fn[0]);
  }
  std::string text = cmd;
  NullDeviceWords(&text);
  ClearParseCommand();
  CHECK(parsed_cmd.args.empty() && !ErrSet);
  return 0;
}
