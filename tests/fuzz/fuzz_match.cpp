// libFuzzer target: the matcher, the search functions and the replace family.
// Input: one flag byte, then text, a zero byte, pattern, a zero byte, replacement.
// Besides the sanitizers, each function is checked against a plain model of what it means:
// the reference matcher, std::string::find and a naive replace-all.
#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "mem/tracked.h"
#include "tests/textmatch/reference_match.h"
#include "text/match.h"
#include "text/numbers.h"
#include "text/strbuild.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Next zero-separated piece of the input, and what comes after it.
std::string Piece(std::string& rest) {
  size_t z = rest.find('\0');
  std::string p = rest.substr(0, z);
  rest = z == std::string::npos ? std::string() : rest.substr(z + 1);
  return p;
}

void MatcherModels(const std::string& text, const std::string& pat) {
  const char* st = text.c_str();
  const char* pt = pat.c_str();
  bool wild = pat.find('~') != std::string::npos;
  bool m = StMatch(st, pt, '~', true);
  // No backtracking: what it accepts is a real match, and without "~" it is equality.
  if (!wild) CHECK(m == (text == pat));
  if (m && text.size() < 64 && pat.size() < 16) CHECK(ReferenceMatch(text, pat));
  // Ignoring case is matching the upper-cased texts.
  CHECK(StMatch(st, pt, '~', false) == StMatch(Upper(text).c_str(), Upper(pat).c_str(), '~', true));
  // Without a wild card the search is a plain find from the start position.
  if (!pat.empty()) {
    U4 start = static_cast<U4>(text.size() / 3);
    U4 end = 0;
    U4 at = IndexOfText(pt, st, start, kAllU4, 0, true, &end);
    size_t want = start < text.size() ? text.find(pat, start) : std::string::npos;
    CHECK(at == (want == std::string::npos ? kAllU4 : static_cast<U4>(want)));
    if (at != kAllU4) CHECK(end == at + pat.size());
  }
}

// Every non-overlapping occurrence in the original text, left to right.
std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& repl) {
  std::string out;
  size_t from = 0;
  for (size_t at = s.find(find); at != std::string::npos; at = s.find(find, from)) {
    out += s.substr(from, at - from) + repl;
    from = at + find.size();
  }
  return out + s.substr(from);
}

void ReplaceModels(const std::string& text, const std::string& find, const std::string& repl) {
  if (text.empty() || find.empty() || find.find('~') != std::string::npos) return;
  std::string want = ReplaceAll(text, find, repl);
  char bf[512];
  if (text.size() >= sizeof bf) return;
  std::memcpy(bf, text.c_str(), text.size() + 1);
  ReplaceTextBf(bf, sizeof bf, find.c_str(), repl.c_str(), '~', true, true, false);
  if (want.size() < sizeof bf) {
    CHECK(!ErrSet && want == bf);
  } else {
    CHECK(ErrSet && text == bf); // too big: refused, text untouched
  }
  ClearErr();
  // Growing a tracked copy gives the same text whatever its size.
  char* sp = SPCopyMult(true, text.c_str(), nullptr);
  sp = ReplaceText(sp, find.c_str(), repl.c_str(), '~', true, true, false);
  CHECK(!ErrSet && sp && want == sp);
  FreeSP(&sp);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InternalMemInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ClearErr();
  U1 flags = data[0];
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string text = Piece(rest), pat = Piece(rest), repl = Piece(rest);
  const char* st = text.c_str();
  const char* pt = pat.c_str();

  SettleMemBooks();
  U8 blocks = pgm_alloc_mem_cnt; // the library's own count: its leaks are invisible to LSan
  MatcherModels(text, pat);
  ReplaceModels(text, pat, repl);

  // The rest with the switches and flags the input chooses, for the sanitizers.
  MatchSwitchScope keep;
  match_line_mode = flags & 128;
  match_wild_needs_char = !(flags & 64);
  replace_per_line = flags & 32;
  char wc = (flags & 16) ? '~' : static_cast<char>(flags & 8 ? '*' : 0);
  bool cs = flags & 1;
  U4 start = flags & 6;
  U4 end = (flags & 2) ? static_cast<U4>(text.size() / 2) : kAllU4;
  U4 pend = 0, pa = 0, ta = 0;
  StMatch(st, pt, wc, cs, &pend);
  BfMatch(st, start, end, pt, wc, cs, &pend);
  IndexOfText(pt, st, start, end, wc, cs, &pend);
  IndexOfWord(pt, st, start, end, wc, cs, &pend);
  IndexOfTextSeg(kAllU4, pt, 0, st, start, start, end, wc, cs, &pa, &ta);
  IndexOfWordSeg(kAllU4, pt, 0, st, start, start, end, wc, cs, &pa, &ta);
  IndexOfTextOLD(pt, st, start, end, wc, cs, &pend);
  IndexOfWordOLD(pt, st, start, end, wc, cs, &pend);
  StMatchOLD(st, pt, wc, cs, &pend);
  StPrefix(st, pt, (flags & 4) ? kAllU4 : start, cs);
  StSuffix(st, pt, cs);
  char ch = pat.empty() ? 'a' : pat[0];
  IndexOfChar(ch, st, start, end, cs);
  LastIndexOfChar(ch, st, start, end, cs);
  CountChar(ch, st, cs);
  ValueAfterChar(st, ch, nullptr);
  TextAfterPattern(st, pt, nullptr);
  StLessEq(st, pt, cs);
  IndexOfListItem(pt, st, ch, flags & 4);
  TextIsValid(st, flags & 7);
  TextIsValid2(st, static_cast<U4>(text.size()), flags & 7);
  LastChar(st);

  bool all = flags & 2, keep_case = flags & 4, word = flags & 8;
  char bf[600];
  std::snprintf(bf, sizeof bf, "%s", st);
  U4 bfsz = 1 + static_cast<U4>(std::min<size_t>(text.size() * 2, sizeof bf - 1));
  ReplaceX(false, word, bf, bfsz, pt, repl.c_str(), wc, all, cs, keep_case);
  ClearErr();
  std::snprintf(bf, sizeof bf, "%s", st);
  ReplaceXOLD(false, word, bf, sizeof bf, pt, repl.c_str(), wc, all, cs, keep_case);
  ClearErr();
  char* sp = SPCopyMult(true, st, nullptr);
  sp = word ? ChangeWordX(sp, pt, repl.c_str(), wc, all, cs, keep_case)
            : ReplaceText(sp, pt, repl.c_str(), wc, all, cs, keep_case);
  FreeSP(&sp);
  ClearErr();
  U4 mark = lpm_block_x;
  ReplaceText_LPM(st, pt, repl.c_str(), wc, all, cs, keep_case);
  ResetLPM(mark);
  ClearErr();
  std::snprintf(bf, sizeof bf, "%s", st);
  ReplaceChar(bf, ch, 'Z', all);
  SettleMemBooks();
  CHECK(pgm_alloc_mem_cnt == blocks);
  return 0;
}
