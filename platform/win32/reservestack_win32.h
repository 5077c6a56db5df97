// A stack kept aside for the handler of a stack overflow, which finds its own used up.
#pragma once

// Calls fn(arg) on the reserve stack; on the current one while another call uses it.
void CallOnReserveStack(void (*fn)(void*), void* arg);
