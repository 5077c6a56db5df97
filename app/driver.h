// The program's entry: start-up, the argument loop and the end of the run.
#pragma once

// Runs the program on its command line and returns the exit status.
int TapsterMain(int argc, char** argv);

// Runs the non-option arguments in order ("/TMO=", "@" command files, commands) with the
// pause before each one after the first; stops at the first error, which stays pending.
void RunArguments(int argc, char** argv);
