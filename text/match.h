// Wild-card matching, text search and replacement (single-byte texts).
//
// A text ends at its first zero byte or at an explicit end index (exclusive), whichever comes
// first; kAllU4 as end index means "no end index". Positions are U4 indexes, kAllU4 = not found.
// `wc` is the wild-card character (0: none); a pattern without it is plain text. With `cs` off,
// only the ASCII letters are folded; bytes 128..255 always compare as themselves.
#pragma once
#include "base/types.h"

// Program-wide matcher switches. Code that changes one saves it first and restores it after.
extern bool match_anchored;        // first segment must match at the search start
extern bool match_wild_needs_char; // every wild card stands for at least one character (default on)
extern bool match_line_mode;  // wild cards stop at CR/LF; leading/trailing ones stay in the line
extern bool replace_per_line; // the replace family makes at most one replacement per line
extern U4 replace_cnt;        // replacements made by the last replace call

// The whole set of switches, for save/set/restore around a call.
struct MatchSwitches {
  bool anchored;
  bool wild_needs_char;
  bool line_mode;
  bool per_line;
};
MatchSwitches SaveMatchSwitches();
void RestoreMatchSwitches(const MatchSwitches& saved);

// Saves the switches on construction and restores them on destruction.
class MatchSwitchScope {
public:
  MatchSwitchScope() : saved_(SaveMatchSwitches()) {}
  ~MatchSwitchScope() { RestoreMatchSwitches(saved_); }
  MatchSwitchScope(const MatchSwitchScope&) = delete;
  MatchSwitchScope& operator=(const MatchSwitchScope&) = delete;

private:
  MatchSwitches saved_;
};

// Core matchers. They never push messages: failure is false / kAllU4.
bool StMatch(const char* st, const char* pat, char wc, bool cs, U4* pend = nullptr);
bool BfMatch(const char* st, U4 start, U4 end, const char* pat, char wc, bool cs,
             U4* pend = nullptr);
U4 IndexOfText(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs,
               U4* pend = nullptr);
U4 IndexOfTextSeg(U4 m, const char* pat, U4 pseg, const char* st, U4 sstart, U4 pos, U4 end,
                  char wc, bool cs, U4* ppat_after, U4* ptxt_after);
U4 IndexOfWord(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs,
               U4* pend = nullptr);
U4 IndexOfWordSeg(U4 m, const char* pat, U4 pseg, const char* st, U4 sstart, U4 pos, U4 end,
                  char wc, bool cs, U4* ppat_after, U4* ptxt_after);

// Earlier versions kept beside the current ones.
U4 IndexOfTextOLD(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs,
                  U4* pend = nullptr);
bool StMatchOLD(const char* st, const char* pat, char wc, bool cs, U4* pend = nullptr);
U4 IndexOfWordOLD(const char* pat, const char* st, U4 start, U4 end, char wc, bool cs,
                  U4* pend = nullptr);

// Utilities: false / kAllU4 / the default when an error is pending or a text is missing.
bool StPrefix(const char* st, const char* prefix, U4 len = kAllU4, bool cs = false);
bool StSuffix(const char* st, const char* suffix, bool cs = false, U4 stlen = kAllU4,
              U4 suflen = kAllU4);
U4 IndexOfChar(char ch, const char* st, U4 start = 0, U4 end = kAllU4, bool cs = true);
bool CharInSt(char ch, const char* st, U4 start = 0, U4 end = kAllU4, bool cs = true);
U4 LastIndexOfChar(char ch, const char* st, U4 start = 0, U4 end = kAllU4, bool cs = true);
const char* ValueAfterChar(const char* st, char ch, const char* dflt);
const char* TextAfterPattern(const char* st, const char* pat, const char* dflt);
U4 CountChar(char ch, const char* st, bool cs = true);
U4 ReplaceChar(char* st, char old_ch, char new_ch, bool all); // returns the count replaced
char LastChar(const char* st);
bool StLessEq(const char* a, const char* b, bool cs);
// Index of the first item of `list` (split at `sep`; blanks around items ignored when `trim`)
// that equals `st`, case ignored; 65535 when none.
U2 IndexOfListItem(const char* st, const char* list, char sep = ',', bool trim = true);
// Index of the pattern in the pending error message; kAllU4 when no error is pending.
U4 ErrMessageIndex(const char* pat, char wc);
bool TextIsValid(const char* st, U4 limit);
bool TextIsValid2(const char* st, U4 len, U4 limit);

// Replacement. `realloc_` grows the tracked block `st` (the returned pointer replaces it);
// otherwise the result must fit in `bfsz` bytes ("bf overflow:bfsz=" n " newsz=" n).
// `all`: every match, else the first; `keep_case`: each replacement takes over the
// capitalisation of the text it replaces, word by word.
char* ReplaceX(bool realloc_, bool word, char* st, U4 bfsz, const char* find, const char* repl,
               char wc, bool all, bool cs, bool keep_case);
char* ReplaceXOLD(bool realloc_, bool word, char* st, U4 bfsz, const char* find, const char* repl,
                  char wc, bool all, bool cs, bool keep_case);
char* ReplaceTextBf(char* bf, U4 bfsz, const char* find, const char* repl, char wc = 0,
                    bool all = true, bool cs = false, bool keep_case = false);
char* ReplaceWordBf(char* bf, U4 bfsz, const char* find, const char* repl, char wc = 0,
                    bool all = true, bool cs = false, bool keep_case = false);
char* ReplaceText(char* sp, const char* find, const char* repl, char wc = 0, bool all = true,
                  bool cs = false, bool keep_case = false);
char* ChangeWordX(char* sp, const char* find, const char* repl, char wc = 0, bool all = true,
                  bool cs = false, bool keep_case = false);
char* ReplaceText_LPM(const char* st, const char* find, const char* repl, char wc = 0,
                      bool all = true, bool cs = false, bool keep_case = false);
