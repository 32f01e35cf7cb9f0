// One progress recorder for every test that hands a step a ProgressFn: it
// keeps each report and can act at a chosen moment (set a cancel flag, run
// a test's action, probe what the test watches).
#ifndef KELVORN_TESTS_RECORDER_H
#define KELVORN_TESTS_RECORDER_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "base/progress.h"

namespace kt {

// The status a report without text is kept under.
extern const char* const NO_STATUS;  // "(null)"

struct Report {
    uint64_t user;
    double fraction;
    std::string status;  // NO_STATUS for none
    bool operator==(const Report& o) const {
        return user == o.user && fraction == o.fraction && status == o.status;
    }
};

// The ProgressFn: user is a Recorder* (Recorder::user()).
void record(uint64_t user, double fraction, const char* status);

// Passed as the user value of record (see user()). Every member but reports
// is an optional hook, off by default.
struct Recorder {
    std::vector<Report> reports;

    // Sets *cancel on the cancel_at_call-th report (1-based; 0 never), from
    // a thread of its own when cancel_from_thread (as a window or console
    // handler would).
    int cancel_at_call = 0;
    CancelFlag* cancel = nullptr;
    bool cancel_from_thread = false;

    // Runs action once, at the first report whose status begins with act_at
    // and, when act_fraction is not negative, whose fraction equals it.
    std::string act_at;
    double act_fraction = -1;
    std::function<void()> action;
    bool acted = false;

    // Runs on every report after it is kept (reads a file position, the
    // heap in use, ...).
    std::function<void()> probe;

    uint64_t user() const { return (uint64_t)(uintptr_t)this; }
    // The step record that reports here, filling low..high.
    Progress step(double low, double high, const CancelFlag* cancel_flag = nullptr) const {
        return progress_step(record, user(), low, high, cancel_flag);
    }

    std::vector<double> fractions() const;
    std::vector<std::string> statuses() const;
    int statuses_given() const;  // reports with a text
};

}  // namespace kt

#endif
