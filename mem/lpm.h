// The LPM pool: one block reserved once and carved up like a stack for short-lived texts.
// Save lpm_block_x before a piece of work and hand it to ResetLPM afterwards.
#pragma once
#include "mem/tracked.h"

extern U1* lpm_block;     // null until reserved
extern U1* lpm_block_end; // lpm_block + lpm_block_sz
extern U4 lpm_block_x;    // where the next descriptor goes
extern U4 lpm_block_x_hi; // highest descriptor offset handed out
extern U4 lpm_cnt;        // live LPM blocks
extern U4 lpm_cnt_hi;
extern U8 lpm_mem; // and their bytes
// lpm_block_sz and lpm_max_sz are start-up settings (base/settings.h).

void InternalMemInit();
// Walks the LPM block and ends the program at the first damaged descriptor.
void InternalMemCheck(const char* name);
void* AllocLPM(U4 sz);
// Releases everything allocated after the earlier fill offset keep.
void ResetLPM(U4 keep);
// Characters from..to of src as a new LPM string (rules of StPart).
char* LPMPart(const char* src, U4 from, U4 to, U4 len);
// Joins a list of strings into a new LPM string (text/strbuild.h).
char* LPMSPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;

// For the allocator: the stored size of an LPM request and the block carved for it (null
// with "LPM OVERFLOW" pushed when it does not fit).
U8 LpmStoredSize(U4 sz);
memdsc* LpmCarve(U4 sz);
// The descriptor at offset x of the LPM block when the chain there is sound: inside the
// filled part, its own offset recorded, a known signature and a size that stays inside.
// Ends the program through CrashMe (after pushing InternalMemCheck's message) otherwise.
const memdsc* LpmDescriptorAt(U8 x, const char* name);
