// The embedded game executables in the POSIX build: the same MinGW-built
// stand-ins (or a packager's executables), linked in as data by
// games/embed.S.
#include <string.h>

#include "base/paths.h"
#include "builder/embedded.h"

extern "C" {
extern const unsigned char kelvorn_duskmere_start[], kelvorn_duskmere_end[];
extern const unsigned char kelvorn_tollvane_start[], kelvorn_tollvane_end[];
}

const unsigned char* embedded_game_bytes(const char* game_id, size_t* size_out) {
    const unsigned char* start = kelvorn_tollvane_start;
    const unsigned char* end = kelvorn_tollvane_end;
    if (strcmp(game_id, "duskmere") == 0) {
        start = kelvorn_duskmere_start;
        end = kelvorn_duskmere_end;
    }
    if (end <= start) return nullptr;
    if (size_out) *size_out = (size_t)(end - start);
    return start;
}

int write_embedded_executable(const char* path, const unsigned char* bytes, size_t size) {
    return write_whole_file(path, bytes, size);
}
