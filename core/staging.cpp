// Staging folder, marker file, replace policy and the move into place.
//
// Replacing an earlier build: where the file system can swap two folders
// atomically (exchange_paths), the staging folder and the earlier build
// change places in one step and the earlier build, now under the staging
// name, is removed; the build folder is never absent and never partial,
// whenever the process dies. Elsewhere the earlier build folder is renamed
// aside to ".<name>.replaced" in the destination, the staging folder is
// renamed into its place, and only then is the aside folder removed. When
// the second rename fails the aside folder is renamed back, so a failure
// never loses the earlier build; a process that dies between the renames
// leaves the aside folder, which the next build renames back. Every rename
// stays inside the destination folder.
#include "core/build.h"

#include <string.h>

static void aside_path(const BuildJob* job, char* out, size_t capacity) {
    char name[512];
    snprintf(name, sizeof name, ".%s.replaced", game_display_name(job->request.game));
    path_join(out, capacity, job->request.dest_dir, name);
}

static int carries_marker(const char* folder) {
    char marker[PATH_CAPACITY];
    path_join(marker, sizeof marker, folder, KELVORN_MARKER_NAME);
    return path_exists(marker);
}

int probe_destination(const BuildRequest* request, int* marker_out) {
    char folder[PATH_CAPACITY];
    build_folder_path(request, folder, sizeof folder);
    if (marker_out) *marker_out = carries_marker(folder);
    return path_exists(folder);
}

// Removes an earlier build that sits under the aside name. It is first
// renamed to the staging name (free at this point), which every build clears
// without looking for the marker: a removal cut short there can never leave
// a marker-less remnant that blocks the aside name for good.
static void remove_aside(const char* aside, const char* staging) {
    if (!path_exists(staging) && move_replace(aside, staging)) {
        remove_tree(staging);
        return;
    }
    remove_tree(aside);
}

// A leftover aside folder of ours: either an interrupted replacement left
// the build folder missing (rename it back) or it is garbage (remove it).
static void settle_leftover_aside(const BuildJob* job) {
    char aside[PATH_CAPACITY], folder[PATH_CAPACITY];
    aside_path(job, aside, sizeof aside);
    if (!path_exists(aside) || !carries_marker(aside)) return;
    build_folder_path(&job->request, folder, sizeof folder);
    if (!path_exists(folder)) {
        if (move_replace(aside, folder)) return;
    }
    remove_aside(aside, job->staging_dir);
}

int prepare_staging(BuildJob* job, const char* game_id) {
    char name[512];
    snprintf(name, sizeof name, ".%s.building", game_display_name(job->request.game));
    path_join(job->staging_dir, sizeof job->staging_dir, job->request.dest_dir, name);
    if (path_exists(job->staging_dir) && !remove_tree(job->staging_dir)) {
        set_error(job->error, job->error_capacity, "cannot clear %s", job->staging_dir);
        return 0;
    }
    settle_leftover_aside(job);
    snprintf(job->data_dir, sizeof job->data_dir, "%s", job->staging_dir);
    char exe_name[512];
    snprintf(exe_name, sizeof exe_name, "%s.exe", game_display_name(job->request.game));
    path_join(job->exe_path, sizeof job->exe_path, job->staging_dir, exe_name);
    // The executable's folder is the staging folder itself.
    if (!make_dirs(job->staging_dir) || !make_dirs(job->data_dir)) {
        set_error(job->error, job->error_capacity, "cannot make folders in %s (is it writable?)",
                  job->request.dest_dir);
        return 0;
    }
    return extract_game_executable(game_id, job->exe_path, job->error, job->error_capacity);
}

int extract_game_executable(const char* game_id, const char* path, char* error, size_t error_capacity) {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes(game_id, &size);
    if (!bytes) {
        set_error(error, error_capacity, "the builder is missing its copy of the game (%s); download it again",
                  game_id);
        return 0;
    }
    // A partly written file is left for the driver's removal of the staging
    // folder.
    if (!write_embedded_executable(path, bytes, size)) {
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }
    return 1;
}

int finish_build(BuildJob* job) {
    char marker[PATH_CAPACITY];
    path_join(marker, sizeof marker, job->staging_dir, KELVORN_MARKER_NAME);
    if (!write_whole_file(marker, KELVORN_MARKER_TEXT, 5)) {
        set_error(job->error, job->error_capacity, "cannot write in %s", job->staging_dir);
        return 0;
    }
    char folder[PATH_CAPACITY];
    build_folder_path(&job->request, folder, sizeof folder);
    int earlier_is_ours = carries_marker(folder);  // tested before anything is removed

    char aside[PATH_CAPACITY];
    aside[0] = 0;
    if (path_exists(folder)) {
        if (!earlier_is_ours) {
            set_error(job->error, job->error_capacity,
                      "%s already exists and was not made by this builder; move it away or pick "
                      "another folder",
                      folder);
            return 0;
        }
        aside_path(job, aside, sizeof aside);
        // Only a leftover of ours may be cleared from the aside name. The
        // swap below does not need the name, but both schemes refuse alike.
        if (path_exists(aside) && (!carries_marker(aside) || !remove_tree(aside))) {
            set_error(job->error, job->error_capacity, "cannot replace the earlier build at %s", folder);
            return 0;
        }
        if (exchange_paths(job->staging_dir, folder)) {
            // A leftover (the earlier build, carrying the marker, under the
            // staging name) is cleared by the next build.
            remove_tree(job->staging_dir);
            return 1;
        }
        if (!move_replace(folder, aside)) {
            set_error(job->error, job->error_capacity, "cannot replace the earlier build at %s", folder);
            return 0;
        }
    }
    if (!move_replace(job->staging_dir, folder)) {
        if (aside[0]) move_replace(aside, folder);
        set_error(job->error, job->error_capacity, "cannot move the build into place at %s", folder);
        return 0;
    }
    if (aside[0]) remove_aside(aside, job->staging_dir);  // a leftover is cleared by the next build
    return 1;
}
