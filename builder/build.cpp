// The build driver's common frame, around either game's build.
#include "builder/build.h"

#include <string.h>

#include <new>

#include "builder/cartridge_build.h"
#include "builder/disc_build.h"
#include "builder/staging.h"

int run_build(const BuildRequest* request, ProgressFn progress, uint64_t progress_user,
              const CancelFlag* cancel, char* error, size_t error_capacity) {
    // The job holds three 2 KiB paths; keep it off the (thread) stack.
    BuildJob* job = new (std::nothrow) BuildJob();
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
    job->progress = progress_step(progress, progress_user, 0.0, 1.0, cancel);
    job->error = error;
    job->error_capacity = error_capacity;
    if (error && error_capacity) error[0] = 0;

    const char* dest = job->request.dest_dir;
    if (!is_directory(dest) && !make_dirs(dest)) {
        set_error(error, error_capacity, "cannot make the folder %s", dest);
        delete job;
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
    delete job;
    return ok;
}
