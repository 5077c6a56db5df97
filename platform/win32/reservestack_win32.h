// A stack kept aside for the handler of a stack overflow, which finds its own used up.
#pragma once
#include <cstdint>

// Calls fn(arg) on the reserve stack; on the current one while another call uses it.
void CallOnReserveStack(void (*fn)(void*), void* arg);
// Lowest and highest address of the reserve stack: a walk that starts there crosses over
// to the thread's own stack.
void ReserveStackBounds(std::uintptr_t* low, std::uintptr_t* high);
