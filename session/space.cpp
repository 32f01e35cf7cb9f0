#include "session/space.h"

#include <stdio.h>

#include "base/paths.h"
#include "builder/space.h"

int build_has_room(const BuildRequest* request, SpaceCheck* check) {
    check->needed = 0;
    check->available = 0;
    if (!estimate_build_size(request, &check->needed, nullptr, 0)) {
        check->needed = 0;
        return 1;
    }
    if (!free_space_of(request->dest_dir, &check->available)) {
        check->available = 0;
        return 1;
    }
    return check->available >= check->needed;
}

uint64_t size_in_mb(uint64_t bytes, int round_up) {
    const uint64_t mb = 1048576;
    return bytes / mb + (round_up && bytes % mb ? 1 : 0);
}

void format_space_shortfall(FrontEnd front, char* out, size_t capacity, const SpaceCheck* check,
                            const char* dest_dir) {
    const unsigned long long needed = size_in_mb(check->needed, 1);
    const unsigned long long available = size_in_mb(check->available, 0);
    if (front == FRONT_WIZARD)
        snprintf(out, capacity,
                 "The build needs about %llu MB, but only %llu MB are free in %s.\r\n\r\n"
                 "Build anyway? It stops with a message if the disk fills up.",
                 needed, available, dest_dir);
    else
        snprintf(out, capacity,
                 "kelvorn-cli: the build needs about %llu MB, but only %llu MB are free in %s; "
                 "make room, or give --no-space-check to build anyway",
                 needed, available, dest_dir);
}
