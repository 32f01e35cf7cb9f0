// Staging folder, marker file, replace policy and the move into place.
//
// Ownership: only a folder that carries the marker file is ours. The
// staging folder is marked the moment it is made, before anything else is
// written into it, and every folder of ours is removed marker last, so a
// removal cut short still leaves a marked folder. An empty folder may be
// removed too: nothing is lost with it. Anything else under the build,
// staging or aside name is the user's and is never touched.
//
// Replacing an earlier build: the new build is first made durable
// (sync_tree). Where the file system can swap two folders atomically
// (exchange_paths), the staging folder and the earlier build change places
// in one step and the earlier build, now under the staging name, is
// removed; the build folder is never absent and never partial, whenever the
// process dies. Elsewhere the earlier build folder is renamed aside to
// ".<name>.replaced" in the destination, the staging folder is renamed into
// its place, and only then is the aside folder removed. When the second
// rename fails the aside folder is renamed back, so a failure never loses
// the earlier build; a process that dies between the renames leaves the
// aside folder, which is an earlier build like any other: the next build
// renames it back, or asks before replacing it. Every rename stays inside
// the destination folder.
#include "builder/staging.h"

#include <stdio.h>
#include <string.h>

#include "builder/embedded.h"

static const char FOREIGN_MESSAGE[] =
    "%s already exists and was not made by this builder; move it away or pick another folder";

static void named_path(const BuildRequest* request, const char* format, char* out, size_t capacity) {
    char name[512];
    snprintf(name, sizeof name, format, game_display_name(request->game));
    path_join(out, capacity, request->dest_dir, name);
}

static void staging_path(const BuildRequest* request, char* out, size_t capacity) {
    named_path(request, ".%s.building", out, capacity);
}

static void aside_path(const BuildRequest* request, char* out, size_t capacity) {
    named_path(request, ".%s.replaced", out, capacity);
}

static int carries_marker(const char* folder) {
    char marker[PATH_CAPACITY];
    path_join(marker, sizeof marker, folder, KELVORN_MARKER_NAME);
    return is_directory(folder) && path_exists(marker);
}

// Who owns what stands under a name.
enum Owner { OWNER_NONE, OWNER_US, OWNER_NOBODY, OWNER_USER };

static int owner_of(const char* path) {
    if (!path_exists(path)) return OWNER_NONE;
    if (carries_marker(path)) return OWNER_US;
    if (is_empty_folder(path)) return OWNER_NOBODY;
    return OWNER_USER;
}

// Removes a folder of ours (or an empty one); 1 when the name is free
// afterwards.
static int clear_ours(const char* path) {
    remove_tree_patiently(path, KELVORN_MARKER_NAME);
    return !path_exists(path);
}

// Removes an earlier build that has been replaced. It is first renamed to
// the staging name when that is free: a removal cut short there leaves a
// leftover that the next build clears without asking, where one under the
// aside name would be taken for an earlier build.
static void discard_replaced(const char* path, const char* staging) {
    if (!path_exists(staging) && move_patiently(path, staging)) path = staging;
    remove_tree_patiently(path, KELVORN_MARKER_NAME);
}

// --- inputs ---

void format_input_inside(char* out, size_t capacity, const char* input, const char* folder) {
    snprintf(out, capacity, "%s lies inside %s, which this build would remove; move it elsewhere first", input,
             folder);
}

// The first input of the request's game that lies inside one of the folders
// the build would remove: an earlier build of ours, the staging folder or
// the aside folder. 1 with *input_out and folder (PATH_CAPACITY) set.
static int find_input_inside(const BuildRequest* request, const char** input_out, char* folder) {
    const char* inputs[2] = {nullptr, nullptr};
    if (request->game == GAME_BOSS_RALLY) {
        inputs[0] = request->bin_path;
        inputs[1] = request->cue_path;
    } else {
        inputs[0] = request->rom_path;
    }
    char candidates[3][PATH_CAPACITY];
    build_folder_path(request, candidates[0], PATH_CAPACITY);
    staging_path(request, candidates[1], PATH_CAPACITY);
    aside_path(request, candidates[2], PATH_CAPACITY);
    for (const char* candidate : candidates) {
        // A foreign folder is never removed, so nothing in it is at risk.
        if (!carries_marker(candidate)) continue;
        for (const char* input : inputs) {
            if (input && input[0] && path_lies_within(input, candidate)) {
                *input_out = input;
                memcpy(folder, candidate, PATH_CAPACITY);
                return 1;
            }
        }
    }
    return 0;
}

