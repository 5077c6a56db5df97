#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "mem/tracked.h"
#include "tests/textmatch/reference_match.h"
#include "text/match.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Match : public ::testing::Test {
protected:
  void SetUp() override { ClearErr(); }
  void TearDown() override { ClearErr(); }
  static std::string Msg() {
    char bf[1024];
    return ErrMessage(false, true, bf, sizeof bf) ? bf : "";
  }
};

bool M(const char* st, const char* pat, bool cs = false) {
  return StMatch(st, pat, '~', cs);
}

TEST_F(Match, WholeTextAndWildCards) {
  EXPECT_TRUE(M("", ""));
  EXPECT_FALSE(M("x", ""));
  EXPECT_FALSE(M("", "x"));
  EXPECT_TRUE(M("Mouse:L", "mouse:l"));
  EXPECT_FALSE(M("Mouse:L", "mouse:l", true));
  EXPECT_TRUE(M("Untitled - Notepad", "untitled~"));
  EXPECT_FALSE(M("Notepad", "Notepad~"));
  EXPECT_TRUE(M("abcd", "~cd"));
  EXPECT_FALSE(M("cd", "~cd"));
  EXPECT_TRUE(M("aXb", "a~b"));
  EXPECT_FALSE(M("aXbYb", "a~b")); // segments are never moved later
  EXPECT_FALSE(M("ab", "a~b"));
  EXPECT_TRUE(M("x", "~"));
  EXPECT_TRUE(M("any text at all", "~"));
  EXPECT_FALSE(M("", "~"));
  EXPECT_TRUE(M("a-b-c", "a~b~c"));
  EXPECT_TRUE(M("Class:Notepad", "Class:~pad"));
  EXPECT_FALSE(M("\xC9t\xE9", "\xE9T\xE9")); // bytes above 127 are never folded
  EXPECT_TRUE(M("\xC9t\xE9", "\xC9T\xE9"));
  EXPECT_TRUE(StMatch("a~b", "A~B", 0, false));   // no wild card: plain equality
  EXPECT_TRUE(StMatch("a*b", "a*b", '~', false)); // wild card absent from the pattern
}

TEST_F(Match, WildCardMayBeEmptyWhenSwitchedOff) {
  MatchSwitchScope keep;
  match_wild_needs_char = false;
  EXPECT_TRUE(M("ab", "a~b"));
  EXPECT_TRUE(M("Notepad", "Notepad~"));
  EXPECT_TRUE(M("cd", "~cd"));
}

TEST_F(Match, SearchAndPositions) {
  U4 end = 0;
  EXPECT_EQ(IndexOfText("b~d", "aabxxdz", 0, kAllU4, '~', false, &end), 2u);
  EXPECT_EQ(end, 6u);
  EXPECT_EQ(IndexOfText(" [[~]]", "msg [[f/g/main]]", 0, kAllU4, '~', true), 3u);
  EXPECT_EQ(IndexOfText(" [[~]]", "msg without group", 0, kAllU4, '~', true), kAllU4);
  EXPECT_EQ(IndexOfText("ab", "xxab", 0, 3, 0, true), kAllU4); // end index cuts the match
  EXPECT_EQ(IndexOfText("ab", "abab", 1, kAllU4, 0, true), 2u);
  EXPECT_EQ(IndexOfText("ab~", "abab", 3, kAllU4, '~', true), kAllU4);
  // A start beyond the end finds nothing and reads nothing past it (ASan watches).
  char* t = static_cast<char*>(std::malloc(4));
  std::memcpy(t, "abc", 4);
  EXPECT_EQ(IndexOfText("c", t, 9, kAllU4, 0, true), kAllU4);
  EXPECT_EQ(IndexOfWord("c", t, 9, kAllU4, 0, true), kAllU4);
  EXPECT_FALSE(BfMatch(t, 9, kAllU4, "", 0, true));
  EXPECT_EQ(IndexOfChar('c', t, 9), kAllU4);
  std::free(t);
}

