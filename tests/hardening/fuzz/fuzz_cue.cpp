// Cue sheet reader on arbitrary bytes, with and without a BIN size; checks
// the promises the disc build relies on after a successful parse.
#include <stdint.h>

#include "formats/disc/cue.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string cue = fuzz_write("disc.cue", data, size);
    // The BIN size comes from the sheet's length too, so that some inputs
    // are measured against a size the tracks fit and others against one
    // they overrun.
    const uint64_t bin_sizes[3] = {0, (uint64_t)size * CD_SECTOR_BYTES, 3ull * CD_SECTOR_BYTES + 17};
    for (uint64_t bin_size : bin_sizes) {
        static CueSheet sheet;
        char error[256];
        error[0] = 0;
        if (!parse_cue_sheet(cue.c_str(), &sheet, bin_size, error, sizeof error)) {
            FUZZ_CHECK(error[0] != 0);
            continue;
        }
        FUZZ_CHECK(sheet.track_count >= 1 && sheet.track_count <= CUE_MAX_TRACKS);
        FUZZ_CHECK(memchr(sheet.file, 0, sizeof sheet.file) != nullptr);
        for (int i = 0; i < sheet.track_count; ++i) {
            const CueTrack& t = sheet.tracks[i];
            FUZZ_CHECK(t.start != CUE_NO_START);
            if (bin_size) {
                // Every track lies inside the BIN: the soundtrack encoder
                // seeks to start and reads length frames.
                FUZZ_CHECK((uint64_t)t.start + t.length <= bin_size / CD_SECTOR_BYTES);
            }
        }
    }
    char bin[1100];
    find_bin_for_cue(cue.c_str(), bin, sizeof bin);
    return 0;
}
