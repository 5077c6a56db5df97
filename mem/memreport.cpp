// The memory reports of the program log: changed counters, reuse rings, leak checks.
#include "mem/memreport.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "errlog/stacktrace.h"
#include "files/fldf.h"
#include "mem/accounting.h"
#include "mem/lpm.h"
#include "mem/memgauge.h"
#include "mem/reuse.h"
#include "mem/tracked.h"
#include "text/numbers.h"

#include <cstdio>
#include <cstring>

namespace {

enum class Fmt : U1 { kCount, kBytes, kPointer };
struct Entry {
  const char* key;
  Fmt fmt;
};
// Report order.
constexpr Entry kEntries[] = {
    {"open_files_cnt", Fmt::kCount},
    {"open_files_cnt_hi", Fmt::kCount},
    {"proc_mem", Fmt::kBytes},
    {"proc_mem_hi", Fmt::kBytes},
    {"persistent_malloc_mem_cnt", Fmt::kCount},
    {"persistent_malloc_mem_cnt_hi", Fmt::kCount},
    {"persistent_malloc_mem", Fmt::kBytes},
    {"persistent_malloc_mem_hi", Fmt::kBytes},
    {"transitory_malloc_mem_cnt", Fmt::kCount},
    {"transitory_malloc_mem_cnt_hi", Fmt::kCount},
    {"transitory_malloc_mem", Fmt::kBytes},
    {"transitory_malloc_mem_hi", Fmt::kBytes},
    {"malloc_pt_lo", Fmt::kPointer},
    {"malloc_pt_hi", Fmt::kPointer},
    {"mrf_mem_cnt", Fmt::kCount},
    {"mrf_mem_cnt_hi", Fmt::kCount},
    {"mrf_mem", Fmt::kBytes},
    {"mrf_mem_hi", Fmt::kBytes},
    {"zl_mem_cnt", Fmt::kCount},
    {"zl_mem_cnt_hi", Fmt::kCount},
    {"zl_mem", Fmt::kBytes},
    {"zl_mem_hi", Fmt::kBytes},
    {"alloc_mem_cnt", Fmt::kCount},
    {"alloc_mem_cnt_hi", Fmt::kCount},
    {"alloc_mem", Fmt::kBytes},
    {"alloc_mem_hi", Fmt::kBytes},
};
constexpr U4 kEntryCnt = sizeof kEntries / sizeof kEntries[0];
constexpr U4 kProcMem = 2, kProcMemHi = 3; // entries a leak slot may leave out

struct Counters {
  U8 v[kEntryCnt];
};

Counters Now() {
  SettleMemBooks(); // LogLpmBlocks relies on this too
  return {{static_cast<U8>(open_files_cnt),
           static_cast<U8>(open_files_cnt_hi),
           proc_mem,
           proc_mem_hi,
           pgm_malloc_persistent_mem_cnt,
           pgm_malloc_persistent_mem_cnt_hi,
           pgm_malloc_persistent_mem,
           pgm_malloc_persistent_mem_hi,
           pgm_malloc_transitory_mem_cnt,
           pgm_malloc_transitory_mem_cnt_hi,
           pgm_malloc_transitory_mem,
           pgm_malloc_transitory_mem_hi,
           pgm_malloc_pt_lo,
           pgm_malloc_pt_hi,
           pgm_mrf_mem_cnt,
           pgm_mrf_mem_cnt_hi,
           pgm_mrf_mem,
           pgm_mrf_mem_hi,
           pgm_zl_mem_cnt,
           pgm_zl_mem_cnt_hi,
           pgm_zl_mem,
           pgm_zl_mem_hi,
           pgm_alloc_mem_cnt,
           pgm_alloc_mem_cnt_hi,
           pgm_alloc_mem,
           pgm_alloc_mem_hi}};
}

// A log line of at most 1024 characters; a longer one ends in "...".
class Line {
public:
  void Add(const char* s) {
    while (*s && n_ < kMax)
      bf_[n_++] = *s++;
    if (*s && !cut_) {
      std::memcpy(bf_ + kMax - 3, "...", 3);
      cut_ = true;
    }
    bf_[n_] = 0;
  }
  const char* Text() const { return bf_; }
  bool Empty() const { return n_ == 0; }

private:
  static constexpr U4 kMax = 1024;
  char bf_[kMax + 1] = "";
  U4 n_ = 0;
  bool cut_ = false;
};

void AddEntry(Line& line, U4 i, U8 now, U8 before) {
  char value[64], change[32];
  switch (kEntries[i].fmt) {
  case Fmt::kCount:
    VS10_MyBf(now, nullptr, false, value, sizeof value);
    break;
  case Fmt::kBytes:
    VS10_MyBf(now, nullptr, true, value, sizeof value);
    break;
  case Fmt::kPointer:
    VS16_MyBf(now, nullptr, nullptr, value, sizeof value);
    break;
  }
  std::snprintf(change, sizeof change, "%+lld", static_cast<long long>(now - before));
  line.Add(" ");
  line.Add(kEntries[i].key);
  line.Add("=");
  line.Add(value);
  line.Add("(");
  line.Add(change);
  line.Add(")");
}

Counters last_report;
bool reported = false;

void LogLpmBlocks(const char* text, bool list_freed) {
  char a[24], b[24], n[7][24];
  LogStMult(
      "LogMemInfo", ":", text, " lpm_block=",
      VS16_MyBf(reinterpret_cast<std::uintptr_t>(lpm_block), nullptr, nullptr, a, sizeof a),
      " lpm_block_end=",
      VS16_MyBf(reinterpret_cast<std::uintptr_t>(lpm_block_end), nullptr, nullptr, b, sizeof b),
      " lpm_block_sz=", VS10_MyBf(lpm_block_sz, nullptr, false, n[0], 24),
      " lpm_cnt=", VS10_MyBf(lpm_cnt, nullptr, false, n[1], 24),
      " lpm_cnt_hi=", VS10_MyBf(lpm_cnt_hi, nullptr, false, n[2], 24),
      " lpm_mem=", VS10_MyBf(lpm_mem, nullptr, false, n[3], 24),
      " lpm_block_x=", VS10_MyBf(lpm_block_x, nullptr, false, n[4], 24),
      " lpm_block_x_hi=", VS10_MyBf(lpm_block_x_hi, nullptr, false, n[5], 24),
      " lpm_max_sz=", VS10_MyBf(lpm_max_sz, nullptr, false, n[6], 24), nullptr);
  for (U8 x = 0; x < lpm_block_x;) {
    const memdsc* d = LpmDescriptorAt(x, "LogMemInfo");
    U4 sig;
    std::memcpy(&sig, d->signature, 4);
    if (sig == kMemDscLive || list_freed)
      LogStMult("\tlpm:", MemDscText(reinterpret_cast<const U1*>(d) + kMemDscSize), nullptr);
    x += kMemDscSize + d->sz;
  }
}

} // namespace

