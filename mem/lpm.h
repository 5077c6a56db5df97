// The LPM pool: one block reserved once and carved up like a stack for short-lived texts.
// Save lpm_block_x before a piece of work and hand it to ResetLPM afterwards.
#pragma once
#include "base/settings.h"
#include "errlog/errstack.h"
#include "mem/busy.h"
#include "mem/memdsc.h"
#include "mem/poison.h"

extern U1* lpm_block;     // null until reserved
extern U1* lpm_block_end; // lpm_block + lpm_block_sz
// An offset in the block and a number of blocks below it: a carve's mark (below), and the
// fill itself, which a carve reads and moves in one go.
struct LpmMark {
  U4 x;
  U4 below;
};
extern LpmMark lpm_fill;
inline constexpr U4& lpm_block_x = lpm_fill.x;    // where the next descriptor goes
inline constexpr U4& lpm_blocks = lpm_fill.below; // blocks in the filled part (below)
extern U4 lpm_block_x_hi;                         // highest descriptor offset handed out
extern U4 lpm_cnt;                                // live LPM blocks
extern U4 lpm_cnt_hi;
extern U8 lpm_mem; // and their bytes
// lpm_block_sz and lpm_max_sz are start-up settings (base/settings.h). lpm_cnt, lpm_cnt_hi,
// lpm_mem and lpm_block_x_hi are exact after SettleMemBooks (below).

void InternalMemInit();
// Walks the LPM block and ends the program at the first damaged descriptor.
void InternalMemCheck(const char* name);
// Releases everything allocated after the earlier fill offset keep.
void ResetLPM(U4 keep);
// Characters from..to of src as a new LPM string (rules of StPart).
char* LPMPart(const char* src, U4 from, U4 to, U4 len);
// Joins a list of strings into a new LPM string (text/strbuild.h).
char* LPMSPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;

// For the allocator: the stored size of an LPM request and the block carved for it (null
// with "LPM OVERFLOW" pushed when it does not fit).
inline U8 LpmStoredSize(U4 sz) {
  return (U8{sz} & ~U8{3}) + 4; // room for a terminator even at a multiple of 4
}
memdsc* LpmCarve(U4 sz);
// Whether a block of that stored size fits at offset x: x below the setting, and the block
// inside the region reserved (the option may change afterwards). Before the block is
// reserved both ends are null, and nothing fits.
TAP_HOT bool LpmFits(U4 x, U8 stored) {
  const auto from = reinterpret_cast<std::uintptr_t>(lpm_block) + x;
  return x < lpm_block_sz &&
         from + kMemDscSize + stored <= reinterpret_cast<std::uintptr_t>(lpm_block_end);
}

// What lets a reset skip the walk. Every block in the filled part, live or freed, counts in
// lpm_blocks; a carve notes at its offset how many blocks lay below it, in a small table
// that a later block may overwrite (the reset then walks). lpm_freed_end is one past the
// highest offset of a block freed in the filled part, 0 for none: a reset above it
// releases only live blocks.
inline constexpr U4 kLpmMarks = 1024;
extern LpmMark lpm_marks[kLpmMarks];
extern U4 lpm_freed_end;
// Two blocks at least 36 bytes apart never share a slot of 32-byte steps.
TAP_HOT LpmMark& LpmMarkAt(U4 x) {
  return lpm_marks[(x >> 5) & (kLpmMarks - 1)];
}

