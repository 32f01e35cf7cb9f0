// Staging, the marker file and the move into place: the only code that
// creates, replaces or removes a build folder. See builder/staging.cpp for
// the rules of ownership and replacement.
#ifndef KELVORN_BUILDER_STAGING_H
#define KELVORN_BUILDER_STAGING_H

#include <stddef.h>

#include "base/paths.h"
#include "builder/job.h"

// 1 when something exists at the build folder's path, or an earlier build
// waits under the aside name. *marker_out (optional) gets 1 when that is an
// earlier build of ours (probe_build_destination tells more). Changes
// nothing.
int probe_destination(const BuildRequest* request, int* marker_out);

// What a build into request's destination would meet, in the order a front
// end has to tell the user.
enum DestinationState {
    DEST_FREE = 0,           // nothing to ask
    DEST_INPUT_INSIDE = 1,   // input lies inside folder, which the build removes
    DEST_FOREIGN = 2,        // folder is taken by something not ours: never touched
    DEST_EARLIER_BUILD = 3,  // folder holds an earlier build: ask before replacing
};
struct DestinationProbe {
    DestinationState state;
    char folder[PATH_CAPACITY];  // the blocking or earlier build's folder
    char input[PATH_CAPACITY];   // DEST_INPUT_INSIDE: the input concerned
};
// Probes the build folder, the staging and the aside names and, for the
// inputs request names for its game, whether one lies inside a folder the
// build would remove (by file identity). Changes nothing. Returns the state.
DestinationState probe_build_destination(const BuildRequest* request, DestinationProbe* probe);
// The build's one-line refusal for DEST_INPUT_INSIDE.
void format_input_inside(char* out, size_t capacity, const char* input, const char* folder);
// Refuses (0, message in the job's error buffer) when an input of the
// request lies inside a folder that the build would remove.
int check_inputs_outside(BuildJob* job);

// Fills staging_dir, data_dir and exe_path, creates the staging folder and
// marks it as ours at once, then writes the game executable selected by
// game_id. Only what is provably ours is cleared first: a leftover staging
// folder carrying the marker (or empty) is removed, an earlier build left
// under the aside name is renamed back when the build folder is missing,
// and a foreign entry under either name stops the build untouched.
// staging_dir stays empty until the folder exists and is ours, so that the
// driver's clean-up can never remove anything else.
int prepare_staging(BuildJob* job, const char* game_id);

// Writes the marker into the staging folder, makes the new build durable
// (sync_tree) and puts the staging folder in the build folder's place,
// replacing only an earlier build that carries the marker. Where
// exchange_paths works the two folders swap atomically and the earlier one
// is then removed from the staging name. Otherwise the earlier build is
// renamed aside first and restored when the final move fails, so a failure
// never loses it. Renames and removals are patient with what holds a fresh
// file for a moment (move_patiently). Our folders are removed marker last.
int finish_build(BuildJob* job);
// The driver's clean-up after a failed build: removes the staging folder
// (marker last) when prepare_staging made one.
void remove_staging(BuildJob* job);

// Marker file name and content.
#define KELVORN_MARKER_NAME ".kelvorn"
#include "kelvorn_version.h"  // KELVORN_MARKER_TEXT, made from the project's version

#endif
