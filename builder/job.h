// What a build is asked to do and the state of one running build, shared by
// the driver (builder/build.h), staging (builder/staging.h) and the two
// games' builds.
//
// Conventions: int 1 success / 0 failure; the first failing step writes one
// line into the caller's error buffer (set_error) and every caller above it
// returns 0 without writing. The error buffer may be absent (null or 0).
#ifndef KELVORN_BUILDER_JOB_H
#define KELVORN_BUILDER_JOB_H

#include <stddef.h>
#include <stdint.h>

#include "base/paths.h"
#include "base/progress.h"

enum GameKind : int { GAME_BOSS_RALLY = 0, GAME_TOP_GEAR_RALLY = 1 };

struct AudioDigests;  // builder/checks.h

// Filled by the caller; the strings are borrowed. An unchosen input is "".
// The stamps (may be null) are those the checks took of the inputs: when
// given, the build refuses an input that is no longer that file in that
// state, so that it never builds from bytes that were not checked.
// bin_audio (may be null) is what the disc image's check digested of its
// audio tracks; it counts only together with bin_stamp, and a track uses
// the digest of the range that covers exactly its bytes.
struct BuildRequest {
    GameKind game;
    const char* bin_path;   // disc game only
    const char* cue_path;   // disc game only
    const char* rom_path;   // cartridge game only
    const char* dest_dir;   // receives the build folder
    int threads = 0;        // encoding threads; 0 (or left out): the default
    const FileStamp* bin_stamp = nullptr;
    const FileStamp* cue_stamp = nullptr;
    const FileStamp* rom_stamp = nullptr;
    const AudioDigests* bin_audio = nullptr;
};

// One running build; owned by run_build and passed down by pointer.
struct BuildJob {
    BuildRequest request;
    Progress progress;          // the whole build: 0 to 1; the disc build reads its cancel flag
    char* error;                // may be null
    size_t error_capacity;
    char staging_dir[PATH_CAPACITY];  // non-empty: a staging folder may exist
    char data_dir[PATH_CAPACITY];     // same path as staging_dir
    char exe_path[PATH_CAPACITY];     // the game executable inside staging
};

// "Boss Rally" for GAME_BOSS_RALLY, "Top Gear Rally" for anything else.
const char* game_display_name(GameKind game);

// out = dest_dir joined with the display name.
void build_folder_path(const BuildRequest* request, char* out, size_t capacity);

// Reports fraction (of the whole build) and status through the job's
// progress function, when there is one.
void report_build(BuildJob* job, double fraction, const char* status);

// The build's refusal of an input that is no longer the checked file.
void report_changed_input(BuildJob* job, const char* path);

#endif
