// The console keyboard: key-event input with a key map, and Ctrl-C / Ctrl-Break turned into
// an orderly end. Nothing in this program opens it; shutdown always closes it.
#pragma once
#include "base/types.h"

extern bool kb_open; // OpenKB has switched the console's input mode

// Switches.
extern bool kb_ctrl_c_ena, kb_ctrl_break_ena;        // OpenKB takes the key over (default on)
extern bool kb_abort_on_ctrl_c, kb_abort_on_break;   // KBHit ends the program (default on)
extern bool kb_abort_msg_ctrl_c, kb_abort_msg_break; // "Process aborted by user" (default on)
extern bool kb_single_key;                           // KBHit stops at one key (default on)
extern bool kb_output_on;                            // toggled by Ctrl-O

// The orderly end an abort key takes (reports the error, ends children, gives the exit
// status); start-up installs it. Null: the program exits at once.
extern U1 (*kb_program_exit)(U1 status);

// Opens the keyboard; raw adds window and mouse events. Nothing while an error is pending
// or when it is open already.
void OpenKB(bool raw);
// Restores the console input mode and gives the break keys back; nothing when closed.
void CloseKB();
// A key value waits. plain, or the keyboard closed: the runtime's own test on the console
// (false in daemon mode or without standard input).
bool KBHit(bool plain);
// The first waiting key value (0: none); wait polls every 10 ms, keep leaves it queued.
U2 KBReadKey(bool wait, bool keep);
// One character, unbuffered and without echo: 26 at the end of redirected input or, when
// waiting, without standard input; Ctrl-C ends the program with status 1.
int KBGetChar(bool wait);
// Builds the key map from the built-in rows.
bool ReadKBMap();
