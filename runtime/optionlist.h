// The library's options as users see them: one list for the help text and the manual.
#pragma once

struct OptionDoc {
  const char* name;  // the argument as typed up to its value, e.g. "-DEBUG"
  const char* value; // "" for a flag, "=dir" for a value, "[=level]" for an optional one
  const char* help;  // one sentence
};

inline constexpr int kRuntimeOptionCount = 15;
extern const OptionDoc runtime_options[kRuntimeOptionCount];

// The arguments that ask a program for its help text or its version; start-up claims them.
bool IsHelpArg(const char* arg);
bool IsVersionArg(const char* arg);
