// Progress and cancel plumbing shared by every long step.
//
// ProgressFn: called with the caller's opaque user value, a fraction from 0
// to 1 of the whole build and a UTF-8 status text, or null to keep the last
// one. Whoever calls one tests it for null first.
//
// CancelFlag: set by another thread (the window thread, a console control
// handler) while a step runs, only read by the step: every read goes
// through is_cancelled.
//
// Progress: the record a step is handed in place of the progress function,
// its user value, the share of the whole build the step fills (low to
// high) and the cancel flag. Every member may be left out: a
// default-constructed record reports nothing and is never cancelled.
#ifndef KELVORN_BASE_PROGRESS_H
#define KELVORN_BASE_PROGRESS_H

#include <stdint.h>

#include <atomic>

typedef void (*ProgressFn)(uint64_t user, double fraction, const char* status);

typedef std::atomic<int> CancelFlag;

struct Progress {
    ProgressFn fn = nullptr;
    uint64_t user = 0;
    double low = 0.0, high = 1.0;
    const CancelFlag* cancel = nullptr;
};

// 1 when cancel is given and set.
inline int is_cancelled(const CancelFlag* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

// Sets the flag; safe from a signal or console handler (the flag is
// lock-free on every platform this program builds for).
inline void request_cancel(CancelFlag* cancel) { cancel->store(1, std::memory_order_relaxed); }

// The record for one step that fills low..high of the whole build.
inline Progress progress_step(ProgressFn fn, uint64_t user, double low, double high,
                              const CancelFlag* cancel) {
    Progress progress;
    progress.fn = fn;
    progress.user = user;
    progress.low = low;
    progress.high = high;
    progress.cancel = cancel;
    return progress;
}

// Reports the fraction done of done of total (total 0 counts as 1) mapped
// into low..high. The rounding of the mapping can land just past high (3
// bytes of 3 give 0.1 + 2^-56 for a range ending at 0.1): a step that is
// complete, or a value past the end, reports high itself, so the next step's
// start is never a step back.
void progress_report_part(const Progress* progress, uint64_t done, uint64_t total, const char* status);

// Reports the whole-build fraction as it is.
inline void progress_report(const Progress* progress, double fraction, const char* status) {
    if (progress->fn) progress->fn(progress->user, fraction, status);
}

#endif
