// The books of a block coming into use or going, for every kind: the allocator's general
// path, where its fast paths keep them inline (mem/accounting.h, mem/lpm.h).
#pragma once
#include "base/types.h"

// A block of pt's descriptor came into use (oldsz 0) or was resized from oldsz in place.
void UpdateMemDataAlloc(void* pt, U4 oldsz);
// pt's block is about to be released, parked or flagged freed. A counter that would go
// below zero ends the program.
void UpdateMemDataFree(void* pt);
