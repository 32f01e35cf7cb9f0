// The Top Gear Rally build: the ROM in z64 order, staging, romdata.bin and
// installation.
#include "builder/cartridge_build.h"

#include <stdlib.h>

#include "base/paths.h"
#include "builder/staging.h"
#include "formats/cartridge/rom.h"

int run_cartridge_build(BuildJob* job) {
    report_build(job, 0.0, "Reading the ROM");
    uint64_t size = 0;
    char digest[33];
    RomOrder order;
    FileStamp stamp;
    unsigned char* image = load_cartridge_rom_stamped(job->request.rom_path, &size, digest, &order, &stamp);
    if (!image) {
        set_error(job->error, job->error_capacity, "cannot read the ROM");
        return 0;
    }
    if (job->request.rom_stamp && !same_file_state(job->request.rom_stamp, &stamp)) {
        free(image);
        report_changed_input(job, job->request.rom_path);
        return 0;
    }
    if (size != CARTRIDGE_ROM_SIZE) {
        free(image);
        set_error(job->error, job->error_capacity, "the ROM is not 8 MB");
        return 0;
    }
    if (!prepare_staging(job, "tollvane")) {
        free(image);
        return 0;
    }
    report_build(job, 0.5, "Writing the game's data");
    char data_path[PATH_CAPACITY];
    path_join(data_path, sizeof data_path, job->data_dir, "romdata.bin");
    int written = write_whole_file(data_path, image + CARTRIDGE_DATA_OFFSET,
                                   (size_t)(size - CARTRIDGE_DATA_OFFSET));
    free(image);
    if (!written) {
        set_error(job->error, job->error_capacity, "cannot write %s", data_path);
        return 0;
    }
    report_build(job, 0.9, "Finishing");
    if (!finish_build(job)) return 0;
    report_build(job, 1.0, "Done");
    return 1;
}
