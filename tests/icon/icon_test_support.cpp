#include "icon/icon_test_support.h"

#include "builder/build.h"
#include "builder/embedded.h"
#include "formats/icon/icon.h"
#include "support/test_support.h"

namespace it {

std::vector<Impl> implementations() {
#ifdef _WIN32
    return {{"system", set_game_icon}, {"own", set_game_icon_own_writer}};
#else
    return {{"own", set_game_icon}};
#endif
}

std::string icon_fixture(const std::string& name) { return kt::join(kt::join(kt::fixture_dir(), "icon"), name); }
std::string test_program(const std::string& name) { return kt::join(kt::host_path(ICON_TEST_PROGRAMS), name); }
std::string output_dir() {
    std::string dir = kt::host_path(ICON_OUTPUT_DIR);
    kt::make_dirs(dir);
    return dir;
}

std::string standin_exe() {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes("duskmere", &size);
    return bytes ? std::string((const char*)bytes, size) : std::string();
}

uint32_t u16(const std::string& s, size_t at) { return (unsigned char)s[at] | ((unsigned char)s[at + 1] << 8); }
uint32_t u32(const std::string& s, size_t at) { return u16(s, at) | (u16(s, at + 2) << 16); }
void put16(std::string& s, size_t at, uint32_t v) {
    s[at] = (char)v;
    s[at + 1] = (char)(v >> 8);
}
void put32(std::string& s, size_t at, uint32_t v) {
    put16(s, at, v);
    put16(s, at + 2, v >> 16);
}

Ico parse_ico(const std::string& bytes) {
    Ico ico;
    ico.bytes = bytes;
    uint32_t n = u16(bytes, 4);
    ico.group = bytes.substr(0, 6);
    for (uint32_t k = 0; k < n; ++k) {
        size_t entry = 6 + 16 * k;
        ico.images.push_back(bytes.substr(u32(bytes, entry + 12), u32(bytes, entry + 8)));
        std::string g = bytes.substr(entry, 12) + "  ";
        put16(g, 12, k + 1);
        ico.group += g;
    }
    return ico;
}

#ifndef _WIN32
static std::string wine_path(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}
#endif

bool windows_view(const std::string& exe_path, ResourceMap* map) {
#ifdef _WIN32
    return dump_resources(exe_path, map) == 1;
#else
    std::string out = exe_path + ".resources.txt";
    int rc = kt::run_windows_program(test_program("icon_probe.exe"), {"dump", wine_path(exe_path), wine_path(out)});
    return rc == 0 && parse_resource_map_text(kt::read_file(out), map);
#endif
}

int run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& dir) {
    return kt::run_windows_program(exe, args, dir);
}

}  // namespace it