// The fill as one word, read and written whole: a narrower store just before a whole read
// would hold the read up.
TAP_HOT U8 LpmFillWord() {
  U8 fill;
  std::memcpy(&fill, &lpm_fill, 8);
  return fill;
}
TAP_HOT void SetLpmFill(U4 x, U4 blocks) {
  const U8 fill = x | U8{blocks} << 32;
  std::memcpy(&lpm_fill, &fill, 8);
}
// Moves the fill past a block of stored size sz carved at the fill offset; the fill as it
// stood is the block's mark.
TAP_HOT void LpmAdvance(U8 fill, U4 sz) {
  std::memcpy(&LpmMarkAt(static_cast<U4>(fill)), &fill, 8);
  fill += (U8{1} << 32) + kMemDscSize + sz;
  std::memcpy(&lpm_fill, &fill, 8);
}
// The LPM part of the books that every new block keeps at once, for the block of stored
// size sz just carved at the fill offset: the fill moves past it. (lpm_max_sz is raised by
// every LPM booking, new block or not.)
TAP_HOT void LpmBookCarve(U4 sz) {
  const U8 fill = LpmFillWord();
  const U4 x = static_cast<U4>(fill);
  LpmAdvance(fill, sz);
  if (x > lpm_block_x_hi) lpm_block_x_hi = x;
}
// The allocator's quick carve leaves the counts and bytes (program-wide and LPM, with their
// peak values) and lpm_block_x_hi behind: they stand at the fill offset lpm_booked_x with
// lpm_booked_blocks blocks, and the blocks carved since are all live. Whatever reads those
// counters or lowers any of them settles first, so the peaks come out as if every carve had
// been booked.
extern U4 lpm_booked_x;
extern U4 lpm_booked_blocks;
void SettleLpmCarves();
// The offset of the highest block, one carved at or above lpm_booked_x and not yet booked.
U4 LpmTopCarve();
TAP_HOT bool LpmCarvesUnbooked() {
  return lpm_blocks != lpm_booked_blocks;
}
TAP_HOT void SettleMemBooks() {
  if (LpmCarvesUnbooked()) SettleLpmCarves();
}
// After a change that booked its own blocks: nothing is left to settle.
TAP_HOT void LpmBooksInStep() {
  lpm_booked_x = lpm_block_x;
  lpm_booked_blocks = lpm_blocks;
}
// The LPM part of a free (the program-wide counters are done by the caller).
void LpmBookFree(const memdsc* d);
// The descriptor at offset x of the LPM block when the chain there is sound: inside the
// filled part, its own offset recorded, a known signature and a size that stays inside.
// Ends the program through CrashMe (after pushing InternalMemCheck's message) otherwise.
const memdsc* LpmDescriptorAt(U8 x, const char* name);

// The carve of a quiet allocator (AllocQuiet: no allocation times, so no clock to read):
// the descriptor, the fill offset and the reset mark, with the counters left to
// SettleMemBooks. Null when it must go the long way.
TAP_HOT void* LpmCarveQuick(U4 sz) {
  const U8 fill = LpmFillWord();
  const U4 x = static_cast<U4>(fill);
  const U8 stored = LpmStoredSize(sz);
  if (!LpmFits(x, stored)) return nullptr;
  U1* at = lpm_block + x; // read before the flag's fence, so read once
  AllocBusy busy;
  UnpoisonMem(at, kMemDscSize + stored);
  // The descriptor straight into place: a record built on the stack and copied would
  // stall on its way through the store buffer. The reserved bytes 8 to 19 are left alone.
  auto* d = reinterpret_cast<memdsc*>(at);
  const U4 sz4 = static_cast<U4>(stored);
  SetDscHead(d, sz4, LPM);
  SetDscTailLive(d, x);
  LpmAdvance(fill, sz4);
  if (sz4 > lpm_max_sz) [[unlikely]]
    lpm_max_sz = sz4;
  // The counters and lpm_block_x_hi are settled later (SettleMemBooks).
  return at + kMemDscSize;
}

// The long way: the kind set around AllocU1, with its messages and test hooks.
void* AllocLPMGeneral(U4 sz);
// Inline, so that a loop building short texts pays no call per block.
TAP_HOT void* AllocLPM(U4 sz) {
  if (sz != 0 && AllocQuiet()) // no pending error either
    if (void* quick = LpmCarveQuick(sz)) return quick;
  return AllocLPMGeneral(sz);
}