TEST_F(Match, LineMode) {
  MatchSwitchScope keep;
  match_line_mode = true;
  U4 end = 0;
  EXPECT_EQ(IndexOfText("a~c", "ab\nxc\nabc", 0, kAllU4, '~', true, &end), 6u);
  EXPECT_EQ(end, 9u);
  EXPECT_EQ(IndexOfText("key=~", "x\nkey=val\nnext", 0, kAllU4, '~', true, &end), 2u);
  EXPECT_EQ(end, 9u);
  EXPECT_EQ(IndexOfText("~val", "x\nkey=val\n", 0, kAllU4, '~', true, &end), 2u);
  EXPECT_EQ(IndexOfText("ab~", "ab\nab", 0, kAllU4, '~', true), kAllU4);
}

TEST_F(Match, Words) {
  U4 end = 0;
  EXPECT_EQ(IndexOfWord("cat", "concat cat", 0, kAllU4, 0, false, &end), 7u);
  EXPECT_EQ(IndexOfWord("cat", "cats", 0, kAllU4, 0, false), kAllU4);
  EXPECT_EQ(IndexOfWord("c~t", "a cxyt b", 0, kAllU4, '~', false, &end), 2u);
  EXPECT_EQ(end, 6u);
  EXPECT_EQ(IndexOfWord("c~t", "cx yt", 0, kAllU4, '~', false), kAllU4); // no run over blanks
  EXPECT_EQ(IndexOfWord("foo bar", "x foo bar baz", 0, kAllU4, 0, false), 2u);
  EXPECT_EQ(IndexOfWord("~oo", "a zoo b", 0, kAllU4, '~', false, &end), 2u);
  EXPECT_EQ(end, 5u);
  // Pattern characters count as word characters: a-b is no boundary inside a-b-c.
  EXPECT_EQ(IndexOfWord("a-b", "a-b-c a-b", 0, kAllU4, 0, false), 6u);
  // The boundary table follows the pattern's text, not its address.
  char pat[8];
  std::strcpy(pat, "x.y");
  EXPECT_EQ(IndexOfWord(pat, "x.y.z", 0, kAllU4, 0, true), kAllU4);
  std::strcpy(pat, "y");
  EXPECT_EQ(IndexOfWord(pat, "x.y.z", 0, kAllU4, 0, true), 2u);
}

