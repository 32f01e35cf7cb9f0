// The headless builder's entry and its pure pieces, for tests.
#ifndef KELVORN_CLI_CLI_H
#define KELVORN_CLI_CLI_H

#include <stddef.h>

// Runs the command-line builder on UTF-8 arguments; returns the exit code.
int cli_main(int argc, char** argv);

// The bar is never drawn wider than this, whatever the terminal says.
enum { CLI_BAR_MAX_COLUMNS = 240 };

// One progress line for a terminal of `columns` columns:
//   "[#########-----------]  42%  <status>  0:31 elapsed, 0:43 left"
// Its visible width is exactly columns - 1 (one column per code point), so
// that it never wraps and a shorter status is overwritten by padding. When
// the terminal is too narrow the status is cut first (never inside a UTF-8
// sequence), then the times are left out, then the line itself is cut.
// fraction is clamped to 0..1; status, elapsed and left may be null ("").
// out always ends up terminated; a capacity below the line's size cuts it
// at a code point boundary.
void cli_format_bar(char* out, size_t capacity, int columns, double fraction, const char* status,
                    const char* elapsed, const char* left);

#endif