int check_inputs_outside(BuildJob* job) {
    const char* input = nullptr;
    char folder[PATH_CAPACITY];
    if (!find_input_inside(&job->request, &input, folder)) return 1;
    if (job->error && job->error_capacity) format_input_inside(job->error, job->error_capacity, input, folder);
    return 0;
}

// --- the probe ---

DestinationState probe_build_destination(const BuildRequest* request, DestinationProbe* probe) {
    memset(probe, 0, sizeof *probe);
    probe->state = DEST_FREE;
    const char* input = nullptr;
    char folder[PATH_CAPACITY], staging[PATH_CAPACITY], aside[PATH_CAPACITY];
    if (find_input_inside(request, &input, folder)) {
        probe->state = DEST_INPUT_INSIDE;
        snprintf(probe->folder, sizeof probe->folder, "%s", folder);
        snprintf(probe->input, sizeof probe->input, "%s", input);
        return probe->state;
    }
    build_folder_path(request, folder, sizeof folder);
    staging_path(request, staging, sizeof staging);
    aside_path(request, aside, sizeof aside);
    int build_owner = owner_of(folder), aside_owner = owner_of(aside);
    // A build folder counts as foreign even when empty: it is the user's.
    const char* foreign = nullptr;
    if (build_owner == OWNER_USER || build_owner == OWNER_NOBODY) foreign = folder;
    else if (owner_of(staging) == OWNER_USER) foreign = staging;
    else if (aside_owner == OWNER_USER) foreign = aside;
    if (foreign) {
        probe->state = DEST_FOREIGN;
        snprintf(probe->folder, sizeof probe->folder, "%s", foreign);
    } else if (build_owner == OWNER_US || aside_owner == OWNER_US) {
        // An earlier build left aside is the only copy when the build folder
        // is missing: name it where it is.
        probe->state = DEST_EARLIER_BUILD;
        snprintf(probe->folder, sizeof probe->folder, "%s", build_owner == OWNER_US ? folder : aside);
    }
    return probe->state;
}

int probe_destination(const BuildRequest* request, int* marker_out) {
    DestinationProbe probe;
    probe_build_destination(request, &probe);
    char folder[PATH_CAPACITY];
    build_folder_path(request, folder, sizeof folder);
    int owner = owner_of(folder);
    int exists = owner != OWNER_NONE || probe.state == DEST_EARLIER_BUILD;
    if (marker_out) *marker_out = exists && owner != OWNER_USER && owner != OWNER_NOBODY;
    return exists;
}

// --- staging ---

// Makes the name free for a build, or refuses with a message: a leftover of
// ours or an empty folder goes, anything else stops the build untouched.
static int free_name(BuildJob* job, const char* path) {
    switch (owner_of(path)) {
    case OWNER_NONE: return 1;
    case OWNER_USER: set_error(job->error, job->error_capacity, FOREIGN_MESSAGE, path); return 0;
    default: break;
    }
    if (clear_ours(path)) return 1;
    set_error(job->error, job->error_capacity, "cannot clear %s", path);
    return 0;
}