TEST_F(Match, NoExponentialOrQuadraticBlowUp) {
  // A backtracking matcher needs ~n^k steps here; this one passes the text once per segment.
  std::string text(200000, 'a');
  std::string pat = "~a~a~a~a~a~a~a~a~a~a~a~a~b";
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(StMatch(text.c_str(), pat.c_str(), '~', false));
  EXPECT_EQ(IndexOfText(pat.c_str(), text.c_str(), 0, kAllU4, '~', false), kAllU4);
  MatchSwitchScope keep;
  match_line_mode = true;
  std::string lines;
  for (int i = 0; i < 2000; ++i)
    lines += std::string(100, 'a') + "b\n";
  EXPECT_EQ(IndexOfText("a~b~c", lines.c_str(), 0, kAllU4, '~', false), kAllU4);
  match_line_mode = false;
  EXPECT_EQ(IndexOfWord("a~b~c", (std::string(100000, 'a') + "b c").c_str(), 0, kAllU4, '~', false),
            kAllU4);
  // A generous bound: a blow-up would take minutes, not a second.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

TEST_F(Match, PrefixSuffixAndChars) {
  EXPECT_TRUE(StPrefix("/tmo=5", "/TMO=", kAllU4, false));
  EXPECT_FALSE(StPrefix("/tmo=5", "/TMO=", kAllU4, true));
  EXPECT_TRUE(StPrefix("abc", "abX", 2, true));
  EXPECT_TRUE(StPrefix("", "", kAllU4, true));
  EXPECT_FALSE(StPrefix("a", "", kAllU4, true));
  EXPECT_TRUE(StPrefix(nullptr, nullptr, kAllU4, true));
  EXPECT_FALSE(StPrefix("a", nullptr, kAllU4, true));
  EXPECT_FALSE(StPrefix("ab", "abc", kAllU4, true));
  EXPECT_TRUE(StSuffix("file.TXT", ".txt", false));
  EXPECT_FALSE(StSuffix("file.TXT", ".txt", true));
  EXPECT_FALSE(StSuffix("xt", ".txt", false)); // longer than the text
  EXPECT_FALSE(StSuffix("abc", "abcd", false, 3, 4));
  EXPECT_TRUE(StSuffix("abc", "bc", false, 3, kAllU4));
  EXPECT_EQ(IndexOfChar('B', "abcb", 0, kAllU4, false), 1u);
  EXPECT_EQ(LastIndexOfChar('b', "abcb"), 3u);
  EXPECT_EQ(CountChar('B', "abcb", false), 2u);
  EXPECT_STREQ(ValueAfterChar("-Name=Value", '=', "none"), "Value");
  EXPECT_STREQ(ValueAfterChar("-Name", '=', "none"), "none");
  EXPECT_STREQ(TextAfterPattern("key: a=1", "A=", nullptr), "1");
  EXPECT_EQ(LastChar("abc"), 'c');
  EXPECT_EQ(LastChar(""), 0);
  char s[] = "a.b.c";
  EXPECT_EQ(ReplaceChar(s, '.', '/', false), 1u);
  EXPECT_STREQ(s, "a/b.c");
  EXPECT_TRUE(StLessEq("abc", "ABD", false));
  EXPECT_TRUE(StLessEq("ABC", "abc", false)); // equal but for case: bytes decide
  EXPECT_FALSE(StLessEq("abc", "ABC", false));
  EXPECT_FALSE(StLessEq("b", "A", false));
  EXPECT_FALSE(StLessEq("a", "B", true));
  EXPECT_EQ(IndexOfListItem("two", "one, TWO ,three"), 1u);
  EXPECT_EQ(IndexOfListItem("four", "one,two"), 65535u);
  EXPECT_TRUE(TextIsValid("line\r\n\tok", 1));
  EXPECT_FALSE(TextIsValid("bad\x01", 0));
  EXPECT_TRUE(TextIsValid("one\x01", 2));
  EXPECT_FALSE(TextIsValid2("ab\0\x02", 4, 2));
}

TEST_F(Match, PendingErrorStopsEverything) {
  SeMErrMult("earlier [[x]]", nullptr);
  EXPECT_FALSE(M("a", "a"));
  EXPECT_EQ(IndexOfText("a", "a", 0, kAllU4, 0, true), kAllU4);
  EXPECT_EQ(ErrMessageIndex("[[~]]", '~'), 8u);
  EXPECT_TRUE(ErrSet);
  ClearErr();
  EXPECT_EQ(ErrMessageIndex("x", 0), kAllU4);
}

TEST_F(Match, ReplaceInBuffer) {
  char bf[64] = "one two one";
  ReplaceTextBf(bf, sizeof bf, "one", "1");
  EXPECT_STREQ(bf, "1 two 1");
  EXPECT_EQ(replace_cnt, 2u);
  std::strcpy(bf, "aXa");
  ReplaceTextBf(bf, sizeof bf, "x", "Y", 0, true, false);
  EXPECT_STREQ(bf, "aYa");
  std::strcpy(bf, "abc abc");
  ReplaceTextBf(bf, sizeof bf, "abc", "ABC", 0, false, false); // differs only in case
  EXPECT_STREQ(bf, "ABC abc");
  std::strcpy(bf, "a\rb\nc");
  ReplaceTextBf(bf, sizeof bf, "\r", "<CR>", 0, true, true);
  ReplaceTextBf(bf, sizeof bf, "\n", "<LF>", 0, true, true);
  EXPECT_STREQ(bf, "a<CR>b<LF>c");
  std::strcpy(bf, "x [[f/main]] y");
  ReplaceTextBf(bf, sizeof bf, " [[~]]", "", '~');
  EXPECT_STREQ(bf, "x y");
  std::strcpy(bf, "a*b");
  ReplaceTextBf(bf, sizeof bf, "*", "+", '~'); // the wild card is not in the pattern
  EXPECT_STREQ(bf, "a+b");
  std::strcpy(bf, "whole");
  ReplaceTextBf(bf, sizeof bf, "", "new");
  EXPECT_STREQ(bf, "new");
  std::strcpy(bf, "cat concat cat");
  ReplaceWordBf(bf, sizeof bf, "cat", "dog");
  EXPECT_STREQ(bf, "dog concat dog");
  std::strcpy(bf, "Hello WORLD hello");
  ReplaceTextBf(bf, sizeof bf, "hello world", "goodbye earth", 0, true, false, true);
  EXPECT_STREQ(bf, "Goodbye EARTH hello");
  {
    MatchSwitchScope keep;
    replace_per_line = true;
    std::strcpy(bf, "aa\naa\n");
    ReplaceTextBf(bf, sizeof bf, "a", "bb");
    EXPECT_STREQ(bf, "bba\nbba\n");
  }
  // A start after the end in word mode: the last word ends the text.
  std::strcpy(bf, "x cat");
  ReplaceWordBf(bf, sizeof bf, "cat", "c");
  EXPECT_STREQ(bf, "x c");
}

TEST_F(Match, ReplaceOverflowLeavesText) {
  char bf[8] = "aaaa";
  ReplaceTextBf(bf, sizeof bf, "a", "bb");
  EXPECT_TRUE(ErrSet);
  EXPECT_NE(Msg().find("bf overflow:bfsz=8 newsz=9"), std::string::npos) << Msg();
  EXPECT_STREQ(bf, "aaaa");
}

TEST_F(Match, ReplaceGrowsTrackedBlock) {
  char* sp = static_cast<char*>(AllocU1(4));
  std::strcpy(sp, "a.b");
  std::string big(3000, '.');
  sp = ReplaceText(sp, ".", big.c_str());
  ASSERT_FALSE(ErrSet) << Msg();
  EXPECT_EQ(std::strlen(sp), 3002u);
  sp = ChangeWordX(sp, "b", "B");
  EXPECT_EQ(sp[3001], 'B');
  FreeSP(&sp);
}

TEST_F(Match, ReplaceIntoLPM) {
  InternalMemInit();
  U4 keep = lpm_block_x;
  const char* lit = "a-b-c";
  char* r = ReplaceText_LPM(lit, "-", "--");
  ASSERT_FALSE(ErrSet) << Msg();
  EXPECT_STREQ(r, "a--b--c");
  EXPECT_STREQ(lit, "a-b-c");
  EXPECT_EQ(replace_cnt, 2u);
  char* again = ReplaceText_LPM(r, "--", "+"); // already in LPM: no copy first
  EXPECT_STREQ(again, "a+b+c");
  ResetLPM(keep);
}

TEST_F(Match, EveryMatchFoundIsARealMatch) {
  // All texts over {a,b} up to 7 characters against all patterns over {a,b,~} up to 4.
  std::vector<std::string> texts{""}, pats{""};
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i].size() < 7)
      for (char c : {'a', 'b'})
        texts.push_back(texts[i] + c);
  for (size_t i = 0; i < pats.size(); ++i)
    if (pats[i].size() < 4)
      for (char c : {'a', 'b', '~'})
        pats.push_back(pats[i] + c);
  for (const auto& p : pats)
    for (const auto& t : texts) {
      if (StMatch(t.c_str(), p.c_str(), '~', true)) {
        ASSERT_TRUE(ReferenceMatch(t, p)) << t << " / " << p;
      }
      U4 end = 0;
      U4 m = IndexOfText(p.c_str(), t.c_str(), 0, kAllU4, '~', true, &end);
      if (m != kAllU4) {
        ASSERT_TRUE(m <= end && end <= t.size() && ReferenceMatch(t.substr(m, end - m), p))
            << t << " / " << p << " at " << m << ".." << end;
      }
    }
}

TEST_F(Match, CaseBlindIsCaseSensitiveOnFoldedText) {
  // Both ends of the alphabet in both cases, so a fold that misses 'z' or 'A' shows.
  auto fold = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
  };
  std::vector<std::string> texts{""}, pats{""};
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i].size() < 5)
      for (char c : {'a', 'z', 'A', 'Z'})
        texts.push_back(texts[i] + c);
  for (size_t i = 0; i < pats.size(); ++i)
    if (pats[i].size() < 3)
      for (char c : {'a', 'z', 'A', 'Z', '~'})
        pats.push_back(pats[i] + c);
  for (const auto& p : pats)
    for (const auto& t : texts) {
      const bool blind = StMatch(t.c_str(), p.c_str(), '~', false);
      ASSERT_EQ(blind, StMatch(fold(t).c_str(), fold(p).c_str(), '~', true)) << t << " / " << p;
      if (blind) {
        ASSERT_TRUE(ReferenceMatch(fold(t), fold(p))) << t << " / " << p;
      }
    }
}

} // namespace
