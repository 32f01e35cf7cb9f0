#include "support/recorder.h"

#include <thread>

namespace kt {

const char* const NO_STATUS = "(null)";

void record(uint64_t user, double fraction, const char* status) {
    Recorder* r = (Recorder*)(uintptr_t)user;
    r->reports.push_back({user, fraction, status ? status : NO_STATUS});
    if (r->probe) r->probe();
    if (r->cancel && r->cancel_at_call == (int)r->reports.size()) {
        CancelFlag* flag = r->cancel;
        if (r->cancel_from_thread) std::thread([flag] { request_cancel(flag); }).join();
        else request_cancel(flag);
    }
    if (!r->acted && r->action && status && std::string(status).rfind(r->act_at, 0) == 0 &&
        (r->act_fraction < 0 || fraction == r->act_fraction)) {
        r->acted = true;
        r->action();
    }
}

std::vector<double> Recorder::fractions() const {
    std::vector<double> out;
    for (const Report& r : reports) out.push_back(r.fraction);
    return out;
}

std::vector<std::string> Recorder::statuses() const {
    std::vector<std::string> out;
    for (const Report& r : reports) out.push_back(r.status);
    return out;
}

int Recorder::statuses_given() const {
    int n = 0;
    for (const Report& r : reports) n += r.status != NO_STATUS;
    return n;
}

}  // namespace kt
