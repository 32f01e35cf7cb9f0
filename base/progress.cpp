#include "base/progress.h"

static_assert(CancelFlag::is_always_lock_free, "the cancel flag is set from signal handlers");

void progress_report_part(const Progress* progress, uint64_t done, uint64_t total, const char* status) {
    if (!progress->fn) return;
    if (total == 0) total = 1;
    double fraction = (double)done * (progress->high - progress->low) / (double)total + progress->low;
    if (done >= total || fraction > progress->high) fraction = progress->high;
    progress->fn(progress->user, fraction, status);
}
