// The disc file system walk on a valid raw frame whose volume descriptors
// and directory records are the fuzzer's: the input is the user data of
// logical sectors 16 onward (descriptors first); the harness wraps it into
// MODE1/2352 sectors behind 16 empty ones and extracts the tree into a
// scratch folder, then checks that nothing was written outside it.
#include <dirent.h>
#include <stdint.h>
#include <sys/stat.h>

#include <vector>

#include "base/paths.h"
#include "formats/disc/iso.h"
#include "fuzz_support.h"

static const unsigned char SYNC[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Entries directly in folder (no recursion), ignoring "." and "..".
static int count_entries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return -1;
    int n = 0;
    while (struct dirent* e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) ++n;
    closedir(dir);
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    size_t user_sectors = 16 + (size + DISC_USER_SECTOR - 1) / DISC_USER_SECTOR;
    std::vector<unsigned char> raw(user_sectors * DISC_RAW_SECTOR, 0);
    for (size_t s = 0; s < user_sectors; ++s) {
        unsigned char* sector = raw.data() + s * DISC_RAW_SECTOR;
        memcpy(sector, SYNC, sizeof SYNC);
        sector[15] = 1;  // mode 1; the address bytes are not read
        if (s >= 16) {
            size_t from = (s - 16) * DISC_USER_SECTOR;
            size_t n = size - from < DISC_USER_SECTOR ? size - from : DISC_USER_SECTOR;
            memcpy(sector + DISC_USER_OFFSET, data + from, n);
        }
    }
    // Half the inputs also get a cut last sector: a BIN that ends mid-file.
    size_t keep = raw.size();
    if (size && (data[size - 1] & 1)) keep -= DISC_RAW_SECTOR / 2;
    std::string bin = fuzz_write("disc.bin", raw.data(), keep);

    std::string root = fuzz_scratch() + "/out";
    std::string target = root + "/tree";
    remove_tree(root.c_str());
    FUZZ_CHECK(make_dirs(root.c_str()));
    char error[512];
    error[0] = 0;
    int ok = extract_disc_files(bin.c_str(), target.c_str(), nullptr, error, sizeof error);
    if (!ok) FUZZ_CHECK(error[0] != 0);
    // Nothing beside the target folder: no name escaped it.
    int beside = count_entries(root.c_str());
    FUZZ_CHECK(beside == 0 || (beside == 1 && is_directory(target.c_str())));
    FUZZ_CHECK(remove_tree(root.c_str()));
    return 0;
}
