// A hold that lets a test catch a moment of a run on screen, however busy
// the machine is, instead of racing it. Only the testing build
// (kelvorn-cli-testing) holds; the shipped program links the retail
// version, whose functions do nothing.
//
// The testing build reads two environment variables at the first call:
//   KELVORN_TEST_HOLD_AT  "<percent> <status>", e.g. "5 Checking big.bin"
//   KELVORN_TEST_HOLD     a file, as the program sees paths
// The run is held once: at the first progress report of at least <percent>
// whose status begins with <status>, if the file exists then. It goes on
// when the file is removed or a stop is asked for (Ctrl+C).
#ifndef KELVORN_CLI_CLI_HOLD_H
#define KELVORN_CLI_CLI_HOLD_H

#include "base/progress.h"

// 1 when this progress report is the moment to hold at; the caller then
// shows the report and calls cli_hold_wait. 0 otherwise, and always 0
// after the one hold.
int cli_hold_reached(double fraction, const char* status);
// Returns when the hold's file is gone or *cancel (may be null) is set.
void cli_hold_wait(const CancelFlag* cancel);

#endif
