// Build core: the build driver for both games, the cartridge build, staging,
// the embedded game executables, the marker file and the move into place.
//
// Conventions: int 1 success / 0 failure; the first failing step writes one
// line into the caller's error buffer (set_error) and every caller above it
// returns 0 without writing. The error buffer may be absent (null or 0).
#ifndef KELVORN_CORE_BUILD_H
#define KELVORN_CORE_BUILD_H

#include <stddef.h>
#include <stdint.h>

#include "core/paths.h"

typedef int GameKind;
enum { GAME_BOSS_RALLY = 0, GAME_TOP_GEAR_RALLY = 1 };

// fraction 0..1 of the whole build; status is UTF-8 or null (keep the last).
typedef void (*ProgressFn)(uint64_t user, double fraction, const char* status);

// Filled by the caller; the strings are borrowed. An unchosen input is "".
// The stamps (may be null) are those the checks took of the inputs: when
// given, the build refuses an input that is no longer that file in that
// state, so that it never builds from bytes that were not checked.
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
};

// One running build; owned by run_build and passed down by pointer.
struct BuildJob {
    BuildRequest request;
    ProgressFn progress;        // may be null
    uint64_t progress_user;
    int* cancel;                // may be null; read by the disc build only
    char* error;                // may be null
    size_t error_capacity;
    char staging_dir[PATH_CAPACITY];  // non-empty: a staging folder may exist
    char data_dir[PATH_CAPACITY];     // same path as staging_dir
    char exe_path[PATH_CAPACITY];     // the game executable inside staging
};

// Byte order of a cartridge ROM file.
typedef int RomOrder;
enum { ROM_Z64 = 0, ROM_V64 = 1, ROM_N64 = 2 };

enum {
    CARTRIDGE_ROM_SIZE = 8388608,     // 8 MiB
    CARTRIDGE_DATA_OFFSET = 461488,   // 0x70AB0: start of romdata.bin
};

// "Boss Rally" for GAME_BOSS_RALLY, "Top Gear Rally" for anything else.
const char* game_display_name(GameKind game);

// out = dest_dir joined with the display name.
void build_folder_path(const BuildRequest* request, char* out, size_t capacity);

// Turns request into an installed build folder. progress, cancel and the
// error buffer may be null. On failure the staging folder is removed and the
// error buffer holds one line ("the build failed" when nothing else wrote).
int run_build(const BuildRequest* request, ProgressFn progress, uint64_t progress_user,
              int* cancel, char* error, size_t error_capacity);

// The whole file in z64 order (heap, caller frees), or null with no output
// written. size_out: file size; md5_hex_out (33 bytes): digest of the bytes
// as stored; order_out: the detected order. Reordered in place.
unsigned char* load_cartridge_rom(const char* path, uint64_t* size_out, char* md5_hex_out,
                                  RomOrder* order_out);
// load_cartridge_rom that also gives the stamp of the file it read
// (stamp_out may be null).
unsigned char* load_cartridge_rom_stamped(const char* path, uint64_t* size_out, char* md5_hex_out,
                                          RomOrder* order_out, FileStamp* stamp_out);

// --- staging and installation ---

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
    int state;
    char folder[PATH_CAPACITY];  // the blocking or earlier build's folder
    char input[PATH_CAPACITY];   // DEST_INPUT_INSIDE: the input concerned
};
// Probes the build folder, the staging and the aside names and, for the
// inputs request names for its game, whether one lies inside a folder the
// build would remove (by file identity). Changes nothing. Returns the state.
int probe_build_destination(const BuildRequest* request, DestinationProbe* probe);
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

// Writes the embedded executable ("duskmere" selects DUSKMERE, any other id
// TOLLVANE) byte for byte to path.
int extract_game_executable(const char* game_id, const char* path, char* error,
                            size_t error_capacity);

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
// The build's refusal of an input that is no longer the checked file.
void report_changed_input(BuildJob* job, const char* path);

// Marker file name and content.
#define KELVORN_MARKER_NAME ".kelvorn"
#include "kelvorn_version.h"  // KELVORN_MARKER_TEXT, made from the project's version

// The embedded game executable for game_id: bytes and size, or null.
// Platform-specific (Win32 resources, or linked-in data in the POSIX build).
const unsigned char* embedded_game_bytes(const char* game_id, size_t* size_out);
// Writes size bytes to path in one write, creating or truncating it.
// Platform-specific (one CreateFileW and WriteFile on Windows).
int write_embedded_executable(const char* path, const unsigned char* bytes, size_t size);

#endif
