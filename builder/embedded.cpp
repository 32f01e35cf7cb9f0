// The embedded game executable, written out. The bytes come from the
// platform's embedded_*.cpp.
#include "builder/embedded.h"

#include "base/paths.h"

int extract_game_executable(const char* game_id, const char* path, char* error, size_t error_capacity) {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes(game_id, &size);
    if (!bytes) {
        set_error(error, error_capacity, "the builder is missing its copy of the game (%s); download it again",
                  game_id);
        return 0;
    }
    // A partly written file is left for the driver's removal of the staging
    // folder.
    if (!write_embedded_executable(path, bytes, size)) {
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }
    return 1;
}
