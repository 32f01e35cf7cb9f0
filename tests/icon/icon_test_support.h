// Helpers shared by the icon tests: fixtures, the implementations under
// test, and the Windows loader's view of an executable's resources.
#ifndef KELVORN_TESTS_ICON_SUPPORT_H
#define KELVORN_TESTS_ICON_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "icon/resource_dump.h"

namespace it {

typedef int (*IconFn)(const char* exe_path, const char* ico_path, char* error, size_t error_capacity);
struct Impl {
    const char* name;
    IconFn fn;
};
// The system's resource update (Windows only) and the own writer.
std::vector<Impl> implementations();

std::string icon_fixture(const std::string& name);  // made by make_icons.sh
std::string test_program(const std::string& name);  // richpe.exe, icon_probe.exe
std::string output_dir();                           // kept for the listing comparison
std::string standin_exe();                          // the Boss Rally stand-in's bytes

uint32_t u16(const std::string& s, size_t at);
uint32_t u32(const std::string& s, size_t at);
void put16(std::string& s, size_t at, uint32_t v);
void put32(std::string& s, size_t at, uint32_t v);

// An ICO file, its images and the group directory expected for it.
struct Ico {
    std::string bytes;
    std::vector<std::string> images;
    std::string group;
};
Ico parse_ico(const std::string& bytes);

// Windows' reading of the resources (in-process on Windows, through the
// probe under Wine natively). false when the file does not load.
bool windows_view(const std::string& exe_path, ResourceMap* map);

// Runs a test program or stand-in (under Wine natively); its exit code.
int run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& dir = "");

}  // namespace it

#endif
