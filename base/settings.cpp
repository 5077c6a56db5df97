#include "base/settings.h"

U4 lpm_block_sz = 0x100000;
U4 lpm_max_sz = 0;
bool reuse_mem_ena = true;
AllocSwitches alloc_switches = {};
bool malloc_dbg = false;

bool fault_handler_ena = true;
bool add_vectored_exception_handler = true;

char pgm_log_fn[kPgmTextSz] = "";
bool log_append = false;
bool pgm_log_dbg = false;

bool daemon_pgm = false;
U1 debug_level = 0;
bool bell_ena = true;
bool pause_on_error = false;

char home_dir[kPgmTextSz] = "";
char pgm_image_path[kPgmTextSz] = "";
char pgm_image_fn[kPgmTextSz] = "";
char pgm_name[kPgmTextSz] = "";
U4 pgm_pid = 0;
U8 pgm_start_msecs = 0;
void* pgm_process_handle = nullptr;
void* pgm_module_instance = nullptr;
I2 processor_cnt = 1;
bool big_endian = false;

I4 stdin_fno = -1, stdout_fno = -1, stderr_fno = -1;
void *stdin_handle = nullptr, *stdout_handle = nullptr, *stderr_handle = nullptr;
bool stdin_redirected = false, stdout_redirected = false, stderr_redirected = false;

bool pgm_exiting = false;

bool arg_recognized[kArgTableSz] = {};
U2 arg_found_ix = 0;
