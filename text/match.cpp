// Wild-card matching without backtracking: every segment is taken at its first occurrence
// after the previous one, so a search is one forward pass over the text (a restart only
// ever moves forward), whatever the pattern.
#include "text/match.h"

#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "mem/tracked.h"
#include "text/numfmt.h"
#include "text/strbuild.h"

#include <cstring>

bool match_anchored = false;
bool match_wild_needs_char = true;
bool match_line_mode = false;
bool replace_per_line = false;
U4 replace_cnt = 0;

MatchSwitches SaveMatchSwitches() {
  return {match_anchored, match_wild_needs_char, match_line_mode, replace_per_line};
}

void RestoreMatchSwitches(const MatchSwitches& saved) {
  match_anchored = saved.anchored;
  match_wild_needs_char = saved.wild_needs_char;
  match_line_mode = saved.line_mode;
  replace_per_line = saved.per_line;
}

namespace {

constexpr U4 kNF = kAllU4;

inline U1 Fold(U1 c) {
  return (c >= 'a' && c <= 'z') ? static_cast<U1>(c - 32) : c;
}
inline bool SameChar(U1 a, U1 b, bool cs) {
  return cs ? a == b : Fold(a) == Fold(b);
}
inline bool IsLineEnd(U1 c) {
  return c == '\r' || c == '\n';
}
inline bool IsBaseWordChar(U1 c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// True when st[0..pos] holds no terminator, i.e. st has a character at pos.
bool HasCharAt(const char* st, U4 pos) {
  return std::memchr(st, 0, pos + 1ull) == nullptr;
}

struct Ctx {
  const U1* P;
  const U1* T;
  U4 s;  // search start
  U4 e;  // end index (exclusive), kAllU4 for none
  U1 wc; // 0: no wild card
  bool cs;
  bool word;
  bool line;
  bool needs;
  bool anchored;
  U4 lead;  // wild cards in front of the first segment
  U4 first; // pattern index of the first segment
  bool wordtab[256];

  bool Has(U4 t) const { return t < e && T[t] != 0; }
  // A character that a wild card may not run across.
  bool Barrier(U1 c) const { return (line && IsLineEnd(c)) || (word && !wordtab[c]); }
  U4 Need(U4 wilds) const { return needs ? wilds : 0; }
  // First index at or after t that ends the text or is a barrier.
  U4 RunEnd(U4 t) const {
    while (Has(t) && !Barrier(T[t]))
      ++t;
    return t;
  }
};

// Word characters: digits, letters, '_' and the pattern's own characters. Blanks and line
// ends stay separators even when the pattern holds them, or a pattern of several words could
// never end at a word boundary. Rebuilt per call: a reused pattern buffer may hold new text.
void BuildWordTable(Ctx& c) {
  for (int i = 0; i < 256; ++i)
    c.wordtab[i] = IsBaseWordChar(static_cast<U1>(i));
  for (const U1* p = c.P; *p; ++p) {
    U1 ch = *p;
    if (ch == c.wc || ch == ' ' || ch == '\t' || IsLineEnd(ch)) continue;
    c.wordtab[ch] = true;
  }
}

void InitCtx(Ctx& c, const char* pat, const char* st, U4 start, U4 end, char wc, bool cs,
             bool word) {
  c.P = reinterpret_cast<const U1*>(pat);
  c.T = reinterpret_cast<const U1*>(st);
  c.s = start;
  c.e = end;
  c.wc = static_cast<U1>(wc);
  if (c.wc && !std::strchr(pat, wc)) c.wc = 0;
  c.cs = cs;
  c.word = word;
  c.line = match_line_mode;
  c.needs = match_wild_needs_char;
  c.anchored = match_anchored;
  c.lead = 0;
  if (c.wc)
    while (c.P[c.lead] == c.wc)
      ++c.lead;
  c.first = c.lead;
  if (word) BuildWordTable(c);
}

// Count of wild cards from p on, and whether only wild cards remain.
U4 WildRun(const Ctx& c, U4 p, bool* final) {
  U4 n = 0;
  while (c.wc && c.P[p + n] == c.wc)
    ++n;
  *final = c.P[p + n] == 0;
  return n;
}

// The needed characters of a wild run in [from, from + need): present and no barrier.
bool WildFits(const Ctx& c, U4 from, U4 need) {
  for (U4 i = 0; i < need; ++i)
    if (!c.Has(from + i) || c.Barrier(c.T[from + i])) return false;
  return true;
}

// Finds the segment that starts at pattern index p, from text position t.
// Returns the match start to report (kNF when not found); *stop receives the position
// where a failed scan stopped.
U4 FindSeg(const Ctx& c, U4 p, U4 t, U4* ppat_after, U4* ptxt_after, U4* stop, U4* at) {
  U4 plen = 0;
  while (c.P[p + plen] && !(c.wc && c.P[p + plen] == c.wc))
    ++plen;
  bool first = p == c.first;
  bool final = false;
  U4 trail = WildRun(c, p + plen, &final);
  if (!final) trail = 0;
  bool last = c.P[p + plen] == 0;
  U4 pos = t;
  for (; c.Has(pos); ++pos) {
    U4 j = 0;
    while (j < plen && c.Has(pos + j) && SameChar(c.T[pos + j], c.P[p + j], c.cs))
      ++j;
    bool ok = j == plen;
    if (ok && first) {
      if (c.lead) {
        U4 need = c.Need(c.lead);
        ok = pos - c.s >= need && WildFits(c, pos - need, need);
      } else if (c.word) {
        ok = pos == c.s || !c.wordtab[c.T[pos - 1]];
      }
    }
    if (ok && trail) {
      ok = WildFits(c, pos + plen, c.Need(trail));
    } else if (ok && last && c.word) {
      ok = !c.Has(pos + plen) || !c.wordtab[c.T[pos + plen]];
    }
    if (ok) {
      U4 start = pos;
      if (first && c.lead) {
        start = c.s;
        if (c.line || c.word) {
          start = pos;
          while (start > c.s && !c.Barrier(c.T[start - 1]))
            --start;
        }
      }
      *at = pos;
      *ppat_after = p + plen;
      *ptxt_after = pos + plen;
      if (trail) {
        *ppat_after = p + plen + trail;
        *ptxt_after = c.RunEnd(pos + plen);
      }
      return start;
    }
    if (c.anchored && first && !c.lead) {
      *stop = t;
      return kNF;
    }
    if (!first && c.Barrier(c.T[pos])) {
      *stop = pos;
      return kNF;
    }
  }
  *stop = pos;
  return kNF;
}

// True when a segment after the first holds a barrier character, so that a chain started
// later in the same run could get past the barrier that stopped this one.
bool SegmentsCrossBarriers(const Ctx& c) {
  if (!c.line && !c.word) return false;
  U4 p = c.first;
  while (c.P[p] && !(c.wc && c.P[p] == c.wc))
    ++p; // the first segment may hold anything
  for (; c.P[p]; ++p)
    if (c.P[p] != c.wc && c.Barrier(c.P[p])) return true;
  return false;
}

// The search proper; c.s is known to be a character of the text.
U4 Search(Ctx& c, U4* pend) {
  if (!c.P[c.first]) { // wild cards only
    U4 need = c.Need(c.lead);
    for (U4 pos = c.s; c.Has(pos);) {
      U4 re = c.RunEnd(pos);
      if (re - pos >= need && (re > pos || need == 0 || (!c.line && !c.word))) {
        if (pend) *pend = re;
        return pos;
      }
      pos = re > pos ? re : pos + 1;
    }
    return kNF;
  }
  bool cross = SegmentsCrossBarriers(c);
  U4 p = c.first, t = c.s, m = kNF, seg1 = kNF;
  while (c.P[p] && c.Has(t)) {
    U4 pa = 0, ta = 0, stop = 0, at = 0;
    U4 f = FindSeg(c, p, t, &pa, &ta, &stop, &at);
    if (!c.wc) {
      if (f != kNF && pend) *pend = ta;
      return f;
    }
    U4 restart = kNF;
    if (f != kNF) {
      if (m == kNF) {
        m = f;
        seg1 = at; // where the first segment itself matched
      }
      p = pa;
      t = ta;
      if (!c.P[p] || !c.Has(t)) {
        if (!c.P[p]) {
          if (pend) *pend = t;
          return m;
        }
        return kNF;
      }
      bool final = false;
      U4 wilds = WildRun(c, p, &final);
      U4 need = c.Need(wilds);
      U4 i = 0;
      while (i < need && c.Has(t + i) && !c.Barrier(c.T[t + i]))
        ++i;
      if (i < need) {
        if (!c.Has(t + i)) return kNF;
        restart = t + i; // a barrier stopped the wild card
      } else {
        t += need;
        p += wilds;
        if (!c.Has(t)) return kNF;
        continue;
      }
    } else {
      if (m == kNF) return kNF;
      restart = stop;
    }
    // A chain that failed at a barrier fails again from any later start before it.
    U4 next = cross ? seg1 + 1 : restart;
    if (next <= seg1) next = seg1 + 1;
    p = c.first;
    t = next;
    m = kNF;
  }
  return kNF;
}

bool ValidStart(const char* pat, const char* st, U4 start, U4 end) {
  if (ErrSet || !pat || !st || start >= end || !*pat) return false;
  return HasCharAt(st, start);
}

U4 IndexImpl(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs, bool word,
             U4* pend) {
  if (!ValidStart(pat, st, start, end)) return kNF;
  Ctx c;
  InitCtx(c, pat, st, start, end, wc, cs, word);
  return Search(c, pend);
}

U4 SegImpl(const char* pat, U4 pseg, const char* st, U4 sstart, U4 pos, U4 end, char wc, bool cs,
           bool word, U4* ppat_after, U4* ptxt_after) {
  if (ErrSet || !pat || !st || sstart >= end || pos >= end) return kNF;
  if (std::memchr(pat, 0, pseg) != nullptr || !HasCharAt(st, pos)) return kNF;
  Ctx c;
  InitCtx(c, pat, st, sstart, end, wc, cs, word);
  U4 pa = 0, ta = 0, stop = 0, at = 0;
  U4 f = FindSeg(c, pseg, pos, &pa, &ta, &stop, &at);
  if (f != kNF) {
    if (ppat_after) *ppat_after = pa;
    if (ptxt_after) *ptxt_after = ta;
  }
  return f;
}

} // namespace

U4 IndexOfText(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs, U4* pend) {
  return IndexImpl(pat, st, start, end, wc, cs, false, pend);
}

U4 IndexOfWord(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs, U4* pend) {
  return IndexImpl(pat, st, start, end, wc, cs, true, pend);
}

U4 IndexOfTextSeg(U4 /*m*/, const char* pat, U4 pseg, const char* st, U4 sstart, U4 pos, U4 end,
                  char wc, bool cs, U4* ppat_after, U4* ptxt_after) {
  return SegImpl(pat, pseg, st, sstart, pos, end, wc, cs, false, ppat_after, ptxt_after);
}

U4 IndexOfWordSeg(U4 /*m*/, const char* pat, U4 pseg, const char* st, U4 sstart, U4 pos, U4 end,
                  char wc, bool cs, U4* ppat_after, U4* ptxt_after) {
  return SegImpl(pat, pseg, st, sstart, pos, end, wc, cs, true, ppat_after, ptxt_after);
}

bool BfMatch(const char* st, U4 start, U4 end, const char* pat, char wc, bool cs, U4* pend) {
  if (ErrSet || !st || !pat) return false;
  if (std::memchr(st, 0, start) != nullptr) return false; // start lies past the text
  if ((start >= end || !st[start]) && !*pat) {
    if (pend) *pend = start + 1;
    return true;
  }
  bool saved = match_anchored;
  match_anchored = true;
  U4 e = 0;
  U4 m = IndexOfText(pat, st, start, end, wc, cs, &e);
  match_anchored = saved;
  if (m == kNF || m > start) return false;
  if (e != end && st[e] != 0) return false;
  if (pend) *pend = e;
  return true;
}

bool StMatch(const char* st, const char* pat, char wc, bool cs, U4* pend) {
  return BfMatch(st, 0, kAllU4, pat, wc, cs, pend);
}

U4 IndexOfTextOLD(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs, U4* pend) {
  return IndexOfText(pat, st, start, end, wc, cs, pend);
}

bool StMatchOLD(const char* st, const char* pat, char wc, bool cs, U4* pend) {
  return StMatch(st, pat, wc, cs, pend);
}

U4 IndexOfWordOLD(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs, U4* pend) {
  return IndexOfWord(pat, st, start, end, wc, cs, pend);
}

// ---- Utilities --------------------------------------------------------------------------

bool StPrefix(const char* st, const char* prefix, U4 len, bool cs) {
  if (ErrSet) return false;
  if (!st || !prefix) return !st && !prefix;
  if (len == kAllU4) len = static_cast<U4>(std::strlen(prefix));
  if (len == 0 || !*prefix) return !*st;
  for (U4 i = 0; i < len && prefix[i]; ++i)
    if (!st[i] || !SameChar(static_cast<U1>(st[i]), static_cast<U1>(prefix[i]), cs)) return false;
  return true;
}

bool StSuffix(const char* st, const char* suffix, bool cs, U4 stlen, U4 suflen) {
  if (ErrSet || !st || !suffix) return false;
  // Given lengths never take us past a terminator.
  const void* z = std::memchr(st, 0, stlen == kAllU4 ? std::strlen(st) + 1 : stlen);
  if (z) stlen = static_cast<U4>(static_cast<const char*>(z) - st);
  z = std::memchr(suffix, 0, suflen == kAllU4 ? std::strlen(suffix) + 1 : suflen);
  if (z) suflen = static_cast<U4>(static_cast<const char*>(z) - suffix);
  if (suflen > stlen) return false;
  const char* tail = st + (stlen - suflen);
  for (U4 i = 0; i < suflen; ++i)
    if (!SameChar(static_cast<U1>(tail[i]), static_cast<U1>(suffix[i]), cs)) return false;
  return true;
}

U4 IndexOfChar(char ch, const char* st, U4 start, U4 end, bool cs) {
  if (ErrSet || !st || !ch || start >= end || !HasCharAt(st, start)) return kNF;
  for (U4 i = start; i < end && st[i]; ++i)
    if (SameChar(static_cast<U1>(st[i]), static_cast<U1>(ch), cs)) return i;
  return kNF;
}

bool CharInSt(char ch, const char* st, U4 start, U4 end, bool cs) {
  return IndexOfChar(ch, st, start, end, cs) != kNF;
}

U4 LastIndexOfChar(char ch, const char* st, U4 start, U4 end, bool cs) {
  if (ErrSet || !st || !ch || start >= end || !HasCharAt(st, start)) return kNF;
  U4 found = kNF;
  for (U4 i = start; i < end && st[i]; ++i)
    if (SameChar(static_cast<U1>(st[i]), static_cast<U1>(ch), cs)) found = i;
  return found;
}

const char* ValueAfterChar(const char* st, char ch, const char* dflt) {
  U4 i = IndexOfChar(ch, st, 0, kAllU4, false);
  return i == kNF ? dflt : st + i + 1;
}

const char* TextAfterPattern(const char* st, const char* pat, const char* dflt) {
  U4 e = 0;
  U4 i = IndexOfText(pat, st, 0, kAllU4, '~', false, &e);
  return i == kNF ? dflt : st + e;
}

U4 CountChar(char ch, const char* st, bool cs) {
  if (ErrSet || !st || !ch) return 0;
  U4 n = 0;
  for (; *st; ++st)
    if (SameChar(static_cast<U1>(*st), static_cast<U1>(ch), cs)) ++n;
  return n;
}

U4 ReplaceChar(char* st, char old_ch, char new_ch, bool all) {
  if (ErrSet || !st || !old_ch) return 0;
  U4 n = 0;
  for (; *st; ++st) {
    if (*st != old_ch) continue;
    *st = new_ch;
    ++n;
    if (!all || !new_ch) break;
  }
  return n;
}

char LastChar(const char* st) {
  if (ErrSet || !st || !*st) return 0;
  return st[std::strlen(st) - 1];
}

bool StLessEq(const char* a, const char* b, bool cs) {
  if (ErrSet || !a || !b) return false;
  const U1* x = reinterpret_cast<const U1*>(a);
  const U1* y = reinterpret_cast<const U1*>(b);
  if (!cs) {
    U4 i = 0;
    while (x[i] && Fold(x[i]) == Fold(y[i]))
      ++i;
    if (Fold(x[i]) != Fold(y[i])) return Fold(x[i]) < Fold(y[i]);
  }
  return std::strcmp(a, b) <= 0;
}

U2 IndexOfListItem(const char* st, const char* list, char sep, bool trim) {
  if (ErrSet || !st || !list) return 65535;
  U4 n = 0;
  const char* p = list;
  while (n < 65535) {
    const char* q = p;
    while (*q && *q != sep)
      ++q;
    const char* a = p;
    const char* b = q;
    if (trim) {
      while (a < b && (*a == ' ' || *a == '\t'))
        ++a;
      while (b > a && (b[-1] == ' ' || b[-1] == '\t'))
        --b;
    }
    U4 len = static_cast<U4>(b - a);
    if (std::strlen(st) == len) {
      U4 i = 0;
      while (i < len && SameChar(static_cast<U1>(st[i]), static_cast<U1>(a[i]), false))
        ++i;
      if (i == len) return static_cast<U2>(n);
    }
    if (!*q) break;
    p = q + 1;
    ++n;
  }
  return 65535;
}

U4 ErrMessageIndex(const char* pat, char wc) {
  if (!ErrSet || !CurErrMsg) return kNF;
  ErrSet = false;
  U4 i = IndexOfText(pat, CurErrMsg, 0, kAllU4, wc, false);
  ErrSet = true;
  return i;
}

namespace {
inline bool ValidTextChar(U1 c) {
  return (c >= 32 && c <= 126) || (c >= 9 && c <= 13 && c != 11);
}
} // namespace

bool TextIsValid2(const char* st, U4 len, U4 limit) {
  if (ErrSet || !st) return false;
  if (len == kAllU4) len = static_cast<U4>(std::strlen(st));
  if (limit == 0) limit = 1;
  U4 bad = 0;
  for (U4 i = 0; i < len; ++i)
    if (!ValidTextChar(static_cast<U1>(st[i])) && ++bad >= limit) return false;
  return true;
}

bool TextIsValid(const char* st, U4 limit) {
  return TextIsValid2(st, kAllU4, limit);
}

// ---- Replacement --------------------------------------------------------------------------

namespace {

char replace_scratch[1024];

inline bool IsAsciiLetter(U1 c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool IsUpperLetter(U1 c) {
  return c >= 'A' && c <= 'Z';
}
inline U1 ToUpper(U1 c) {
  return (c >= 'a' && c <= 'z') ? static_cast<U1>(c - 32) : c;
}
inline U1 ToLower(U1 c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<U1>(c + 32) : c;
}

// Copies the replacement, taking over the capitalisation of the found text word by word.
void CopyKeepCase(char* out, const char* repl, U4 rl, const char* found, U4 fl) {
  U4 fi = 0;
  for (U4 i = 0; i < rl;) {
    if (!IsAsciiLetter(static_cast<U1>(repl[i]))) {
      out[i] = repl[i];
      ++i;
      continue;
    }
    while (fi < fl && !IsAsciiLetter(static_cast<U1>(found[fi])))
      ++fi;
    if (fi >= fl) {
      std::memcpy(out + i, repl + i, rl - i);
      return;
    }
    U4 ws = fi;
    while (fi < fl && IsAsciiLetter(static_cast<U1>(found[fi])))
      ++fi;
    U4 we = fi;
    for (U4 k = 0; i < rl && IsAsciiLetter(static_cast<U1>(repl[i])); ++i, ++k) {
      U1 ref = static_cast<U1>(ws + k < we ? found[ws + k] : found[we - 1]);
      U1 ch = static_cast<U1>(repl[i]);
      out[i] = static_cast<char>(IsUpperLetter(ref) ? ToUpper(ch) : ToLower(ch));
    }
  }
}

// Walks the matches of one replace call in the order the replacements are made.
struct MatchWalker {
  Ctx c;
  const char* st = nullptr;
  U4 len = 0;
  bool all = false;
  bool per_line = false;
  U4 pos = 0;
  bool done = false;

  void Init(const char* text, U4 n, const char* find, char wc, bool cs, bool word, bool all_) {
    st = text;
    len = n;
    all = all_;
    per_line = replace_per_line;
    pos = 0;
    done = false;
    InitCtx(c, find, text, 0, kAllU4, wc, cs, word);
  }
  void Retarget(const char* text) {
    st = text;
    c.T = reinterpret_cast<const U1*>(text);
  }
  // The next match [*pm, *pe), false when there is none.
  bool Next(U4* pm, U4* pe) {
    if (done || pos >= len) return false;
    c.s = pos;
    U4 e = 0;
    U4 m = Search(c, &e);
    if (m == kNF) {
      done = true;
      return false;
    }
    *pm = m;
    *pe = e;
    U4 next = e > m ? e : m + 1;
    if (per_line) {
      if (!(e > m && IsLineEnd(static_cast<U1>(st[e - 1])))) {
        while (next < len && !IsLineEnd(static_cast<U1>(st[next])))
          ++next;
        if (next < len && st[next] == '\r' && next + 1 < len && st[next + 1] == '\n') ++next;
        ++next;
      }
    } else if (!all) {
      done = true;
    } else if (c.word) {
      ++next; // the character after a word is its boundary
    }
    pos = next;
    return true;
  }
};

char* OverflowErr(char* st, U8 bfsz, U8 newsz) {
  char a[32], b[32];
  SeMErrMult("ReplaceX:bf overflow:bfsz=", VS10_MyBf(bfsz, nullptr, false, a, sizeof a),
             " newsz=", VS10_MyBf(newsz, nullptr, false, b, sizeof b), nullptr);
  return st;
}

} // namespace

char* ReplaceX(bool realloc_, bool word, char* st, U4 bfsz, const char* find, const char* repl,
               char wc, bool all, bool cs, bool keep_case) {
  replace_cnt = 0;
  if (ErrSet || !st || !*st) return st;
  if (!find) find = "";
  if (!repl) repl = "";
  U4 len = static_cast<U4>(std::strlen(st));
  U4 rl = static_cast<U4>(std::strlen(repl));
  if (!*find) {
    if (word || replace_per_line) return st;
    U8 newsz = rl + 1ull;
    if (realloc_) {
      st = static_cast<char*>(ReallocU1(st, static_cast<U4>(newsz), false));
      if (ErrSet) return st;
    } else if (newsz > bfsz) {
      return OverflowErr(st, bfsz, newsz);
    }
    std::memmove(st, repl, newsz);
    replace_cnt = 1;
    return st;
  }
  bool wild = wc && std::strchr(find, wc);
  U4 fl = static_cast<U4>(std::strlen(find));
  // Byte for byte: a replacement that differs only in case is a real change.
  if (!wild && std::strcmp(find, repl) == 0) return st;

  MatchWalker w;
  U4 m = 0, e = 0;
  if (!wild && !keep_case && fl == rl) {
    w.Init(st, len, find, wc, cs, word, all);
    while (w.Next(&m, &e)) {
      std::memcpy(st + m, repl, rl);
      ++replace_cnt;
    }
    return st;
  }

  w.Init(st, len, find, wc, cs, word, all);
  U8 newlen = len;
  U4 cnt = 0;
  while (w.Next(&m, &e)) {
    newlen = newlen + rl - (e - m);
    ++cnt;
  }
  if (cnt == 0) return st;
  U8 newsz = newlen + 1;
  if (newsz > 0xFFFFFFFFull) return OverflowErr(st, bfsz, newsz);
  if (realloc_) {
    st = static_cast<char*>(ReallocU1(st, static_cast<U4>(newsz), false));
    if (ErrSet) return st;
  } else if (newsz > bfsz) {
    return OverflowErr(st, bfsz, newsz);
  }
  char* out = replace_scratch;
  char* owned = nullptr;
  if (newsz > sizeof replace_scratch) {
    owned = static_cast<char*>(AllocTransitoryU1(static_cast<U4>(newsz)));
    if (!owned) return st;
    out = owned;
  }
  w.Init(st, len, find, wc, cs, word, all);
  U4 from = 0, o = 0;
  while (w.Next(&m, &e)) {
    std::memcpy(out + o, st + from, m - from);
    o += m - from;
    if (keep_case)
      CopyKeepCase(out + o, repl, rl, st + m, e - m);
    else
      std::memcpy(out + o, repl, rl);
    o += rl;
    from = e;
  }
  std::memcpy(out + o, st + from, len - from + 1);
  std::memcpy(st, out, static_cast<size_t>(newsz));
  if (owned) FreeSP(&owned);
  replace_cnt = cnt;
  return st;
}

char* ReplaceXOLD(bool realloc_, bool word, char* st, U4 bfsz, const char* find, const char* repl,
                  char wc, bool all, bool cs, bool keep_case) {
  return ReplaceX(realloc_, word, st, bfsz, find, repl, wc, all, cs, keep_case);
}

char* ReplaceTextBf(char* bf, U4 bfsz, const char* find, const char* repl, char wc, bool all,
                    bool cs, bool keep_case) {
  return ReplaceX(false, false, bf, bfsz, find, repl, wc, all, cs, keep_case);
}

char* ReplaceWordBf(char* bf, U4 bfsz, const char* find, const char* repl, char wc, bool all,
                    bool cs, bool keep_case) {
  return ReplaceX(false, true, bf, bfsz, find, repl, wc, all, cs, keep_case);
}

char* ReplaceText(char* sp, const char* find, const char* repl, char wc, bool all, bool cs,
                  bool keep_case) {
  return ReplaceX(true, false, sp, 0, find, repl, wc, all, cs, keep_case);
}

char* ChangeWordX(char* sp, const char* find, const char* repl, char wc, bool all, bool cs,
                  bool keep_case) {
  return ReplaceX(true, true, sp, 0, find, repl, wc, all, cs, keep_case);
}

char* ReplaceText_LPM(const char* st, const char* find, const char* repl, char wc, bool all,
                      bool cs, bool keep_case) {
  if (ErrSet || !st) return const_cast<char*>(st);
  const U1* p = reinterpret_cast<const U1*>(st);
  char* sp = nullptr;
  if (lpm_block && p >= lpm_block && p < lpm_block_end)
    sp = const_cast<char*>(st);
  else
    sp = LPMSPCopyMult(false, st, nullptr);
  if (!sp) return nullptr;
  return ReplaceText(sp, find, repl, wc, all, cs, keep_case);
}
