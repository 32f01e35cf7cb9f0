// The own PE resource writer on arbitrary executables: reading, counting,
// finding and rewriting must never read out of bounds, and a rewritten
// image must read back with the new icon and every old resource.
#include <stdint.h>
#include <stdlib.h>

#include "fuzz_support.h"
#include "formats/icon/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    long before = pe_count_resources(data, size);
    pe_checksum(data, size);
    size_t offset = 0;
    uint32_t length = 0;
    if (pe_find_resource(data, size, 14, 1, 0, &offset, &length))
        FUZZ_CHECK(offset <= size && length <= size - offset);

    static const unsigned char icon_bytes[40] = {40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32};
    static const unsigned char group[20] = {0, 0, 1, 0, 1, 0, 1, 2, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 1, 0};
    const PeResourceUpdate updates[2] = {
        {3, 1, 0, icon_bytes, sizeof icon_bytes},
        {14, 1, 0, group, sizeof group},
    };
    unsigned char* out = nullptr;
    size_t out_size = 0;
    if (!pe_update_resources(data, size, updates, 2, &out, &out_size)) {
        FUZZ_CHECK(out == nullptr);
        return 0;
    }
    FUZZ_CHECK(out != nullptr && out_size > 0);
    long after = pe_count_resources(out, out_size);
    FUZZ_CHECK(after >= 2);
    if (before >= 0) FUZZ_CHECK(after >= before && after <= before + 2);
    for (const PeResourceUpdate& u : updates) {
        FUZZ_CHECK(pe_find_resource(out, out_size, u.type, u.name, u.language, &offset, &length));
        FUZZ_CHECK(length == u.size && memcmp(out + offset, u.data, u.size) == 0);
    }
    // A second rewrite of our own output must work and change nothing more.
    unsigned char* again = nullptr;
    size_t again_size = 0;
    FUZZ_CHECK(pe_update_resources(out, out_size, updates, 2, &again, &again_size));
    FUZZ_CHECK(pe_count_resources(again, again_size) == after);
    free(again);
    free(out);
    return 0;
}
