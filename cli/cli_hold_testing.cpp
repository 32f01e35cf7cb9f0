// The testing build's hold (cli/cli_hold.h).
#include "cli/cli_hold.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "cli/cli_platform.h"
#include "base/paths.h"

struct Hold {
    int read;     // the variables were read
    int pending;  // a hold is asked for and has not happened yet
    int percent;
    char status[256];
    char file[PATH_CAPACITY];
};

static Hold hold;

static void read_hold(void) {
    hold.read = 1;
    char at[300];
    if (!cli_environment("KELVORN_TEST_HOLD_AT", at, sizeof at)) return;
    if (!cli_environment("KELVORN_TEST_HOLD", hold.file, sizeof hold.file) || !hold.file[0]) return;
    char* rest = nullptr;
    long percent = strtol(at, &rest, 10);
    if (rest == at || *rest != ' ' || percent < 0 || percent > 100) return;
    size_t length = strlen(rest + 1);
    if (length >= sizeof hold.status) return;
    memcpy(hold.status, rest + 1, length + 1);
    hold.percent = (int)percent;
    hold.pending = 1;
}

int cli_hold_reached(double fraction, const char* status) {
    if (!hold.read) read_hold();
    if (!hold.pending || !status) return 0;
    if (fraction * 100.0 < hold.percent || strncmp(status, hold.status, strlen(hold.status)) != 0) return 0;
    hold.pending = 0;
    return path_exists(hold.file);
}

void cli_hold_wait(const CancelFlag* cancel) {
    while (path_exists(hold.file) && !is_cancelled(cancel))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
