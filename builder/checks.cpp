// File digests and game checks. Every buffer is the call's own (the digest
// chunk on the heap), so checks run side by side on several threads.
#include "builder/checks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/md5.h"
#include "builder/cartridge_build.h"
#include "builder/reference.h"
#include "formats/cartridge/rom.h"
#include "formats/disc/cue.h"

static const RetailTrack retail_layout[RETAIL_TRACK_COUNT] = {
    {1, 0, "00:00:00"},  {2, 1, "12:55:18"},  {3, 1, "16:22:22"},  {4, 1, "20:37:55"},
    {5, 1, "24:08:09"},  {6, 1, "27:27:49"},  {7, 1, "32:25:28"},  {8, 1, "35:56:07"},
    {9, 1, "39:53:05"},  {10, 1, "43:32:05"}, {11, 1, "47:12:07"}, {12, 1, "50:25:57"},
    {13, 1, "55:15:52"},
};

const RetailTrack* retail_track_layout(void) { return retail_layout; }

static const char NOTE_UNREADABLE[] = "The file could not be read.";

// A ROM image this large cannot be the 8 MiB cartridge, whatever its order:
// it is digested in a stream (which a cancel can stop) instead of loaded.
enum { ROM_LOAD_LIMIT = 64 * 1048576 };

static uint32_t retail_start_frames(const char* text) {
    int minutes = 0, seconds = 0, frames = 0;
    sscanf(text, "%d:%d:%d", &minutes, &seconds, &frames);
    return (uint32_t)((minutes * 60 + seconds) * 75 + frames);
}

int retail_audio_ranges(uint64_t image_size, Md5Range* ranges) {
    // As the cue sheet's closing pass takes it: whole sectors, 32 bits.
    const uint32_t last_end = (uint32_t)(image_size / CD_SECTOR_BYTES);
    int count = 0;
    for (int i = 0; i < RETAIL_TRACK_COUNT; ++i) {
        if (!retail_layout[i].audio) continue;
        const uint32_t start = retail_start_frames(retail_layout[i].start);
        const uint32_t end = i + 1 < RETAIL_TRACK_COUNT ? retail_start_frames(retail_layout[i + 1].start) : last_end;
        if (end < start) continue;
        Md5Range* range = &ranges[count++];
        memset(range, 0, sizeof *range);
        range->offset = (uint64_t)start * CD_SECTOR_BYTES;
        range->length = (uint64_t)(end - start) * CD_SECTOR_BYTES;
    }
    return count;
}

int check_disc_image(const char* path, FileCheck* check, ProgressFn progress,
                     uint64_t progress_user, const CancelFlag* cancel) {
    memset(check, 0, sizeof *check);
    // The tracks' ranges follow from the size; an image that changes size
    // while it is read keeps digests that no build will match.
    const uint64_t size = file_size_of(path);
    check->audio.count = retail_audio_ranges(size, check->audio.track);
    if (!md5_file_ranges(path, check->md5_hex, progress, progress_user, cancel, &check->stamp, check->audio.track,
                         check->audio.count)) {
        check->audio.count = 0;
        snprintf(check->note, sizeof check->note, "%s", NOTE_UNREADABLE);
        return 0;
    }
    if (check->stamp.size != size) check->audio.count = 0;
    if (strcmp(check->md5_hex, reference_digests()->disc_image) == 0) {
        check->ok = 1;
        return 1;
    }
    snprintf(check->note, sizeof check->note, "%s",
             "This is not the retail Boss Rally disc image (a raw BIN of the whole CD).");
    return 0;
}

static int has_retail_layout(const char* path) {
    CueSheet* sheet = (CueSheet*)malloc(sizeof(CueSheet));
    if (!sheet) return 0;
    int match = parse_cue_sheet(path, sheet, 0, nullptr, 0) && sheet->track_count == RETAIL_TRACK_COUNT;
    for (int i = 0; match && i < RETAIL_TRACK_COUNT; ++i) {
        const CueTrack* track = &sheet->tracks[i];
        const RetailTrack* row = &retail_layout[i];
        match = track->number == row->number && track->audio == row->audio &&
                track->start == retail_start_frames(row->start);
    }
    free(sheet);
    return match;
}

int check_cue_sheet(const char* path, FileCheck* check, const CancelFlag* cancel) {
    memset(check, 0, sizeof *check);
    if (!md5_file(path, check->md5_hex, nullptr, 0, cancel, &check->stamp)) {
        snprintf(check->note, sizeof check->note, "%s", NOTE_UNREADABLE);
        return 0;
    }
    if (strcmp(check->md5_hex, reference_digests()->cue_sheet) == 0) {
        check->ok = 1;
        return 1;
    }
    if (has_retail_layout(path)) {
        check->ok = 1;
        snprintf(check->note, sizeof check->note, "%s",
                 "A different cue sheet, with the retail disc's track layout.");
        return 1;
    }
    snprintf(check->note, sizeof check->note, "%s",
             "This cue sheet does not describe the retail Boss Rally disc.");
    return 0;
}

int check_cartridge_rom(const char* path, FileCheck* check, ProgressFn progress,
                        uint64_t progress_user, const CancelFlag* cancel) {
    memset(check, 0, sizeof *check);
    if (progress) progress(progress_user, 0.0, nullptr);
    uint64_t stored_size = file_size_of(path);
    if (stored_size > ROM_LOAD_LIMIT && stored_size <= 2147483648ull) {
        // Its digest as stored is all there is to show.
        if (!md5_file(path, check->md5_hex, nullptr, 0, cancel, &check->stamp)) {
            check->md5_hex[0] = 0;
            snprintf(check->note, sizeof check->note, "%s", NOTE_UNREADABLE);
            return 0;
        }
        if (progress) progress(progress_user, 1.0, nullptr);
        snprintf(check->note, sizeof check->note, "%s", "This is not Top Gear Rally (USA).");
        return 0;
    }
    uint64_t size = 0;
    RomOrder order = ROM_Z64;
    unsigned char* image = load_cartridge_rom_stamped(path, &size, check->md5_hex, &order, &check->stamp);
    if (!image) {
        snprintf(check->note, sizeof check->note, "%s", NOTE_UNREADABLE);
        return 0;
    }
    Md5Context md5;
    unsigned char digest[16];
    char z64_hex[MD5_HEX_CAPACITY];
    md5_init(&md5);
    md5_update(&md5, image, (size_t)size);
    md5_final(&md5, digest);
    md5_to_hex(digest, z64_hex);
    free(image);
    if (progress) progress(progress_user, 1.0, nullptr);

    check->ok = strcmp(z64_hex, reference_digests()->cartridge_rom) == 0;
    if (!check->ok) {
        snprintf(check->note, sizeof check->note, "%s", "This is not Top Gear Rally (USA).");
        return 0;
    }
    if (order == ROM_V64 || order == ROM_N64)
        snprintf(check->note, sizeof check->note, "A %s dump: in .z64 byte order its MD5 is %s.",
                 order == ROM_V64 ? ".v64" : ".n64", z64_hex);
    return 1;
}
