#include "console/keymap.h"

#include "console/keynames.h"
#include "errlog/errstack.h"
#include "platform/console.h"
#include "text/numbers.h"

#include <cstring>
#include <string>

const char* const kKBMapRows[] = {
    "<Esc>           27      KBM_NOCTL | KMB_NOALT",
    "<F1>            112     KBM_NOCTL | KMB_NOALT",
    "<F2>            113     KBM_NOCTL | KMB_NOALT",
    "<F3>            114     KBM_NOCTL | KMB_NOALT",
    "<F4>            115     KBM_NOCTL | KMB_NOALT",
    "<F5>            116     KBM_NOCTL | KMB_NOALT",
    "<F6>            117     KBM_NOCTL | KMB_NOALT",
    "<F7>            118     KBM_NOCTL | KMB_NOALT",
    "<F8>            119     KBM_NOCTL | KMB_NOALT",
    "<F9>            120     KBM_NOCTL | KMB_NOALT",
    "<F10>           121     KBM_NOCTL | KMB_NOALT",
    "<F11>           122     KBM_NOCTL | KMB_NOALT",
    "<F12>           123     KBM_NOCTL | KMB_NOALT",
    "<Insert>        45      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<Home>          36      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<PageUp>        33      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<Delete>        46      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<End>           35      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<PageDown>      34      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<Up>            38      KMB_ENH | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Down>          40      KMB_ENH | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Left>          37      KMB_ENH | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Right>         39      KMB_ENH | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Insert>        45      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<Home>          36      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<PageUp>        33      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<Delete>        46      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<End>           35      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<PageDown>      34      KMB_NONUM | KBM_NOCTL | KMB_NOALT",
    "<Up>            38      KMB_NONUM | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Down>          40      KMB_NONUM | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Left>          37      KMB_NONUM | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<Right>         39      KMB_NONUM | KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<KP:Del>        110     KMB_NUM",
    "<KP:->          109     KBM_NOCTL | KMB_NOALT",
    "<KP:+>          107     KBM_NOCTL | KMB_NOALT",
    "<KP:Enter>      13      KMB_ENH | KBM_NOCTL | KMB_NOALT",
    "<Shft-Tab>      9       KBM_SHIFT",
    "<TAB>           9       KMB_NOSHIFT",
    "<Space>         32      KBM_NOCTL",
    "<Ctrl-Up>       38      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-Down>     40      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-Left>     37      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-Right>    39      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-Home>     36      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-PageUp>   33      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-End>      35      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-PageDown> 34      KMB_ENH | KMB_CTL | KMB_NOALT",
    "<Ctrl-F1>       112     KMB_CTL | KMB_NOALT",
    "<Ctrl-F2>       113     KMB_CTL | KMB_NOALT",
    "<Ctrl-F3>       114     KMB_CTL | KMB_NOALT",
    "<Ctrl-F4>       115     KMB_CTL | KMB_NOALT",
    "<Ctrl-F5>       116     KMB_CTL | KMB_NOALT",
    "<Ctrl-F6>       117     KMB_CTL | KMB_NOALT",
    "<Ctrl-F7>       118     KMB_CTL | KMB_NOALT",
    "<Ctrl-F8>       119     KMB_CTL | KMB_NOALT",
    "<Ctrl-F9>       120     KMB_CTL | KMB_NOALT",
    "<Ctrl-F10>      121     KMB_CTL | KMB_NOALT",
    "<Ctrl-F11>      122     KMB_CTL | KMB_NOALT",
    "<Ctrl-F12>      123     KMB_CTL | KMB_NOALT",
    "<Ctrl-F1>       112     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F2>       113     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F3>       114     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F4>       115     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F5>       116     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F6>       117     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F7>       118     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F8>       119     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F9>       120     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F10>      121     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F11>      122     KMB_ALT | KBM_NOCTL",
    "<Ctrl-F12>      123     KMB_ALT | KBM_NOCTL",
    "<ALT-0>         48      KMB_ALT | KBM_NOCTL",
    "<ALT-1>         49      KMB_ALT | KBM_NOCTL",
    "<ALT-2>         50      KMB_ALT | KBM_NOCTL",
    "<ALT-3>         51      KMB_ALT | KBM_NOCTL",
    "<ALT-4>         52      KMB_ALT | KBM_NOCTL",
    "<ALT-5>         53      KMB_ALT | KBM_NOCTL",
    "<ALT-6>         54      KMB_ALT | KBM_NOCTL",
    "<ALT-7>         55      KMB_ALT | KBM_NOCTL",
    "<ALT-8>         56      KMB_ALT | KBM_NOCTL",
    "<ALT-9>         57      KMB_ALT | KBM_NOCTL",
    "<ALT-A>         65      KMB_ALT | KBM_NOCTL",
    "<ALT-B>         66      KMB_ALT | KBM_NOCTL",
    "<ALT-C>         67      KMB_ALT | KBM_NOCTL",
    "<ALT-D>         68      KMB_ALT | KBM_NOCTL",
    "<ALT-E>         69      KMB_ALT | KBM_NOCTL",
    "<ALT-F>         70      KMB_ALT | KBM_NOCTL",
    "<ALT-G>         71      KMB_ALT | KBM_NOCTL",
    "<ALT-H>         72      KMB_ALT | KBM_NOCTL",
    "<ALT-I>         73      KMB_ALT | KBM_NOCTL",
    "<ALT-J>         74      KMB_ALT | KBM_NOCTL",
    "<ALT-K>         75      KMB_ALT | KBM_NOCTL",
    "<ALT-L>         76      KMB_ALT | KBM_NOCTL",
    "<ALT-M>         77      KMB_ALT | KBM_NOCTL",
    "<ALT-N>         78      KMB_ALT | KBM_NOCTL",
    "<ALT-O>         79      KMB_ALT | KBM_NOCTL",
    "<ALT-P>         80      KMB_ALT | KBM_NOCTL",
    "<ALT-Q>         81      KMB_ALT | KBM_NOCTL",
    "<ALT-R>         82      KMB_ALT | KBM_NOCTL",
    "<ALT-S>         83      KMB_ALT | KBM_NOCTL",
    "<ALT-T>         84      KMB_ALT | KBM_NOCTL",
    "<ALT-U>         85      KMB_ALT | KBM_NOCTL",
    "<ALT-V>         86      KMB_ALT | KBM_NOCTL",
    "<ALT-W>         87      KMB_ALT | KBM_NOCTL",
    "<ALT-X>         88      KMB_ALT | KBM_NOCTL",
    "<ALT-Y>         89      KMB_ALT | KBM_NOCTL",
    "<ALT-Z>         90      KMB_ALT | KBM_NOCTL",
    "<ALT-Up>        38      KMB_ENH | KMB_ALT | KBM_NOCTL",
    "<ALT-Down>      40      KMB_ENH | KMB_ALT | KBM_NOCTL",
    "<ALT-Left>      37      KMB_ENH | KMB_ALT | KBM_NOCTL",
    "<ALT-Right>     39      KMB_ENH | KMB_ALT | KBM_NOCTL",
    "<Shft-Up>       38      KMB_ENH | KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "<Shft-Down>     40      KMB_ENH | KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "<Shft-Left>     37      KMB_ENH | KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "<Shft-Right>    39      KMB_ENH | KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "0               48      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    ")               48      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "1               49      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "!               49      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "2               50      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "@               50      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "3               51      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "#               51      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "4               52      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "$               52      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "5               53      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "%               53      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "6               54      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "^               54      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "7               55      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "&               55      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "8               56      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "*               56      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "9               57      KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "(               57      KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    ";               186     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    ":               186     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "=               187     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "+               187     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    ",               188     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "<               188     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "-               189     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "_               189     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    ".               190     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    ">               190     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "/               191     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "?               191     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "`               192     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "~               192     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "[               219     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "{               219     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "\\               220     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "|               220     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "]               221     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "}               221     KBM_SHIFT | KBM_NOCTL | KMB_NOALT",
    "'               222     KMB_NOSHIFT | KBM_NOCTL | KMB_NOALT",
    "\"               222     KBM_SHIFT | KBM_NOCTL | KMB_NOALT"};
