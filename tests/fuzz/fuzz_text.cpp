// libFuzzer target: the number parsers, the matcher and the text writers on arbitrary bytes.
// Input: one flag byte, then the text, a zero byte and a pattern.
#include "errlog/errstack.h"
#include "tests/textmatch/reference_match.h"
#include "text/match.h"
#include "text/numbers.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  U1 flags = data[0];
  std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* st = in.c_str();
  size_t z = in.find('\0');
  std::string pat = z == std::string::npos ? std::string("~") : in.substr(z + 1);
  U1 lead = flags & 3, trail = (flags >> 2) & 3;
  bool report = flags & 16;
  char wc = (flags & 32) ? '~' : 0;
  U4 idx = 0, unit = 0, kind = 0;

  St10I8(st, lead, trail, &idx, report);
  ClearErr();
  St10U8(st, lead, trail, &idx, report);
  ClearErr();
  St16U8(st, lead, trail, &idx, report, (flags & 64) ? 'X' : 0);
  ClearErr();
  St8U8(st, lead, trail, &idx, report);
  ClearErr();
  St2U8(st, lead, trail, &idx, report, (flags & 64) ? 'B' : 0);
  ClearErr();
  StFF8(st, lead, trail, &idx, report);
  ClearErr();
  StSecondsI8(st, lead, trail, &idx, report);
  ClearErr();
  StMinutesI8(st, lead, trail, &idx, report);
  ClearErr();
  StTMC(st, lead, trail, &idx, report, &unit);
  ClearErr();
  StI4(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  ClearErr();
  St10I2(st, lead, trail, &idx, report);
  ClearErr();
  St10U2(st, lead, trail, &idx, report);
  ClearErr();

  // What the matcher accepts must be a real match.
  std::string text(st);
  if (text.size() < 64 && pat.size() < 16 && pat.find('\0') == std::string::npos &&
      StMatch(st, pat.c_str(), '~', true) && !ReferenceMatch(text, pat))
    __builtin_trap();

  MatchSwitchScope keep;
  match_line_mode = flags & 128;
  match_wild_needs_char = !(flags & 64);
  U4 end = 0;
  StMatch(st, pat.c_str(), wc, flags & 1, &end);
  IndexOfText(pat.c_str(), st, flags & 7, kAllU4, wc, flags & 1, &end);
  IndexOfWord(pat.c_str(), st, 0, kAllU4, wc, flags & 1, &end);
  StSuffix(st, pat.c_str(), false);

  char bf[256];
  PrintableText_MyBf(st, kAllU4, flags, bf, flags & 1 ? sizeof bf : 8);
  TextFN_MyBf(st, '_', bf, sizeof bf);
  char work[512];
  std::strncpy(work, st, sizeof work - 1);
  work[sizeof work - 1] = 0;
  ReplaceX(false, flags & 8, work, sizeof work, pat.c_str(), "<R>", wc, true, false, flags & 2);
  ClearErr();
  return 0;
}
