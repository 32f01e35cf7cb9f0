#include "builder/space.h"

#include "base/paths.h"
#include "base/scoped_file.h"
#include "builder/cartridge_build.h"
#include "builder/embedded.h"
#include "formats/disc/cue.h"
#include "formats/disc/iso.h"
#include "formats/flac/flac.h"

enum {
    SAMPLES_PER_SECTOR = 588,
    // What a frame may add to its samples: the encoder keeps the cheapest
    // stereo coding, so a frame is never larger than left and right stored
    // verbatim plus the frame header (at most 16 bytes), two subframe
    // headers and the CRC-16. 64 bytes is a wide margin.
    FLAC_FRAME_OVERHEAD = 64,
};

static uint64_t executable_bytes(const char* game_id) {
    size_t size = 0;
    return embedded_game_bytes(game_id, &size) ? (uint64_t)size : 0;
}

static int estimate_disc(const BuildRequest* request, uint64_t* bytes_out, char* error, size_t error_capacity) {
    const uint64_t bin_size = file_size_of(request->bin_path);
    CueSheet sheet;
    if (!parse_cue_sheet(request->cue_path, &sheet, bin_size, error, error_capacity)) return 0;
    ScopedFile bin(open_utf8(request->bin_path, "rb"));
    if (!bin) {
        set_error(error, error_capacity, "the BIN is not a raw (MODE1/2352) disc image");
        return 0;
    }
    const uint64_t track_end = sheet.tracks[0].audio ? 0 : (uint64_t)sheet.tracks[0].start + sheet.tracks[0].length;
    uint64_t files = 0;
    if (!count_disc_files_from(bin.get(), bin_size, track_end, &files, error, error_capacity)) return 0;
    uint64_t audio = 0;
    for (int i = 0; i < sheet.track_count; ++i) {
        const CueTrack* track = &sheet.tracks[i];
        if (!track->audio) continue;
        const uint64_t samples = (uint64_t)track->length * SAMPLES_PER_SECTOR;
        const uint64_t frames = (samples + FLAC_MAX_BLOCK - 1) / FLAC_MAX_BLOCK;
        audio += samples * 4 + frames * FLAC_FRAME_OVERHEAD + FLAC_HEADER_BYTES;
    }
    *bytes_out = files + audio + executable_bytes("duskmere");
    return 1;
}

int estimate_build_size(const BuildRequest* request, uint64_t* bytes_out, char* error, size_t error_capacity) {
    if (request->game == GAME_BOSS_RALLY) return estimate_disc(request, bytes_out, error, error_capacity);
    const uint64_t rom = file_size_of(request->rom_path);
    const uint64_t data = rom > CARTRIDGE_DATA_OFFSET ? rom - CARTRIDGE_DATA_OFFSET : 0;
    *bytes_out = data + executable_bytes("tollvane");
    return 1;
}
