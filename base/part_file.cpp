#include "base/part_file.h"

#include <string.h>

int part_open(PartFile* part, const char* path, PartFailure on_failure) {
    part->file = nullptr;
    part->path = path;
    part->on_failure = on_failure;
    const int length = snprintf(part->part, sizeof part->part, "%s.part", path);
    if (length < 0 || (size_t)length >= sizeof part->part) return 0;
    part->file = open_utf8(part->part, "wb");
    return part->file != nullptr;
}

static void fail_part(const PartFile* part) {
    if (part->on_failure == PART_REMOVE && !is_directory(part->part)) remove_tree(part->part);
}

int part_commit(PartFile* part, const uint32_t* mode) {
    if (!part->file) return 0;
    // Buffered bytes that do not fit show up only at the flush or the close.
    const int flushed = fflush(part->file) == 0 && !ferror(part->file);
    // The build flushes every file to the disk before it replaces anything;
    // starting each one's writeback now overlaps that with the work to come.
    if (flushed) start_writeback(part->file);
    const int closed = fclose(part->file) == 0 && flushed;
    part->file = nullptr;
    if (closed && (!mode || set_file_mode(part->part, *mode)) && move_replace(part->part, part->path)) return 1;
    fail_part(part);
    return 0;
}

void part_discard(PartFile* part) {
    if (!part->file) return;
    fclose(part->file);
    part->file = nullptr;
    fail_part(part);
}
