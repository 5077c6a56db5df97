#include "proc/parsecmd.h"

#include "errlog/errstack.h"
#include "platform/process.h"
#include "text/match.h"

#include <cctype>
#include <cstdio>
#include <cstring>

ParsedCommand parsed_cmd;

namespace {

constexpr size_t kWorkAreaSz = 65536;

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

bool EndsWord(char c) {
  return c == '\0' || Blank(c) || c == '<' || c == '>';
}

void SetName(char* dst, const std::string& name) {
  std::snprintf(dst, kPgmTextSz, "%.300s", name.c_str());
}

// A quoted text from the quote at s[i]: the text between the quotes; an unclosed quote
// takes the rest, quote included. i ends behind it.
std::string Quoted(const std::string& s, size_t& i) {
  char q = s[i];
  size_t close = s.find(q, i + 1);
  if (close == std::string::npos) {
    std::string rest = s.substr(i);
    i = s.size();
    return rest;
  }
  std::string text = s.substr(i + 1, close - i - 1);
  i = close + 1;
  return text;
}

// The redirection at s[i] ('<' or '>'); to_stderr when a "2" led it.
void Redirection(const std::string& s, size_t& i, bool to_stderr) {
  char kind = s[i++];
  bool append = kind == '>' && i < s.size() && s[i] == '>';
  if (append) ++i;
  while (i < s.size() && Blank(s[i]))
    ++i;
  std::string name;
  if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
    name = Quoted(s, i);
  } else {
    size_t start = i;
    while (i < s.size() && !EndsWord(s[i]))
      ++i;
    name = s.substr(start, i - start);
  }
  if (kind == '<') {
    SetName(parsed_cmd.stdin_fn, name);
  } else if (to_stderr) {
    SetName(parsed_cmd.stderr_fn, name);
    parsed_cmd.stderr_append = append;
  } else {
    SetName(parsed_cmd.stdout_fn, name);
    parsed_cmd.stdout_append = append;
  }
}

// "&0", "&1", "&2" in one name become the name of that stream.
void ResolveReference(char* name, const char* zero, const char* one, const char* two) {
  if (name[0] != '&' || name[2] != '\0') return;
  const char* target = name[1] == '0'   ? zero
                       : name[1] == '1' ? one
                       : name[1] == '2' ? two
                                        : nullptr;
  if (target && target != name) {
    char copy[kPgmTextSz];
    size_t n = strnlen(target, kPgmTextSz - 1);
    std::memcpy(copy, target, n);
    std::memcpy(name, copy, n);
    name[n] = '\0';
  }
}

void NullDeviceIn(char* name) {
  std::string text(name);
  NullDeviceWords(&text);
  SetName(name, text);
}

} // namespace

void NullDeviceWords(std::string* text) {
  static const char kWord[] = "/dev/null";
  const size_t n = sizeof kWord - 1;
  const char* dev = PlatformNullDevice();
  for (size_t at = 0; at + n <= text->size();) {
    bool same = StPrefix(text->c_str() + at, kWord, static_cast<U4>(n), false);
    bool whole =
        same && (at == 0 || !std::isalnum(static_cast<unsigned char>((*text)[at - 1]))) &&
        (at + n == text->size() || !std::isalnum(static_cast<unsigned char>((*text)[at + n])));
    if (whole) {
      text->replace(at, n, dev);
      at += std::strlen(dev);
    } else {
      ++at;
    }
  }
}

void ClearParseCommand() {
  parsed_cmd = ParsedCommand();
}

void ParseCommand(const char* cmd) {
  ClearParseCommand();
  if (!cmd || ErrSet) return;
  std::string s(cmd, strnlen(cmd, kWorkAreaSz - 1));
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (Blank(c)) {
      ++i;
    } else if (c == '<' || c == '>') {
      Redirection(s, i, false);
    } else if (c == '2' && i + 1 < s.size() && s[i + 1] == '>') {
      ++i; // a "2" that begins a word leads the redirection of standard error
      Redirection(s, i, true);
    } else if (c == '"' || c == '\'') {
      parsed_cmd.args.push_back(Quoted(s, i));
    } else {
      // Quoted parts inside a word belong to it, blanks in them included.
      size_t start = i;
      while (i < s.size() && !EndsWord(s[i])) {
        if (s[i] == '"' || s[i] == '\'') {
          size_t close = s.find(s[i], i + 1);
          i = close == std::string::npos ? s.size() : close + 1;
        } else {
          ++i;
        }
      }
      parsed_cmd.args.push_back(s.substr(start, i - start));
    }
  }
  ParsedCommand& p = parsed_cmd;
  for (int pass = 0; pass < 2; ++pass) {
    ResolveReference(p.stdin_fn, p.stdin_fn, p.stdout_fn, p.stderr_fn);
    ResolveReference(p.stdout_fn, p.stdin_fn, p.stdout_fn, p.stderr_fn);
    ResolveReference(p.stderr_fn, p.stdin_fn, p.stdout_fn, p.stderr_fn);
  }
  NullDeviceIn(p.stdin_fn);
  NullDeviceIn(p.stdout_fn);
  NullDeviceIn(p.stderr_fn);
}
