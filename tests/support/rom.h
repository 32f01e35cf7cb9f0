// Synthetic cartridge ROMs and the request that builds one, for every test
// of the cartridge game.
#ifndef KELVORN_TESTS_ROM_H
#define KELVORN_TESTS_ROM_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "builder/job.h"

namespace kt {

const size_t CARTRIDGE_ROM_SIZE = 8388608;

// CARTRIDGE_ROM_SIZE pseudo-random bytes (see random_bytes) with the z64
// (big-endian) header 80 37 12 40 when header; seed varies the content.
// Never the retail ROM.
std::string synthetic_rom(uint32_t seed, bool header = true);

// The same image in the other stored orders, made independently of the
// program's loader: every 16-bit pair swapped (v64), every 32-bit word
// reversed (n64). A trailing part shorter than a pair or word stays.
std::string rom_as_v64(std::string z64);
std::string rom_as_n64(std::string z64);

// A request to build the cartridge game from rom into dest; both strings are
// borrowed and must outlive the request.
BuildRequest cartridge_request(const std::string& rom, const std::string& dest);

}  // namespace kt

#endif
