// The platform-independent half of the path and file layer: formatting,
// joining, parents, folder creation and whole-file I/O on top of the
// platform primitives.
#include "base/paths.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

void set_error(char* error, size_t capacity, const char* format, ...) {
    if (!error || capacity == 0) return;
    va_list args;
    va_start(args, format);
    vsnprintf(error, capacity, format, args);
    va_end(args);
}

static int is_separator(char c) { return c == '\\' || c == '/'; }

void path_join(char* out, size_t capacity, const char* first, const char* second) {
    size_t n = strlen(first);
    if (n > 0 && is_separator(first[n - 1]))
        snprintf(out, capacity, "%s%s", first, second);
    else
        snprintf(out, capacity, "%s%c%s", first, PATH_SEP, second);
}

void path_parent(char* out, size_t capacity, const char* path) {
    const char* last = nullptr;
    for (const char* p = path; *p; ++p)
        if (is_separator(*p)) last = p;
    if (!last) {
        snprintf(out, capacity, ".");
    } else if (last == path) {
        snprintf(out, capacity, "%c", PATH_SEP);
    } else {
        snprintf(out, capacity, "%.*s", (int)(last - path), path);
    }
}

int make_dirs(const char* path) {
    char work[PATH_CAPACITY];
    snprintf(work, sizeof work, "%s", path);
    size_t length = strlen(work);
    for (size_t i = 1; i < length; ++i) {
        if (!is_separator(work[i])) continue;
        // Position 2 after "X:" would be a drive root; never create it.
        if (i == 2 && work[1] == ':') continue;
        char saved = work[i];
        work[i] = 0;
        int ok = is_directory(work) || make_dir(work);
        work[i] = saved;
        if (!ok) return 0;
    }
    if (is_directory(work)) return 1;
    return make_dir(work);
}

int write_whole_file(const char* path, const void* bytes, size_t length) {
    FILE* file = open_utf8(path, "wb");
    if (!file) return 0;
    size_t written = length ? fwrite(bytes, 1, length, file) : 0;
    int closed = fclose(file) == 0;
    return written == length && closed;
}

unsigned char* read_whole_file(const char* path, uint64_t* size_out) {
    return read_whole_file_stamped(path, size_out, nullptr);
}

unsigned char* read_whole_file_stamped(const char* path, uint64_t* size_out, FileStamp* stamp_out) {
    FILE* file = open_input(path);
    if (!file) return nullptr;
    // The size of the open file, not of whatever the name holds by now.
    FileStamp stamp;
    if (!stream_stamp(file, &stamp) || stamp.size == 0 || stamp.size > 2147483648ull) {
        fclose(file);
        return nullptr;
    }
    uint64_t size = stamp.size;
    unsigned char* bytes = (unsigned char*)malloc((size_t)size);
    if (!bytes) {
        fclose(file);
        return nullptr;
    }
    size_t got = fread(bytes, 1, (size_t)size, file);
    fclose(file);
    if (got != size) {
        free(bytes);
        return nullptr;
    }
    if (size_out) *size_out = size;
    if (stamp_out) *stamp_out = stamp;
    return bytes;
}

int same_file(const FileStamp* a, const FileStamp* b) {
    return a->valid && b->valid && a->volume == b->volume && a->index == b->index;
}

int same_file_state(const FileStamp* a, const FileStamp* b) {
    return same_file(a, b) && a->size == b->size && a->modified == b->modified && a->changed == b->changed;
}

// The platform's free-space query for an existing folder.
int folder_free_space(const char* folder, uint64_t* free_out);

int free_space_of(const char* path, uint64_t* free_out) {
    char here[PATH_CAPACITY], up[PATH_CAPACITY];
    snprintf(here, sizeof here, "%s", path);
    // Climbs until a folder exists; the root, "." or a name that no longer
    // gets shorter ends the climb.
    for (;;) {
        if (is_directory(here)) return folder_free_space(here, free_out);
        path_parent(up, sizeof up, here);
        if (strcmp(up, here) == 0 || up[0] == 0) return 0;
        memcpy(here, up, sizeof here);
    }
}
