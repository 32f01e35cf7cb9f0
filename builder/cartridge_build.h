// The Top Gear Rally branch of run_build: reads the ROM (any byte order),
// stages the folder, writes the game executable and romdata.bin (the ROM
// from CARTRIDGE_DATA_OFFSET on) and installs it. Works on the driver's
// BuildJob; returns 1 or 0 with the message in job->error.
#ifndef KELVORN_BUILDER_CARTRIDGE_BUILD_H
#define KELVORN_BUILDER_CARTRIDGE_BUILD_H

#include "builder/job.h"

enum {
    CARTRIDGE_ROM_SIZE = 8388608,     // 8 MiB
    CARTRIDGE_DATA_OFFSET = 461488,   // 0x70AB0: start of romdata.bin
};

int run_cartridge_build(BuildJob* job);

#endif
