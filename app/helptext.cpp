#include "app/helptext.h"

#include "app/keytable.h"

#include <cctype>

const char* const tapster_usage =
    "Keyboard/Mouse Simulation Utility\n"
    "---------------------------------\n"
    "Usage:\n"
    "\tTapster {win}/{key}/{ud}/{y}/{x}\n"
    "where:\n"
    "\t{win} = Window name (\"~\" is wild-card character)\n"
    "\t{key} = Key or button name\n"
    "\t{u/d} = Up/down code: \"D\", \"U\", or \"\"DU\" (default = \"DU\")\n"
    "\t{y}   = Y coordinate\n"
    "\t{x}   = X coordinate\n";

const OptionDoc arg_forms[kArgFormCount] = {
    {"/TMO", "=ms",
     "Later commands wait up to ms milliseconds for their window (default 2000, 0 looks once)."},
    {"@", "file", "Run the lines of file as commands, one command per line."},
    {"--help", "", "Show the help text and end."},
    {"--version", "", "Show the version and end."},
};

namespace {
constexpr size_t kWidth = 79;
constexpr size_t kHelpColumn = 26;

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// "A" then "B", "F9" then "F10", "KP:3" then "KP:4".
bool NextName(const std::string& a, const std::string& b) {
  if (a.size() == 1 && b.size() == 1 && std::isalnum(static_cast<unsigned char>(a[0])))
    return b[0] == a[0] + 1;
  size_t cut = a.find_last_not_of("0123456789") + 1;
  std::string number = a.substr(cut);
  if (!AllDigits(number) || cut == 0) return false;
  return b == a.substr(0, cut) + std::to_string(std::stoi(number) + 1);
}

bool RunGoesOn(int i) {
  return i + 1 < kKeyNameCount && key_names[i + 1].code == key_names[i].code + 1 &&
         NextName(key_names[i].name, key_names[i + 1].name);
}

std::string ItemText(const KeyNameItem& item) {
  return item.last.empty() ? item.first : item.first + " to " + item.last;
}

void AddOptionLines(std::string& out, const OptionDoc* docs, int count) {
  for (int i = 0; i < count; ++i) {
    std::string form = std::string("  ") + docs[i].name + docs[i].value;
    if (form.size() + 2 > kHelpColumn) {
      out += form + "\n";
      form.clear();
    }
    form.resize(kHelpColumn, ' ');
    for (const std::string& line : WrapText(docs[i].help, kWidth - kHelpColumn)) {
      out += form + line + "\n";
      form.assign(kHelpColumn, ' ');
    }
  }
}
} // namespace

std::vector<KeyNameItem> KeyNameItems() {
  std::vector<KeyNameItem> items;
  for (int i = 0; i < kKeyNameCount; ++i) {
    int end = i;
    while (RunGoesOn(end))
      ++end;
    if (end - i >= 2) {
      items.push_back({key_names[i].name, key_names[end].name});
      i = end;
    } else {
      items.push_back({key_names[i].name, ""});
    }
  }
  return items;
}

std::vector<std::string> KeyNameLines(size_t width) {
  std::vector<std::string> lines;
  std::string line;
  for (const KeyNameItem& item : KeyNameItems()) {
    std::string text = ItemText(item);
    if (!line.empty() && line.size() + 2 + text.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : "  ") + text;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> WrapText(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string HelpText() {
  std::string out = tapster_usage;
  out += "\nOther arguments:\n";
  AddOptionLines(out, arg_forms, kArgFormCount);
  out += "\nKey names (letter case ignored):\n";
  for (const std::string& line : KeyNameLines(kWidth - 2))
    out += "  " + line + "\n";
  out += "\nA {key} beginning with ' types the text up to the next ' (<Enter> for Enter).\n";
  out += "\nRuntime options (letter case ignored):\n";
  AddOptionLines(out, runtime_options, kRuntimeOptionCount);
  return out;
}

std::string VersionText() {
  return std::string("Tapster ") + tapster_version + "\n";
}
