// Writes the manual page tapster(1) from the tables the program itself uses.
//   manpage OUTPUT DATE
#include "app/driver.h"
#include "app/helptext.h"
#include "runtime/optionlist.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Text as roff reads it: backslashes and minus signs escaped, and no line that a leading
// "." or "'" would turn into a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string Bold(const std::string& text) {
  return "\\fB" + Roff(text) + "\\fR";
}

void Options(std::ofstream& out, const OptionDoc* docs, int count) {
  for (int i = 0; i < count; ++i) {
    out << ".TP\n" << Bold(docs[i].name) << Roff(docs[i].value) << "\n";
    for (const std::string& line : WrapText(docs[i].help, 72))
      out << Roff(line) << "\n";
  }
}

// Lines kept as they are, tabs included.
void Verbatim(std::ofstream& out, const std::string& text) {
  out << ".PP\n.RS\n.nf\n";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    out << Roff(text.substr(pos, end - pos)) << "\n";
    pos = end + 1;
  }
  out << ".fi\n.RE\n";
}

void Write(std::ofstream& out, const std::string& date) {
  out << ".TH TAPSTER 1 " << date << " \"Tapster " << tapster_version << "\" \"User Commands\"\n"
      << ".SH NAME\n"
      << "tapster \\- simulate keyboard and mouse input into the windows of other programs\n"
      << ".SH SYNOPSIS\n"
      << ".B tapster\n"
      << "[\\fIoption\\fR ...] [\\fB/TMO=\\fIms\\fR] "
         "[\\fIcommand\\fR | \\fB@\\fIfile\\fR] ...\n"
      << ".br\n"
      << ".B tapster \\-\\-help\n"
      << ".br\n"
      << ".B tapster \\-\\-version\n"
      << ".SH DESCRIPTION\n"
      << "Each argument is one simulation command of the form\n"
      << ".IR win / key / ud / y / x :\n"
      << "the window to find (by title, or by class after \\fBClass:\\fR,\n"
      << "with \\fB~\\fR as a wild-card character), the key or mouse button to press\n"
      << "or a quoted text to type, whether to send the press (\\fBD\\fR),\n"
      << "the release (\\fBU\\fR) or both (the default), and for the mouse\n"
      << "the coordinates relative to the window.\n"
      << "Commands run in order with a pause of half a second between arguments; each is\n"
      << "echoed on standard output, and the first failure ends the run with \\fBERROR:\\fR\n"
      << "and the message.\n"
      << ".PP\n"
      << "An empty window field sends the events to the window that has the input focus.\n"
      << "A key field that begins with \\fB'\\fR types the text up to the next \\fB'\\fR;\n"
      << "\\fB<Enter>\\fR inside it presses Enter.\n"
      << "The text goes out in chunks of 16 characters, each after a check that the\n"
      << "window still has the input focus; CapsLock ends the text as it was before it.\n"
      << "Runs on one display take turns from their first key to their last release;\n"
      << "a second run waits up to its window timeout for its turn.\n"
      << "Without a key the command only brings the window to the front, or, with\n"
      << "coordinates, moves the mouse pointer there.\n"
      << ".PP\n"
      << "Run without arguments, the program prints its usage text:\n";
  Verbatim(out, tapster_usage);
  out << ".SH ARGUMENTS\n";
  Options(out, arg_forms, kArgFormCount);
  out << ".SH KEY NAMES\n"
      << "Key and button names are compared with letter case ignored:\n";
  std::string keys;
  for (const std::string& line : KeyNameLines(64))
    keys += line + "\n";
  Verbatim(out, keys);
  out << ".SH OPTIONS\n"
      << "The runtime options begin with \\fB\\-\\fR and may stand anywhere on the line;\n"
      << "their names are compared with letter case ignored.\n";
  Options(out, runtime_options, kRuntimeOptionCount);
  out << ".SH ENVIRONMENT\n"
      << ".TP\n"
      << ".B WAYLAND_DISPLAY\n"
      << "When set, the windows are those of this Wayland compositor,\n"
      << "which must be built on wlroots (sway and others): it lists its windows\n"
      << "through zwlr_foreign_toplevel_manager_v1, and keys and the mouse go\n"
      << "through zwp_virtual_keyboard_manager_v1 and zwlr_virtual_pointer_manager_v1.\n"
      << "\\fBClass:\\fR matches a window's app id.\n"
      << "Text is typed with a keymap of tapster's own,\n"
      << "so it arrives as written whatever the layout.\n"
      << "Mouse commands with a window need sway's IPC (\\fBSWAYSOCK\\fR)\n"
      << "for the window's position.\n"
      << ".TP\n"
      << ".B DISPLAY\n"
      << "Without \\fBWAYLAND_DISPLAY\\fR, the X11 display whose windows are driven.\n"
      << ".TP\n"
      << ".B TAPSTER_BACKEND\n"
      << "\\fBx11\\fR or \\fBwayland\\fR forces that desktop; on a Wayland desktop\n"
      << "without the protocols above, \\fBTAPSTER_BACKEND=x11\\fR still reaches\n"
      << "its X11 windows.\n"
      << ".SH EXIT STATUS\n"
      << "0 when every command ran; 1 after a failure or a fault,\n"
      << "and 1 for the bare usage text.\n"
      << ".SH FILES\n"
      << ".TP\n"
      << ".I tapster.log\n"
      << "The program log, in the home directory (the current directory unless\n"
      << "\\fB\\-HOME=\\fR says otherwise).\n"
      << ".TP\n"
      << ".I tapster.err\n"
      << "The errors of the run, beside the program log.\n"
      << ".SH EXAMPLES\n"
      << "Type a line into the window titled \\(lqUntitled \\- Notepad\\(rq:\n"
      << ".PP\n"
      << ".RS\n"
      << ".nf\n"
      << "tapster \"Untitled \\- Notepad/'Hello World<Enter>'\"\n"
      << ".fi\n"
      << ".RE\n"
      << ".PP\n"
      << "Hold Shift around a key, then click 20 pixels right of and 10 below the\n"
      << "top\\-left corner of a window whose title begins with \\(lqCalc\\(rq:\n"
      << ".PP\n"
      << ".RS\n"
      << ".nf\n"
      << "tapster Calc~/Shift/D Calc~/A Calc~/Shift/U \"Calc~/Mouse:L//10/20\"\n"
      << ".fi\n"
      << ".RE\n"
      << ".PP\n"
      << "Wait up to ten seconds for the window, then run the commands of a file:\n"
      << ".PP\n"
      << ".RS\n"
      << ".nf\n"
      << "tapster /TMO=10000 @commands.txt\n"
      << ".fi\n"
      << ".RE\n";
}
} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: manpage OUTPUT DATE\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary);
  Write(out, argv[2]);
  out.close();
  if (!out) {
    std::fprintf(stderr, "manpage: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
