// What the program tells about itself: --help, --version and the manual page, all built
// from the program's own tables so that they cannot disagree with it.
#pragma once
#include "runtime/optionlist.h"

#include <string>
#include <vector>

// The version of the build, e.g. "1.2.0".
extern const char* const tapster_version;

// The usage text printed when there are no arguments.
extern const char* const tapster_usage;

// The arguments that are neither commands nor library options.
inline constexpr int kArgFormCount = 4;
extern const OptionDoc arg_forms[kArgFormCount];

// The key names in table order, runs such as "A" to "Z" as one item, wrapped into lines of
// at most width characters (each item is "first" or "first to last").
struct KeyNameItem {
  std::string first, last;
};
std::vector<KeyNameItem> KeyNameItems();
std::vector<std::string> KeyNameLines(size_t width);

// Text cut at blanks into lines of at most width characters (a longer word stands alone).
std::vector<std::string> WrapText(const std::string& text, size_t width);

// The whole --help text: the usage text unchanged, then the rest.
std::string HelpText();
std::string VersionText();
