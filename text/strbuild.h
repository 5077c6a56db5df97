// Bounded string building: joins lists of strings into fixed buffers or tracked blocks,
// never past the end. A result that does not fit is cut and ends in "..."; with report the
// overflow is also pushed onto the error stack.
// Mult lists are const char* pieces ended by a null pointer; at most 100 are used.
#pragma once
#include "base/types.h"

#include <cstdarg>

inline constexpr U4 kMultMax = 100;

// Length, 0 for null.
U4 StLen(const char* st);

// Joins the list into dst (dstsz bytes including the terminator). Sources may overlap dst.
void StToStMult(char* dst, U4 dstsz, bool report, const char* first, ...) TAP_SENTINEL;
// Appends the list to the text in dst; *plen (when given and not 0xFFFFFFFF) is its
// current length and receives the new one. Returns the new length.
U4 AppStMult(char* dst, U4* plen, U4 dstsz, bool report, const char* first, ...) TAP_SENTINEL;

// New tracked block of the current kind holding first and the strings of args, at most
// maxsz bytes (0xFFFFFFFF: no limit). *plen receives the length.
char* VaListCopy(U4 maxsz, bool report, U4* plen, va_list args, const char* first);
char* SPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;
char* LPMSPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;
char* TransitorySPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;
char* ZLSPCopyMult(bool report, const char* first, ...) TAP_SENTINEL;

// Appends the list to the tracked string sp (null allocates), growing it up to maxsz
// bytes. Returns the pointer to keep in place of sp.
char* AppSPMult(char* sp, U4* plen, U4 maxsz, bool report, const char* first, ...) TAP_SENTINEL;
// A new tracked string (sp's kind) holding the list, which may include sp; sp is freed.
// A null first string frees sp and returns null.
char* ReplaceSPMult(char* sp, const char* first, ...) TAP_SENTINEL;
char* ReplaceTransitorySP(char* sp, const char* st);
// sp replaced by characters from..to of src (to 0xFFFFFFFF: the end).
char* ReplaceSPPart(char* sp, const char* src, U4 from, U4 to);
// New tracked string with characters from..to of src; len 0xFFFFFFFF counts src.
char* StPart(const char* src, U4 from, U4 to, U4 len);

// Copies cnt bytes when they fit into dstsz; areas may overlap.
void BfBf(void* dst, U4 dstsz, const void* src, U4 cnt);
// New tracked block with a copy of cnt bytes (no terminator added).
void* BfCopy(const void* bf, U4 cnt);
void* TransitoryBfCopy(const void* bf, U4 cnt);

// sp extended with spaces to width characters. Returns the pointer to keep.
char* PadSP(char* sp, U4 width);

// In-place edits. from..to is the characters from up to, not including, to.
void RemovePart(char* st, U4 from, U4 to);
bool RemoveLeadingSpacesTabs(char* st);
bool RemoveTrailingSpacesTabs(char* st, U4 len);
bool RemoveTrailingChar(char* st, char ch, U4 len);
