#include "support/rom.h"

#include <utility>

#include "support/test_support.h"

namespace kt {

std::string synthetic_rom(uint32_t seed, bool header) {
    std::vector<unsigned char> bytes = random_bytes(CARTRIDGE_ROM_SIZE, seed);
    std::string rom(bytes.begin(), bytes.end());
    if (header) rom.replace(0, 4, "\x80\x37\x12\x40", 4);
    return rom;
}

std::string rom_as_v64(std::string z64) {
    for (size_t i = 0; i + 2 <= z64.size(); i += 2) std::swap(z64[i], z64[i + 1]);
    return z64;
}

std::string rom_as_n64(std::string z64) {
    for (size_t i = 0; i + 4 <= z64.size(); i += 4) {
        std::swap(z64[i], z64[i + 3]);
        std::swap(z64[i + 1], z64[i + 2]);
    }
    return z64;
}

BuildRequest cartridge_request(const std::string& rom, const std::string& dest) {
    BuildRequest r;
    r.game = GAME_TOP_GEAR_RALLY;
    r.bin_path = "";
    r.cue_path = "";
    r.rom_path = rom.c_str();
    r.dest_dir = dest.c_str();
    return r;
}

}  // namespace kt
