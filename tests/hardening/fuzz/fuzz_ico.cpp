// The game icon transplant with an arbitrary ICO file, through the program's
// own resource writer, into the stand-in game executable. A refused icon
// leaves the executable byte for byte as it was; an accepted one reads back
// as the ICO's images.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "base/paths.h"
#include "fuzz_support.h"
#include "formats/icon/icon.h"
#include "formats/icon/pe_resources.h"

static std::vector<unsigned char> game_exe;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* path = getenv("KELVORN_FUZZ_EXE");
    uint64_t size = 0;
    unsigned char* bytes = path ? read_whole_file(path, &size) : nullptr;
    if (!bytes) {
        fprintf(stderr, "fuzz_ico: set KELVORN_FUZZ_EXE to a Windows executable\n");
        exit(2);
    }
    game_exe.assign(bytes, bytes + size);
    free(bytes);
    return 0;
}

static uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t le32(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string ico = fuzz_write("disc.ico", data, size);
    std::string exe = fuzz_write("game.exe", game_exe.data(), game_exe.size());
    char error[256];
    error[0] = 0;
    int ok = set_game_icon_own_writer(exe.c_str(), ico.c_str(), error, sizeof error);
    uint64_t out_size = 0;
    unsigned char* out = read_whole_file(exe.c_str(), &out_size);
    FUZZ_CHECK(out != nullptr);
    if (!ok) {
        FUZZ_CHECK(error[0] != 0);
        FUZZ_CHECK(out_size == game_exe.size() && memcmp(out, game_exe.data(), out_size) == 0);
    } else {
        FUZZ_CHECK(size >= 6);
        unsigned count = le16(data + 4);
        FUZZ_CHECK(count >= 1 && 6 + 16ull * count <= size);
        for (unsigned i = 0; i < count; ++i) {
            const uint8_t* entry = data + 6 + 16 * i;
            uint32_t bytes = le32(entry + 8), at = le32(entry + 12);
            FUZZ_CHECK((uint64_t)at + bytes <= size);
            size_t offset = 0;
            uint32_t length = 0;
            FUZZ_CHECK(pe_find_resource(out, (size_t)out_size, 3, (uint16_t)(i + 1), 0, &offset, &length));
            FUZZ_CHECK(length == bytes && memcmp(out + offset, data + at, bytes) == 0);
        }
    }
    free(out);
    return 0;
}
