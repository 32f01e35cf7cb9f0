// The Boss Rally branch of run_build: cue sheet, staging, data track
// extraction, BRGlide.dll check, soundtrack encoding, icon, installation.
// Works on the driver's BuildJob; returns 1 or 0 (message in job->error, or
// none, in which case the driver writes "the build failed").
#ifndef KELVORN_BUILDER_DISC_BUILD_H
#define KELVORN_BUILDER_DISC_BUILD_H

#include "builder/job.h"

int run_disc_build(BuildJob* job);

#endif
