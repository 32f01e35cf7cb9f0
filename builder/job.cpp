#include "builder/job.h"

const char* game_display_name(GameKind game) {
    return game == GAME_BOSS_RALLY ? "Boss Rally" : "Top Gear Rally";
}

void build_folder_path(const BuildRequest* request, char* out, size_t capacity) {
    path_join(out, capacity, request->dest_dir, game_display_name(request->game));
}

void report_build(BuildJob* job, double fraction, const char* status) {
    progress_report(&job->progress, fraction, status);
}

void report_changed_input(BuildJob* job, const char* path) {
    set_error(job->error, job->error_capacity, "%s changed after it was checked; choose it again", path);
}
