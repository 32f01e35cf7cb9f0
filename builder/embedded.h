// The game executables carried inside this program.
#ifndef KELVORN_BUILDER_EMBEDDED_H
#define KELVORN_BUILDER_EMBEDDED_H

#include <stddef.h>

// Writes the embedded executable ("duskmere" selects DUSKMERE, any other id
// TOLLVANE) byte for byte to path.
int extract_game_executable(const char* game_id, const char* path, char* error,
                            size_t error_capacity);

// The embedded game executable for game_id: bytes and size, or null.
// Platform-specific (Win32 resources, or linked-in data in the POSIX build).
const unsigned char* embedded_game_bytes(const char* game_id, size_t* size_out);
// Writes size bytes to path in one write, creating or truncating it.
// Platform-specific (one CreateFileW and WriteFile on Windows).
int write_embedded_executable(const char* path, const unsigned char* bytes, size_t size);

#endif
