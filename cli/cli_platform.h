// What the command-line builder needs from the platform, kept out of the
// portable code: UTF-8 console output, the default destination, Ctrl+C, a
// clock and whether standard output is a terminal.
#ifndef KELVORN_CLI_PLATFORM_H
#define KELVORN_CLI_PLATFORM_H

#include <stddef.h>

// Prepares the console for UTF-8 output.
void cli_console_init(void);
// 1 when standard output is an interactive terminal.
int cli_stdout_is_terminal(void);
// Width of the terminal in columns, 80 when unknown.
int cli_terminal_columns(void);
// The window's default destination: Documents\Games on Windows,
// $HOME/Games elsewhere; "" when unknown.
void cli_default_destination(char* out, size_t capacity);
// From now on Ctrl+C (SIGINT, or the console control handler) sets *flag to
// 1 and nothing more drastic, however often it comes.
void cli_watch_interrupt(int* flag);
// Monotonic seconds.
double cli_seconds(void);

#endif
