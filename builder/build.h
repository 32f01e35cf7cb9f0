// The build driver: the one entry point that turns a BuildRequest into an
// installed build folder, for either game.
#ifndef KELVORN_BUILDER_BUILD_H
#define KELVORN_BUILDER_BUILD_H

#include <stddef.h>
#include <stdint.h>

#include "base/progress.h"
#include "builder/job.h"

// Turns request into an installed build folder. progress, cancel and the
// error buffer may be null. On failure the staging folder is removed and the
// error buffer holds one line ("the build failed" when nothing else wrote).
// cancel is written by another thread while the build runs; the build only
// reads it.
int run_build(const BuildRequest* request, ProgressFn progress, uint64_t progress_user,
              const CancelFlag* cancel, char* error, size_t error_capacity);

#endif