void LogMemInfo(const char* text, bool list_lpm, bool list_freed) {
  if (ErrSet) return;
  if (!text) text = "";
  Memgauge();
  const Counters now = Now();
  if (!reported) last_report = now;
  Line line;
  for (U4 i = 0; i < kEntryCnt; ++i) {
    if (!reported || now.v[i] != last_report.v[i]) AddEntry(line, i, now.v[i], last_report.v[i]);
  }
  last_report = now;
  reported = true;
  if (lpm_block && list_lpm) LogLpmBlocks(text, list_freed);
  if (!line.Empty()) LogStMult("LogMemInfo", ":", text, line.Text(), nullptr);
}

void DumpUsedMem(const char* text, bool list_blocks) {
  U8 mapsz = 0;
  for (const ReuseRing& r : reuse_mem)
    mapsz += 4 + U8{sizeof(memdsc*)} * r.maxcnt;
  char a[48], b[48], c[24], d[24], e[24];
  LogStMult("DumpUsedMem", text ? ":" : "", text ? text : "",
            " (mapsz=", VS10_MyBf(mapsz, nullptr, true, a, sizeof a), "):", nullptr);
  log_indent = static_cast<I2>(log_indent + 4);
  if (!reuse_mem_ena) LogStMult("reuse_mem_ena=", BoolText(reuse_mem_ena), nullptr);
  U8 all_cnt = 0, all_total = 0;
  for (U4 ix = 0; ix < kReuseClasses; ++ix) {
    const ReuseRing& r = reuse_mem[ix];
    const U4 waiting = ReuseMemWaiting(r);
    if (waiting == 0) continue;
    U8 total = 0;
    for (U4 k = r.rd; k != r.wr; k = k + 1 == r.maxcnt ? 0 : k + 1)
      total += r.map[k]->sz;
    all_cnt += waiting;
    all_total += total;
    char ixs[8];
    std::snprintf(ixs, sizeof ixs, "%u", ix);
    LogStMult("reuse_mem[", ixs, ":", VS10CS16X_MyBf(U8{64} << ix, a, sizeof a),
              "] cnt=", VS10_MyBf(waiting, nullptr, false, c, sizeof c),
              " total=", VS10CS16X_MyBf(total, b, sizeof b),
              " cnt_max=", VS10_MyBf(r.cnt_max, nullptr, false, d, sizeof d),
              " overflow_cnt=", VS10_MyBf(r.overflow_cnt, nullptr, false, e, sizeof e), nullptr);
    if (!list_blocks) continue;
    log_indent = static_cast<I2>(log_indent + 4);
    for (U4 k = r.rd; k != r.wr; k = k + 1 == r.maxcnt ? 0 : k + 1) {
      LogStMult(
          "reuse_mem[", ixs, "][",
          VS16_MyBf(reinterpret_cast<std::uintptr_t>(r.map[k]), nullptr, nullptr, a, sizeof a),
          "] sz=", VS10_MyBf(r.map[k]->sz, nullptr, false, c, sizeof c), nullptr);
    }
    log_indent = static_cast<I2>(log_indent - 4);
  }
  LogStMult("cnt=", VS10_MyBf(all_cnt, nullptr, false, c, sizeof c),
            " total=", VS10CS16X_MyBf(all_total, a, sizeof a), nullptr);
  log_indent = static_cast<I2>(log_indent - 4);
}

