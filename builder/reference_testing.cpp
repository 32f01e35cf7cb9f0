// The reference table of the test build only: the retail digests, each of
// which may be replaced by a fixture digest from the file named by the
// environment variable KELVORN_TEST_DIGESTS. The file holds lines
//   disc_image=<md5>  cue_sheet=<md5>  cartridge_rom=<md5>  brglide=<md5>
// (32 hex digits, stored lowercase; other lines are ignored). A line left
// out keeps the retail value. The file is read once, at the first call; a
// missing variable or unreadable file leaves the retail table in force.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builder/reference.h"
#include "base/paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

static const char TEST_DIGESTS_VARIABLE[] = "KELVORN_TEST_DIGESTS";

struct TestingTable {
    ReferenceDigests table;
    char digests[4][33];
};

// The variable's value as UTF-8 into out; 0 when unset or too long.
static int read_variable(char* out, size_t capacity) {
#ifdef _WIN32
    wchar_t name[sizeof TEST_DIGESTS_VARIABLE];
    for (size_t i = 0; i < sizeof TEST_DIGESTS_VARIABLE; ++i) name[i] = (wchar_t)TEST_DIGESTS_VARIABLE[i];
    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    if (n == 0 || n >= 1024) return 0;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, value, -1, out, (int)capacity, nullptr, nullptr);
    return bytes > 0;
#else
    const char* value = getenv(TEST_DIGESTS_VARIABLE);
    if (!value || strlen(value) >= capacity) return 0;
    memcpy(out, value, strlen(value) + 1);
    return 1;
#endif
}

// Takes "key=<32 hex digits>" into slot; ignores anything else.
static void take_line(const char* line, TestingTable* t) {
    static const char* const keys[4] = {"disc_image=", "cue_sheet=", "cartridge_rom=", "brglide="};
    for (int k = 0; k < 4; ++k) {
        size_t key_length = strlen(keys[k]);
        if (strncmp(line, keys[k], key_length) != 0) continue;
        const char* value = line + key_length;
        char hex[33];
        for (int i = 0; i < 32; ++i) {
            char c = value[i];
            if (c >= 'A' && c <= 'F') c = (char)(c - 'A' + 'a');
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return;
            hex[i] = c;
        }
        char after = value[32];
        if (after != 0 && after != '\r' && after != '\n' && after != ' ' && after != '\t') return;
        hex[32] = 0;
        memcpy(t->digests[k], hex, sizeof hex);
        return;
    }
}

static const ReferenceDigests* load_table(void) {
    static TestingTable t;
    snprintf(t.digests[0], 33, "%s", RETAIL_DISC_IMAGE_MD5);
    snprintf(t.digests[1], 33, "%s", RETAIL_CUE_SHEET_MD5);
    snprintf(t.digests[2], 33, "%s", RETAIL_CARTRIDGE_ROM_MD5);
    snprintf(t.digests[3], 33, "%s", RETAIL_BRGLIDE_MD5);
    char path[PATH_CAPACITY];
    if (read_variable(path, sizeof path)) {
        FILE* file = open_utf8(path, "rb");
        if (file) {
            char line[256];
            while (fgets(line, sizeof line, file)) take_line(line, &t);
            fclose(file);
        }
    }
    t.table.disc_image = t.digests[0];
    t.table.cue_sheet = t.digests[1];
    t.table.cartridge_rom = t.digests[2];
    t.table.brglide = t.digests[3];
    return &t.table;
}

const ReferenceDigests* reference_digests(void) {
    // A function-local static is initialised exactly once, also when the
    // first calls come from several threads at once.
    static const ReferenceDigests* table = load_table();
    return table;
}
