// The Boss Rally build: cue sheet, staging, the data track's files, the
// BRGlide.dll check, the soundtrack, the disc's icon and installation.
#include "builder/disc_build.h"

#include <stdio.h>
#include <string.h>

#include "base/md5.h"
#include "base/paths.h"
#include "base/scoped_file.h"
#include "builder/checks.h"
#include "builder/reference.h"
#include "builder/staging.h"
#include "formats/disc/cue.h"
#include "formats/disc/iso.h"
#include "formats/flac/flac.h"
#include "formats/icon/icon.h"

// One CD frame (sector) of the BIN, CD_SECTOR_BYTES, holds 588 stereo
// samples of 4 bytes.
enum { SAMPLES_PER_SECTOR = 588 };

// The digest the image's check took of exactly offset..offset+length of
// the BIN, or null. It is trusted only when the build compared the BIN with
// the checked stamp (and found it unchanged).
static const unsigned char* checked_digest(const BuildJob* job, uint64_t offset, uint64_t length) {
    const AudioDigests* audio = job->request.bin_audio;
    if (!audio || !job->request.bin_stamp) return nullptr;
    for (int i = 0; i < audio->count && i < RETAIL_TRACK_COUNT; ++i) {
        const Md5Range* range = &audio->track[i];
        if (range->done && range->offset == offset && range->length == length) return range->digest;
    }
    return nullptr;
}

// Encodes every audio track of sheet from one open BIN stream.
static int encode_soundtrack(BuildJob* job, const CueSheet* sheet, FILE* bin, const char* music_dir) {
    uint64_t total = 0;
    for (int i = 0; i < sheet->track_count; ++i)
        if (sheet->tracks[i].audio) total += sheet->tracks[i].length;
    if (total == 0) total = 1;
    uint64_t done = 0;
    for (int i = 0; i < sheet->track_count; ++i) {
        const CueTrack* track = &sheet->tracks[i];
        double low = (double)done * 0.88 / (double)total + 0.1;
        if (!track->audio) continue;
        char name[32], status[64], path[PATH_CAPACITY];
        snprintf(name, sizeof name, "track%02d.flac", track->number);
        snprintf(status, sizeof status, "Encoding the soundtrack: track %d", track->number);
        report_build(job, low, status);
        path_join(path, sizeof path, music_dir, name);
        // No message of its own: the driver's "the build failed" stands.
        const uint64_t offset = (uint64_t)track->start * CD_SECTOR_BYTES;
        if (!seek_to(bin, offset)) return 0;
        double high = (double)(done + track->length) * 0.88 / (double)total + 0.1;
        const Progress step = progress_step(job->progress.fn, job->progress.user, low, high, job->progress.cancel);
        const uint64_t samples = (uint64_t)track->length * SAMPLES_PER_SECTOR;
        if (!encode_track_flac(bin, samples, path, &step, job->error, job->error_capacity, job->request.threads,
                               checked_digest(job, offset, samples * 4)))
            return 0;
        done += track->length;
    }
    return 1;
}

// 1 when the request carries no stamp for the input, or the open file is
// still the checked file in the checked state; otherwise the refusal is
// written.
static int still_checked(BuildJob* job, const char* path, const FileStamp* checked, const FileStamp* now) {
    if (!checked || same_file_state(checked, now)) return 1;
    report_changed_input(job, path);
    return 0;
}

// The build proper, on the open BIN: one stream serves the file tree and
// every audio track, so what is built is what was opened (and checked).
static int build_from(BuildJob* job, FILE* bin, const CueSheet* sheet) {
    report_build(job, 0.0, "Preparing");
    if (!prepare_staging(job, "duskmere")) return 0;

    char disc_dir[PATH_CAPACITY];
    path_join(disc_dir, sizeof disc_dir, job->data_dir, "disc");
    // The data track ends where the next track starts; the tree must lie inside it.
    uint64_t track_end = sheet->tracks[0].audio ? 0 : (uint64_t)sheet->tracks[0].start + sheet->tracks[0].length;
    FileStamp bin_stamp;
    const Progress files = progress_step(job->progress.fn, job->progress.user, 0.0, 0.1, job->progress.cancel);
    if (!stream_stamp(bin, &bin_stamp) ||
        !extract_disc_files_from(bin, bin_stamp.size, track_end, disc_dir, &files, job->error, job->error_capacity))
        return 0;

    char brglide[PATH_CAPACITY], digest[33];
    path_join(brglide, sizeof brglide, disc_dir, "BRGlide.dll");
    if (!md5_file(brglide, digest, nullptr, 0, nullptr) || strcmp(digest, reference_digests()->brglide) != 0) {
        set_error(job->error, job->error_capacity, "the disc's BRGlide.dll is not the retail one");
        return 0;
    }

    char music[PATH_CAPACITY], music_dir[PATH_CAPACITY];
    path_join(music, sizeof music, job->data_dir, "music");
    path_join(music_dir, sizeof music_dir, music, "cd");
    if (!make_dirs(music_dir)) {
        set_error(job->error, job->error_capacity, "cannot make %s", music_dir);
        return 0;
    }
    if (!encode_soundtrack(job, sheet, bin, music_dir)) return 0;
    report_build(job, 0.98, "Finishing");

    char icon[PATH_CAPACITY];
    path_join(icon, sizeof icon, disc_dir, "Boss.ico");
    if (file_size_of(icon) != 0 && !set_game_icon(job->exe_path, icon, job->error, job->error_capacity)) return 0;
    if (!finish_build(job)) return 0;
    report_build(job, 1.0, "Done");
    return 1;
}

int run_disc_build(BuildJob* job) {
    // Both inputs are opened once and read only through these streams, so
    // what is built is what was opened, and compared with what was checked.
    FileStamp bin_stamp, cue_stamp;
    ScopedFile bin(open_utf8(job->request.bin_path, "rb"));
    const int bin_open = bin && stream_stamp(bin.get(), &bin_stamp);
    ScopedFile cue(open_utf8(job->request.cue_path, "rb"));
    if (!cue || !stream_stamp(cue.get(), &cue_stamp)) {
        set_error(job->error, job->error_capacity, "cannot open the cue sheet");
        return 0;
    }
    if (!still_checked(job, job->request.cue_path, job->request.cue_stamp, &cue_stamp)) return 0;
    // The sheet is 99 tracks plus a 1 KiB name; fine on the build thread.
    CueSheet sheet;
    if (!parse_cue_stream(cue.get(), &sheet, bin_open ? bin_stamp.size : 0, job->error, job->error_capacity))
        return 0;
    cue.close();
    if (!bin_open) {
        set_error(job->error, job->error_capacity, "the BIN is not a raw (MODE1/2352) disc image");
        return 0;
    }
    if (!still_checked(job, job->request.bin_path, job->request.bin_stamp, &bin_stamp)) return 0;
    return build_from(job, bin.get(), &sheet);
}