const U4 kKBMapRowCount = sizeof kKBMapRows / sizeof kKBMapRows[0];

namespace {

constexpr U4 kCodeColumn = 16, kModColumn = 24, kMinRowLength = 25;

struct ModName {
  const char* name;
  U2 bit;
};
constexpr ModName kModNames[] = {
    {"KMB_ENH", KMB_ENH},     {"KBM_SHIFT", KBM_SHIFT}, {"KMB_NOSHIFT", KMB_NOSHIFT},
    {"KMB_NUM", KMB_NUM},     {"KMB_NONUM", KMB_NONUM}, {"KMB_CTL", KMB_CTL},
    {"KBM_NOCTL", KBM_NOCTL}, {"KMB_ALT", KMB_ALT},     {"KMB_NOALT", KMB_NOALT}};

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool Holds(U2 mask, U2 need, U2 forbid, bool on) {
  return !((mask & need) && !on) && !((mask & forbid) && on);
}

} // namespace

bool ParseKBMap(const char* const* rows, U4 count, std::vector<KBMapEntry>* map) {
  map->clear();
  map->reserve(count + 1);
  for (U4 i = 0; i < count && !ErrSet; ++i) {
    std::string row = rows[i];
    const size_t comment = row.find(';', 1);
    if (comment != std::string::npos) row.resize(comment);
    if (row.size() < kMinRowLength) continue;
    const std::string name = Trimmed(row.substr(0, kCodeColumn));
    const std::string code = Trimmed(row.substr(kCodeColumn, kModColumn - kCodeColumn));
    const std::string mods = Trimmed(row.substr(kModColumn));
    const U2 vk = St10U2(code.c_str(), 0, 0, nullptr, true);
    if (ErrSet) {
      AddErrMult(" (key map row \"", rows[i], "\")", nullptr);
      return false;
    }
    const U2 key = KeyValueOfName(name.c_str());
    if (key == kKeyNone) continue;
    U2 mask = 0;
    for (const ModName& m : kModNames)
      if (mods.find(m.name) != std::string::npos) mask = U2(mask | m.bit);
    map->push_back({vk, mask, key});
  }
  map->push_back({kKBMapEnd, 0, 0});
  return !ErrSet;
}

U2 MapKeyEvent(const std::vector<KBMapEntry>& map, U2 vk, U1 ch, U4 state) {
  const bool enh = state & kKsEnhanced, shift = state & kKsShift, num = state & kKsNumLock,
             ctl = state & kKsCtrl, alt = state & kKsAlt;
  for (const KBMapEntry& e : map) {
    if (e.vk == kKBMapEnd) break;
    if (e.vk != vk || bool(e.mask & KMB_ENH) != enh) continue;
    if (Holds(e.mask, KBM_SHIFT, KMB_NOSHIFT, shift) && Holds(e.mask, KMB_NUM, KMB_NONUM, num) &&
        Holds(e.mask, KMB_CTL, KBM_NOCTL, ctl) && Holds(e.mask, KMB_ALT, KMB_NOALT, alt))
      return e.key;
  }
  return ch;
}
