#include "mem/tracked.h"

#include "errlog/errstack.h"
#include "platform/memquery.h"

U8 largest_free_block_last = 0;
U8 largest_free_block_lo = ~U8{0};
U8 largest_free_block_hi = 0;

// Quiet: it feeds the allocation failure message, which must stay the first error.
U8 FreeMemory() {
  PlatformMemoryStatus st;
  return PlatformMemoryStatusOf(&st) ? st.avail_virtual : 0;
}

U8 LargestFreeMemoryBlockSize() {
  if (ErrSet) return 0;
  const U8 largest = PlatformLargestFreeRun();
  largest_free_block_last = largest;
  if (largest < largest_free_block_lo) largest_free_block_lo = largest;
  if (largest > largest_free_block_hi) largest_free_block_hi = largest;
  return largest;
}
