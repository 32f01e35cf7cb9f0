// What the command-line builder needs from the platform, kept out of the
// portable code: UTF-8 console output, the default destination, Ctrl+C, a
// clock and whether standard output is a terminal.
#ifndef KELVORN_CLI_PLATFORM_H
#define KELVORN_CLI_PLATFORM_H

#include <stddef.h>

#include "base/progress.h"

// Prepares the console for UTF-8 output (restored at exit); POSIX: a closed
// output pipe no longer kills the process.
void cli_console_init(void);
// Writes UTF-8 text to standard output (to_stderr 0) or standard error (1)
// and flushes it. On a Windows console the text goes in as UTF-16, so it
// shows right whatever the console's code page; elsewhere the bytes go out
// as they are.
void cli_write(int to_stderr, const char* text);
// 1 when standard output is an interactive terminal.
int cli_stdout_is_terminal(void);
// Width of the terminal in columns, 80 when unknown.
int cli_terminal_columns(void);
// The window's default destination: Documents\Games on Windows,
// $HOME/Games elsewhere; "" when unknown.
void cli_default_destination(char* out, size_t capacity);
// From now on Ctrl+C (SIGINT, or the console control handler) sets *flag
// (request_cancel) and nothing more drastic, however often it comes. The
// handler may run on any thread (on Windows always on one of its own), so
// the flag is the lock-free atomic that the build reads, not a plain
// variable. So do SIGTERM and
// SIGHUP, and on Windows the console being closed (which then leaves the
// build a few seconds to clean up before the system ends the process).
void cli_watch_interrupt(CancelFlag* flag);
// Monotonic seconds.
double cli_seconds(void);
// The environment variable `name` as UTF-8 into out; 0 when it is unset or
// does not fit (out is then "").
int cli_environment(const char* name, char* out, size_t capacity);

#endif
