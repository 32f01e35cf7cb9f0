// Icon transplant. ICO layout (little-endian): reserved (2), type (2),
// count n (2), then n 16-byte directory entries: width, height, colours,
// reserved (1 each), planes (2), bits per pixel (2), image size (4), image
// offset from the file's start (4). The group directory resource keeps the
// first 8 bytes of each entry, then the size (4) and the resource id (2).
#include "formats/icon/icon.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "base/part_file.h"
#include "base/paths.h"
#include "base/bytes.h"

#include "formats/icon/pe_resources.h"

#ifdef _WIN32
#include <windows.h>
#endif

static const char* const ICON_UNREADABLE = "the disc's icon is unreadable";
static const char* const ICON_NOT_SET = "cannot set the game's icon";

// The ICO file whole, with its image count, or null when it is unreadable or
// too short for its own directory.
// The ICO file whole, with its header and directory present; null with the
// message written otherwise.
static unsigned char* load_icon_file(const char* ico_path, uint64_t* size, uint32_t* count, char* error,
                                     size_t error_capacity) {
    unsigned char* ico = read_whole_file(ico_path, size);
    if (ico && (*size < 6 || (*count = (uint32_t)(ico[4] | (ico[5] << 8))) == 0 || *size < 6 + 16ull * *count)) {
        free(ico);
        ico = nullptr;
    }
    if (!ico) set_error(error, error_capacity, "%s", ICON_UNREADABLE);
    return ico;
}

// Image k's offset and size; 0 when its bytes run past the file's end.
static int icon_image(const unsigned char* ico, uint64_t ico_size, uint32_t k, uint32_t* offset, uint32_t* size) {
    const unsigned char* entry = ico + 6 + 16 * (size_t)k;
    *size = get_le32(entry + 8);
    *offset = get_le32(entry + 12);
    return (uint64_t)*offset + *size <= ico_size;
}

static void fill_group_entry(unsigned char* group, const unsigned char* ico, uint32_t k, uint32_t size) {
    unsigned char* g = group + 6 + 14 * (size_t)k;
    memcpy(g, ico + 6 + 16 * (size_t)k, 8);
    g[8] = (unsigned char)size;
    g[9] = (unsigned char)(size >> 8);
    g[10] = (unsigned char)(size >> 16);
    g[11] = (unsigned char)(size >> 24);
    g[12] = (unsigned char)(k + 1);
    g[13] = (unsigned char)((k + 1) >> 8);
}

static unsigned char* new_group_directory(const unsigned char* ico, uint32_t count) {
    unsigned char* group = (unsigned char*)calloc(6 + 14 * (size_t)count, 1);
    if (!group) return nullptr;
    memcpy(group, ico, 4);
    group[4] = (unsigned char)count;
    group[5] = (unsigned char)(count >> 8);
    return group;
}

#ifdef _WIN32

static wchar_t* wide_copy(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units <= 0) units = 1;
    wchar_t* wide = (wchar_t*)malloc((size_t)units * sizeof(wchar_t));
    if (!wide) return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, units) == 0) wide[0] = 0;
    return wide;
}

int set_game_icon(const char* exe_path, const char* ico_path, char* error, size_t error_capacity) {
    uint64_t ico_size = 0;
    uint32_t count = 0;
    unsigned char* ico = load_icon_file(ico_path, &ico_size, &count, error, error_capacity);
    if (!ico) return 0;
    // A read-only executable is refused outright: Windows enforces the
    // attribute even for administrators, but Wine running as root would
    // write through it.
    wchar_t* wide_exe = wide_copy(exe_path);
    HANDLE update = wide_exe && file_is_writable(exe_path, nullptr) ? BeginUpdateResourceW(wide_exe, FALSE) : nullptr;
    free(wide_exe);
    if (!update) {
        free(ico);
        set_error(error, error_capacity, "%s", ICON_NOT_SET);
        return 0;
    }
    int abandoned = 0;
    unsigned char* group = new_group_directory(ico, count);
    if (!group) abandoned = 1;
    for (uint32_t k = 0; k < count && !abandoned; ++k) {
        uint32_t offset = 0, size = 0;
        if (!icon_image(ico, ico_size, k, &offset, &size)) {
            abandoned = 1;
            break;
        }
        fill_group_entry(group, ico, k, size);
        if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(k + 1), 0, ico + offset, size)) abandoned = 1;
    }
    if (!abandoned &&
        !UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), 0, group, (DWORD)(6 + 14 * (size_t)count)))
        abandoned = 1;
    BOOL committed = EndUpdateResourceW(update, abandoned ? TRUE : FALSE);
    free(group);
    free(ico);
    if (abandoned || !committed) {
        set_error(error, error_capacity, "%s", ICON_NOT_SET);
        return 0;
    }
    return 1;
}

#endif


int set_game_icon_own_writer(const char* exe_path, const char* ico_path, char* error, size_t error_capacity) {
    uint64_t ico_size = 0;
    uint32_t count = 0;
    unsigned char* ico = load_icon_file(ico_path, &ico_size, &count, error, error_capacity);
    if (!ico) return 0;
    // Like the system's update, never rewrite a read-only executable; the
    // replacement keeps the executable's permissions.
    uint32_t mode = 0;
    uint64_t exe_size = 0;
    unsigned char* exe = file_is_writable(exe_path, &mode) ? read_whole_file(exe_path, &exe_size) : nullptr;
    if (!exe) {
        free(ico);
        set_error(error, error_capacity, "%s", ICON_NOT_SET);
        return 0;
    }
    int done = 0;
    unsigned char* group = new_group_directory(ico, count);
    PeResourceUpdate* updates = (PeResourceUpdate*)calloc((size_t)count + 1, sizeof(PeResourceUpdate));
    unsigned char* patched = nullptr;
    size_t patched_size = 0;
    do {
        if (!group || !updates) break;
        uint32_t k = 0;
        for (; k < count; ++k) {
            uint32_t offset = 0, size = 0;
            if (!icon_image(ico, ico_size, k, &offset, &size)) break;
            fill_group_entry(group, ico, k, size);
            updates[k] = PeResourceUpdate{3, (uint16_t)(k + 1), 0, ico + offset, size};
        }
        if (k < count) break;
        updates[count] = PeResourceUpdate{14, 1, 0, group, (uint32_t)(6 + 14 * (size_t)count)};
        if (!pe_update_resources(exe, (size_t)exe_size, updates, (size_t)count + 1, &patched, &patched_size)) break;
        PartFile part;
        if (!part_open(&part, exe_path, PART_REMOVE)) break;
        if (fwrite(patched, 1, patched_size, part.file) != patched_size) {
            part_discard(&part);
            break;
        }
        if (!part_commit(&part, &mode)) break;
        done = 1;
    } while (0);
    free(patched);
    free(updates);
    free(group);
    free(exe);
    free(ico);
    if (!done) {
        set_error(error, error_capacity, "%s", ICON_NOT_SET);
        return 0;
    }
    return 1;
}


#ifndef _WIN32
int set_game_icon(const char* exe_path, const char* ico_path, char* error, size_t error_capacity) {
    return set_game_icon_own_writer(exe_path, ico_path, error, error_capacity);
}
#endif
