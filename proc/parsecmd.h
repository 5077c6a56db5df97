// Splitting a command line into its arguments and redirections.
#pragma once
#include "base/settings.h"

#include <string>
#include <vector>

// The command last parsed (one at a time, program-wide).
struct ParsedCommand {
  std::vector<std::string> args;
  char stdin_fn[kPgmTextSz] = ""; // empty when not redirected
  char stdout_fn[kPgmTextSz] = "";
  char stderr_fn[kPgmTextSz] = "";
  bool stdout_append = false; // ">>"
  bool stderr_append = false; // "2>>"
};
extern ParsedCommand parsed_cmd;

// Blanks and tabs separate words; double or single quotes group them; "<", ">", ">>",
// "2>" and "2>>" redirect, "&0", "&1", "&2" name another stream's file; "/dev/null" becomes
// the platform's null device. Pushes no error.
void ParseCommand(const char* cmd);
void ClearParseCommand();

// Replaces every whole word "/dev/null" (case ignored) in text by the null device.
void NullDeviceWords(std::string* text);
