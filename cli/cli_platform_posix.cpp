#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "cli/cli_platform.h"

void cli_console_init(void) {
    // A reader that goes away (kelvorn-cli | head) must not kill a build
    // half way: output just fails from then on.
    signal(SIGPIPE, SIG_IGN);
}

void cli_write(int to_stderr, const char* text) {
    FILE* stream = to_stderr ? stderr : stdout;
    fputs(text, stream);
    fflush(stream);
}

int cli_stdout_is_terminal(void) { return isatty(STDOUT_FILENO); }

int cli_terminal_columns(void) {
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void cli_default_destination(char* out, size_t capacity) {
    const char* home = getenv("HOME");
    if (home && home[0]) snprintf(out, capacity, "%s/Games", home);
    else if (capacity) out[0] = 0;
}

static CancelFlag* watched;

static void on_interrupt(int) {
    // Only ever sets the flag: a second Ctrl+C does nothing more drastic.
    if (watched) request_cancel(watched);
}

void cli_watch_interrupt(CancelFlag* flag) {
    watched = flag;
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal (SIGHUP) or a polite kill (SIGTERM) is a stop
    // request too, so the staging folder is cleaned up either way.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

double cli_seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int cli_environment(const char* name, char* out, size_t capacity) {
    const char* value = getenv(name);
    size_t length = value ? strlen(value) : 0;
    if (!value || length >= capacity) {
        if (capacity) out[0] = 0;
        return 0;
    }
    memcpy(out, value, length + 1);
    return 1;
}

int main(int argc, char** argv) {
    extern int cli_main(int, char**);
    return cli_main(argc, argv);
}
