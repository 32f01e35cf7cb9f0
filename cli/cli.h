// The headless builder's entry and its pure pieces, for tests.
#ifndef KELVORN_CLI_CLI_H
#define KELVORN_CLI_CLI_H

#include <stddef.h>

// Runs the command-line builder on UTF-8 arguments; returns the exit code.
int cli_main(int argc, char** argv);

// One progress line of at most columns - 1 visible characters:
// "[#####-----]  42%  <status>  0:31 elapsed, 0:43 left". The status is cut
// (at a UTF-8 boundary) when the line would be too long.
void cli_format_bar(char* out, size_t capacity, int columns, double fraction, const char* status,
                    const char* elapsed, const char* left);

#endif