int prepare_staging(BuildJob* job, const char* game_id) {
    char staging[PATH_CAPACITY], aside[PATH_CAPACITY], folder[PATH_CAPACITY];
    staging_path(&job->request, staging, sizeof staging);
    aside_path(&job->request, aside, sizeof aside);
    build_folder_path(&job->request, folder, sizeof folder);

    // Both names are checked before either is cleared, so that a refusal
    // leaves everything as it was.
    if (owner_of(staging) == OWNER_USER) {
        set_error(job->error, job->error_capacity, FOREIGN_MESSAGE, staging);
        return 0;
    }
    int aside_owner = owner_of(aside);
    if (aside_owner == OWNER_USER) {
        set_error(job->error, job->error_capacity, FOREIGN_MESSAGE, aside);
        return 0;
    }
    if (!free_name(job, staging)) return 0;
    if (aside_owner == OWNER_NOBODY && !free_name(job, aside)) return 0;
    // An earlier build whose replacement was cut short: put it back. With
    // the build folder present it stays for finish_build, an earlier build
    // like the one in the build folder.
    if (aside_owner == OWNER_US && !path_exists(folder) && !move_patiently(aside, folder)) {
        set_error(job->error, job->error_capacity, "cannot restore the earlier build from %s", aside);
        return 0;
    }

    // A new folder, or nothing: never one that appeared since the check.
    if (!make_dirs(job->request.dest_dir) || !make_new_dir(staging)) {
        set_error(job->error, job->error_capacity, "cannot make folders in %s (is it writable?)",
                  job->request.dest_dir);
        return 0;
    }
    char marker[PATH_CAPACITY];
    path_join(marker, sizeof marker, staging, KELVORN_MARKER_NAME);
    if (!write_whole_file(marker, KELVORN_MARKER_TEXT, 5)) {
        // Nothing but our own marker can be in it: it goes again.
        remove_tree(staging);
        set_error(job->error, job->error_capacity, "cannot write in %s", staging);
        return 0;
    }
    snprintf(job->staging_dir, sizeof job->staging_dir, "%s", staging);
    snprintf(job->data_dir, sizeof job->data_dir, "%s", staging);
    char exe_name[512];
    snprintf(exe_name, sizeof exe_name, "%s.exe", game_display_name(job->request.game));
    path_join(job->exe_path, sizeof job->exe_path, job->staging_dir, exe_name);
    return extract_game_executable(game_id, job->exe_path, job->error, job->error_capacity);
}

void remove_staging(BuildJob* job) {
    if (job->staging_dir[0]) remove_tree_patiently(job->staging_dir, KELVORN_MARKER_NAME);
}

int finish_build(BuildJob* job) {
    char marker[PATH_CAPACITY];
    path_join(marker, sizeof marker, job->staging_dir, KELVORN_MARKER_NAME);
    // Durable before anything of the earlier build goes: after a power cut
    // the new build must not stand there with empty files.
    if (!write_whole_file(marker, KELVORN_MARKER_TEXT, 5) || !sync_tree(job->staging_dir)) {
        set_error(job->error, job->error_capacity, "cannot write in %s", job->staging_dir);
        return 0;
    }
    char folder[PATH_CAPACITY], aside[PATH_CAPACITY];
    build_folder_path(&job->request, folder, sizeof folder);
    aside_path(&job->request, aside, sizeof aside);

    int build_owner = owner_of(folder);  // tested before anything is removed
    if (build_owner == OWNER_USER || build_owner == OWNER_NOBODY) {
        set_error(job->error, job->error_capacity, FOREIGN_MESSAGE, folder);
        return 0;
    }
    // The aside name must be free for the replacement below. An earlier
    // build there is put back when it is the only one, and is replaced like
    // the one in the build folder otherwise.
    switch (owner_of(aside)) {
    case OWNER_USER: set_error(job->error, job->error_capacity, FOREIGN_MESSAGE, aside); return 0;
    case OWNER_US:
        if (build_owner == OWNER_NONE) {
            if (!move_patiently(aside, folder)) {
                set_error(job->error, job->error_capacity, "cannot restore the earlier build from %s", aside);
                return 0;
            }
            build_owner = OWNER_US;
            break;
        }
        // The build folder holds the later copy.
        [[fallthrough]];
    case OWNER_NOBODY:
        if (!clear_ours(aside)) {
            set_error(job->error, job->error_capacity, "cannot replace the earlier build at %s", aside);
            return 0;
        }
        break;
    default: break;
    }

    int replacing = build_owner == OWNER_US;
    if (replacing && exchange_paths(job->staging_dir, folder)) {
        sync_folder(job->request.dest_dir);
        // The earlier build now stands under the staging name, marked; a
        // leftover of it is cleared by the next build.
        remove_tree_patiently(job->staging_dir, KELVORN_MARKER_NAME);
        return 1;
    }
    if (replacing && !move_patiently(folder, aside)) {
        set_error(job->error, job->error_capacity, "cannot replace the earlier build at %s", folder);
        return 0;
    }
    if (!move_patiently(job->staging_dir, folder)) {
        // When even that fails the aside folder stays, marked: the only copy
        // of the earlier build, which the next build puts back.
        if (replacing) move_patiently(aside, folder);
        set_error(job->error, job->error_capacity, "cannot move the build into place at %s", folder);
        return 0;
    }
    sync_folder(job->request.dest_dir);
    if (replacing) discard_replaced(aside, job->staging_dir);
    return 1;
}
