// The inputs the fuzz targets found faults with, replayed in both builds
// (the fuzz targets themselves run natively only): the resource writer must
// accept its own output again, with the new resources readable in it and
// placed in a section of their own.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/icon/pe_resources.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> regression_files(const char* target) {
    std::vector<std::string> files;
    std::string folder = kt::source_dir();
    for (const char* part : {"tests", "hardening", "fuzz", "regressions", target}) folder = kt::join(folder, part);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(folder), ec))
        files.push_back(entry.path().u8string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzRegressions, ResourceWriterAcceptsItsOwnOutput) {
    static const unsigned char icon[40] = {40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32};
    static const unsigned char group[20] = {0, 0, 1, 0, 1, 0, 1, 2, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 1, 0};
    const PeResourceUpdate updates[2] = {{3, 1, 0, icon, sizeof icon}, {14, 1, 0, group, sizeof group}};
    std::vector<std::string> files = regression_files("pe");
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string bytes = kt::read_file(file);
        ASSERT_FALSE(bytes.empty());
        unsigned char* out = nullptr;
        size_t out_size = 0;
        ASSERT_EQ(pe_update_resources((const unsigned char*)bytes.data(), bytes.size(), updates, 2, &out, &out_size), 1);
        for (const PeResourceUpdate& u : updates) {
            size_t offset = 0;
            uint32_t length = 0;
            ASSERT_EQ(pe_find_resource(out, out_size, u.type, u.name, u.language, &offset, &length), 1);
            EXPECT_EQ(length, u.size);
            EXPECT_EQ(memcmp(out + offset, u.data, u.size), 0);
        }
        unsigned char* again = nullptr;
        size_t again_size = 0;
        EXPECT_EQ(pe_update_resources(out, out_size, updates, 2, &again, &again_size), 1);
        EXPECT_EQ(pe_count_resources(again, again_size), pe_count_resources(out, out_size));
        free(again);
        free(out);
    }
}

}  // namespace