// ---- Leak slots -----------------------------------------------------------------------

namespace {

constexpr U4 kLeakSlots = 100;
struct LeakSlot {
  char id[256];
  bool with_proc_mem;
  Counters saved;
};
LeakSlot leak_slots[kLeakSlots];
char last_leak_line[1025];

LeakSlot* FindSlot(const char* id) {
  for (LeakSlot& s : leak_slots)
    if (s.id[0] && std::strcmp(s.id, id) == 0) return &s;
  return nullptr;
}

// The id as a slot keeps it.
void CutId(const char* id, char (&bf)[256]) {
  std::snprintf(bf, sizeof bf, "%s", id ? id : "");
}

} // namespace

void SaveMemLeakInfo(const char* id, bool with_proc_mem) {
  if (ErrSet || !zorvs_pc) return;
  char key[256];
  CutId(id, key);
  LeakSlot* slot = FindSlot(key);
  for (U4 i = 0; !slot && i < kLeakSlots; ++i)
    if (!leak_slots[i].id[0]) slot = &leak_slots[i];
  if (!slot) {
    SeMErrMult("SaveMemLeakInfo", ":id=", key, nullptr);
    return;
  }
  std::memcpy(slot->id, key, sizeof key);
  slot->with_proc_mem = with_proc_mem;
  if (with_proc_mem) Memgauge();
  slot->saved = Now();
}

bool LogMemLeakInfo(const char* id, bool proc_growth_only, const char* extra) {
  if (ErrSet || !zorvs_pc) return false;
  char key[256];
  CutId(id, key);
  LeakSlot* slot = FindSlot(key);
  if (!slot) {
    for (U4 i = 0; i < kLeakSlots; ++i) {
      if (!leak_slots[i].id[0]) continue;
      char ix[8];
      std::snprintf(ix, sizeof ix, "%u", i);
      LogStMult("LogMemLeakInfo:mem_leak_id[", ix, "]=", leak_slots[i].id, nullptr);
    }
    SeMErrMult("LogMemLeakInfo", ":id (", key, ") not found", nullptr);
    return false;
  }
  slot->id[0] = 0;
  if (slot->with_proc_mem) {
    Memgauge();
    if (proc_growth_only && proc_mem <= slot->saved.v[kProcMem]) return false;
  }
  const Counters now = Now();
  Line line;
  bool proc_only = true;
  for (U4 i = 0; i < kEntryCnt; ++i) {
    const bool proc_entry = i == kProcMem || i == kProcMemHi;
    if (proc_entry && !slot->with_proc_mem) continue;
    if (now.v[i] <= slot->saved.v[i]) continue;
    AddEntry(line, i, now.v[i], slot->saved.v[i]);
    proc_only = proc_only && proc_entry;
  }
  if (line.Empty()) return false;
  if (std::strcmp(line.Text(), last_leak_line) == 0) return true;
  std::snprintf(last_leak_line, sizeof last_leak_line, "%s", line.Text());
  const char* callers = StackCallers_STC();
  if (const char* tail = std::strstr(callers, "~/~/")) callers = tail + 4;
  LogStMult("LogMemLeakInfo", ":", key, proc_only ? ":PROCONLY" : "", ":", line.Text(),
            " callers=", callers, extra ? " " : "", extra ? extra : "", nullptr);
  return true;
}

void LogMemLeakInfoReset() {
  if (!zorvs_pc) return;
  for (LeakSlot& s : leak_slots)
    s.id[0] = 0;
}
