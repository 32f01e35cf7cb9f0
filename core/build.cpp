// The build driver's common frame and the cartridge (Top Gear Rally) build.
#include "core/build.h"

#include <stdlib.h>
#include <string.h>

#include "checks/md5.h"
#include "disc/disc_build.h"

const char* game_display_name(GameKind game) {
    return game == GAME_BOSS_RALLY ? "Boss Rally" : "Top Gear Rally";
}

void report_changed_input(BuildJob* job, const char* path) {
    set_error(job->error, job->error_capacity, "%s changed after it was checked; choose it again", path);
}

void build_folder_path(const BuildRequest* request, char* out, size_t capacity) {
    path_join(out, capacity, request->dest_dir, game_display_name(request->game));
}

static void report(BuildJob* job, double fraction, const char* status) {
    if (job->progress) job->progress(job->progress_user, fraction, status);
}

unsigned char* load_cartridge_rom(const char* path, uint64_t* size_out, char* md5_hex_out,
                                  RomOrder* order_out) {
    return load_cartridge_rom_stamped(path, size_out, md5_hex_out, order_out, nullptr);
}

unsigned char* load_cartridge_rom_stamped(const char* path, uint64_t* size_out, char* md5_hex_out,
                                          RomOrder* order_out, FileStamp* stamp_out) {
    uint64_t size = 0;
    FileStamp stamp;
    unsigned char* image = read_whole_file_stamped(path, &size, &stamp);
    if (!image) return nullptr;

    Md5Context md5;
    unsigned char digest[16];
    md5_init(&md5);
    md5_update(&md5, image, (size_t)size);
    md5_final(&md5, digest);
    if (md5_hex_out) md5_to_hex(digest, md5_hex_out);

    RomOrder order = ROM_Z64;
    if (size >= 4) {
        if (image[0] == 0x40 && image[1] == 0x12) {
            // n64: every whole 32-bit word reversed; a ragged tail stays.
            for (uint64_t i = 0; i + 4 <= size; i += 4) {
                unsigned char a = image[i], b = image[i + 1];
                image[i] = image[i + 3];
                image[i + 1] = image[i + 2];
                image[i + 2] = b;
                image[i + 3] = a;
            }
            order = ROM_N64;
        } else if (image[0] == 0x37 && image[1] == 0x80) {
            // v64: every whole 16-bit pair swapped; an odd last byte stays.
            for (uint64_t i = 0; i + 2 <= size; i += 2) {
                unsigned char a = image[i];
                image[i] = image[i + 1];
                image[i + 1] = a;
            }
            order = ROM_V64;
        }
    }
    if (size_out) *size_out = size;
    if (order_out) *order_out = order;
    if (stamp_out) *stamp_out = stamp;
    return image;
}

static int run_cartridge_build(BuildJob* job) {
    report(job, 0.0, "Reading the ROM");
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
    report(job, 0.5, "Writing the game's data");
    char data_path[PATH_CAPACITY];
    path_join(data_path, sizeof data_path, job->data_dir, "romdata.bin");
    int written = write_whole_file(data_path, image + CARTRIDGE_DATA_OFFSET,
                                   (size_t)(size - CARTRIDGE_DATA_OFFSET));
    free(image);
    if (!written) {
        set_error(job->error, job->error_capacity, "cannot write %s", data_path);
        return 0;
    }
    report(job, 0.9, "Finishing");
    if (!finish_build(job)) return 0;
    report(job, 1.0, "Done");
    return 1;
}

int run_build(const BuildRequest* request, ProgressFn progress, uint64_t progress_user,
              int* cancel, char* error, size_t error_capacity) {
    // The job holds three 2 KiB paths; keep it off the (thread) stack.
    BuildJob* job = (BuildJob*)calloc(1, sizeof(BuildJob));
    if (!job) {
        set_error(error, error_capacity, "out of memory");
        return 0;
    }
    job->request = *request;
    // An absent path is the empty text; nothing below has to test for null.
    if (!job->request.bin_path) job->request.bin_path = "";
    if (!job->request.cue_path) job->request.cue_path = "";
    if (!job->request.rom_path) job->request.rom_path = "";
    if (!job->request.dest_dir) job->request.dest_dir = "";
    job->progress = progress;
    job->progress_user = progress_user;
    job->cancel = cancel;
    job->error = error;
    job->error_capacity = error_capacity;
    if (error && error_capacity) error[0] = 0;

    const char* dest = job->request.dest_dir;
    if (!is_directory(dest) && !make_dirs(dest)) {
        set_error(error, error_capacity, "cannot make the folder %s", dest);
        free(job);
        return 0;
    }
    // Nothing is written while an input lies where the build removes.
    int ok = check_inputs_outside(job);
    if (ok) ok = request->game != GAME_BOSS_RALLY ? run_cartridge_build(job) : run_disc_build(job);
    if (!ok) {
        remove_staging(job);
        if (error && error_capacity && error[0] == 0)
            set_error(error, error_capacity, "the build failed");
    }
    free(job);
    return ok;
}
