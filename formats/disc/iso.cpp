// Raw MODE1/2352 image, ISO 9660 / Joliet volume descriptors, directory walk
// and file extraction. See formats/disc/iso.h for the contract.
#include "formats/disc/iso.h"

#include <stdlib.h>
#include <string.h>

#include "base/bytes.h"
#include "base/part_file.h"
#include "base/paths.h"
#include "formats/disc/name_fold.h"

static const char COPY_STATUS[] = "Copying the game's files from the disc";

// Every file copy goes through this buffer; one extraction at a time.
static unsigned char copy_buffer[DISC_COPY_CHUNK];

int read_data_track(DiscVolume* volume, uint64_t offset, void* buffer, size_t count) {
    unsigned char* out = (unsigned char*)buffer;
    while (count > 0) {
        uint64_t within = offset % DISC_USER_SECTOR;
        size_t piece = (size_t)(DISC_USER_SECTOR - within);
        if (piece > count) piece = count;
        uint64_t sector = offset / DISC_USER_SECTOR;
        // A logical offset beyond what 64-bit file offsets can hold cannot
        // exist in any BIN.
        if (sector > (UINT64_MAX - DISC_RAW_SECTOR) / DISC_RAW_SECTOR) return 0;
        uint64_t file_offset = within + sector * DISC_RAW_SECTOR + DISC_USER_OFFSET;
        if (!seek_to(volume->file, file_offset)) return 0;
        if (fread(out, 1, piece, volume->file) != piece) return 0;
        offset += piece;
        out += piece;
        count -= piece;
    }
    return 1;
}

// --- names ---

// Base name (before the first '.'; trailing spaces and dots dropped, as
// Windows does) compared with the reserved device names, ASCII case folded.
static int is_device_name(const char* name, size_t length) {
    size_t base = 0;
    while (base < length && name[base] != '.') ++base;
    while (base > 0 && (name[base - 1] == ' ' || name[base - 1] == '.')) --base;
    char upper[8];
    if (base > 7 || base < 3) return 0;
    for (size_t i = 0; i < base; ++i) {
        char c = name[i];
        upper[i] = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
    }
    upper[base] = 0;
    static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* f : fixed)
        if (strcmp(upper, f) == 0) return 1;
    if (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0) {
        const unsigned char* rest = (const unsigned char*)upper + 3;
        size_t rest_length = base - 3;
        if (rest_length == 1 && rest[0] >= '1' && rest[0] <= '9') return 1;
        // Windows also reserves COM and LPT with a superscript 1, 2 or 3.
        if (rest_length == 2 && rest[0] == 0xC2 && (rest[1] == 0xB9 || rest[1] == 0xB2 || rest[1] == 0xB3))
            return 1;
    }
    return 0;
}

int disc_name_is_unsafe(const char* name, size_t length) {
    // Empty, ".", "..", and any name of only dots and spaces: Windows trims
    // trailing dots and spaces, so ".. " would become "..".
    size_t dots_and_spaces = 0;
    while (dots_and_spaces < length && (name[dots_and_spaces] == '.' || name[dots_and_spaces] == ' '))
        ++dots_and_spaces;
    if (dots_and_spaces == length) return 1;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || c == '/' || c == '\\' || c == ':') return 1;
    }
    return is_device_name(name, length);
}

// The refused name for a message: control bytes become \xHH so that the line
// stays one line and a zero byte cannot cut it short.
static void show_name(char* out, size_t capacity, const char* name, size_t length) {
    size_t o = 0;
    for (size_t i = 0; i < length && o + 5 <= capacity; ++i) {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || c == 0x7F) {
            snprintf(out + o, capacity - o, "\\x%02X", c);
            o += 4;
        } else {
            out[o++] = (char)c;
        }
    }
    if (capacity > 0) out[o < capacity ? o : capacity - 1] = 0;
}

// Kept out of walk_directory so that the recursion's frames stay small.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static void report_unsafe_name(DiscExtraction* extraction, const char* name, size_t length) {
    char shown[DISC_NAME_CAPACITY * 4];
    show_name(shown, sizeof shown, name, length);
    set_error(extraction->error, extraction->error_capacity, "the disc image holds an unsafe file name: %s",
              shown);
}

// Converts a record's name to UTF-8 in out (DISC_NAME_CAPACITY bytes).
// Returns the length; the text is also zero-terminated, but a Joliet U+0000
// makes a zero byte inside it, so the length is what counts.
static size_t convert_name(const unsigned char* raw, size_t n, int joliet, char* out) {
    size_t o = 0;
    if (!joliet) {
        for (size_t i = 0; i < n && raw[i] != ';'; ++i) out[o++] = (char)raw[i];
    } else {
        for (size_t i = 0; i + 1 < n; i += 2) {
            unsigned unit = (unsigned)raw[i] << 8 | raw[i + 1];
            if (unit == 0x003B) break;
            if (unit < 0x80) {
                out[o++] = (char)unit;
            } else if (unit < 0x800) {
                out[o++] = (char)(0xC0 | (unit >> 6));
                out[o++] = (char)(0x80 | (unit & 0x3F));
            } else {
                // Surrogates are not paired: each becomes its own sequence.
                out[o++] = (char)(0xE0 | (unit >> 12));
                out[o++] = (char)(0x80 | ((unit >> 6) & 0x3F));
                out[o++] = (char)(0x80 | (unit & 0x3F));
            }
            if (o >= 508) break;
        }
    }
    out[o] = 0;
    return o;
}

static int is_directx(const char* name, size_t length) {
    static const char target[] = "directx";
    if (length != sizeof target - 1) return 0;
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
        if (c != target[i]) return 0;
    }
    return 1;
}

// --- walking ---

// One directory record, as the walk reads it.
struct DirRecord {
    size_t offset;  // of the record within the directory's data
    uint32_t extent, data_length;
    int is_dir;
    const unsigned char* raw_name;
    size_t raw_length;
};

// Reads the record at *p (skipping zero length bytes to the next sector and
// the "." and ".." records) into *record and moves *p past it. 1: a record;
// 0: no more records; -1: damage (a record whose fixed part or name runs
// past the record or the directory).
static int next_record(const unsigned char* records, size_t size, size_t* p, DirRecord* record) {
    while (*p < size) {
        unsigned record_length = records[*p];
        if (record_length == 0) {
            *p = (*p / DISC_USER_SECTOR + 1) * DISC_USER_SECTOR;
            continue;
        }
        if (*p + 33 > size) return -1;
        size_t n = records[*p + 32];
        // The name must lie inside both the record and the directory.
        if (n + 33 > record_length || *p + 33 + n > size) return -1;
        const unsigned char* raw = records + *p + 33;
        record->offset = *p;
        *p += record_length;
        if (n == 1 && (raw[0] == 0 || raw[0] == 1)) continue;
        record->extent = get_le32(records + record->offset + 2);
        record->data_length = get_le32(records + record->offset + 10);
        record->is_dir = (records[record->offset + 25] & 2) != 0;
        record->raw_name = raw;
        record->raw_length = n;
        return 1;
    }
    return 0;
}

// 1 when an extent of length bytes ends beyond the sector limit. Nothing is
// read for a length of 0, so any extent will do then.
static int beyond_limit(const DiscExtraction* extraction, uint32_t extent, uint32_t length) {
    if (!extraction->limited || length == 0) return 0;
    uint64_t end = (uint64_t)extent + ((uint64_t)length + DISC_USER_SECTOR - 1) / DISC_USER_SECTOR;
    return end > extraction->sector_limit;
}

// 1 when the last byte of a file's data lies past the BIN's end.
static int beyond_bin(const DiscExtraction* extraction, uint32_t extent, uint32_t length) {
    if (!extraction->limited || length == 0) return 0;
    uint64_t last = (uint64_t)extent * DISC_USER_SECTOR + length - 1;
    uint64_t offset = last % DISC_USER_SECTOR + last / DISC_USER_SECTOR * DISC_RAW_SECTOR + DISC_USER_OFFSET;
    return offset >= extraction->bin_bytes;
}

// Marks a directory extent as walked; 0 when it was walked before in this
// walk (a directory met twice is damage: real images give every directory
// its own extent).
static int mark_walked(DiscExtraction* extraction, uint32_t extent) {
    if (!extraction->walked || extent >= extraction->walked_sectors) return 1;
    unsigned char bit = (unsigned char)(1u << (extent & 7));
    unsigned char* byte = &extraction->walked[extent >> 3];
    if (*byte & bit) return 0;
    *byte |= bit;
    return 1;
}

// The folded names of one folder. Each entry's key is its name folded, then
// ".PART": the first `trimmed` bytes are the name as Windows compares it
// (trailing dots and spaces dropped), all `length` bytes the name of the
// entry's temporary file.
struct FoldedName {
    const char* key;   // into the folder's key text, set once it is complete
    size_t offset;     // of the key in that text
    uint32_t trimmed, length;
    uint32_t index;    // the entry's place in record order
    int is_dir;
    size_t record;     // the record's offset, to show the name
};

// One name to compare: an entry's own name, or a file's temporary name.
struct NameKey {
    const FoldedName* name;
    int temporary;
};

static size_t key_length(const NameKey* k) { return k->temporary ? k->name->length : k->name->trimmed; }

static int compare_keys(const void* a, const void* b) {
    const NameKey* x = (const NameKey*)a;
    const NameKey* y = (const NameKey*)b;
    size_t lx = key_length(x), ly = key_length(y);
    int c = memcmp(x->name->key, y->name->key, lx < ly ? lx : ly);
    if (c != 0) return c;
    if (lx != ly) return lx < ly ? -1 : 1;
    if (x->name->index != y->name->index) return x->name->index < y->name->index ? -1 : 1;
    return x->temporary - y->temporary;
}

// Counting walk: refuses a folder in which two entries would land on one
// name on Windows, or an entry on another file's temporary file; either
// would lose a file without a word. Sorting the folded names keeps a folder
// of thousands of entries cheap. 1 when the names are apart; 0 with the
// unsafe-name message, or without a message for damage or no memory.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static int check_folder_names(DiscExtraction* extraction, const unsigned char* records, size_t size, int depth) {
    DirRecord record;
    size_t p = 0, count = 0;
    int r;
    while ((r = next_record(records, size, &p, &record)) == 1) ++count;
    if (r < 0) return 0;
    if (count < 2) return 1;

    static const char PART[] = ".PART";  // ".part" folded
    FoldedName* names = (FoldedName*)malloc(count * sizeof *names);
    NameKey* keys = (NameKey*)malloc(count * 2 * sizeof *keys);
    char* text = nullptr;
    size_t text_length = 0, text_capacity = 0;
    int ok = names && keys;
    char name[DISC_NAME_CAPACITY];
    size_t n_names = 0;
    p = 0;
    while (ok && next_record(records, size, &p, &record) == 1) {
        size_t name_length = convert_name(record.raw_name, record.raw_length, extraction->volume->joliet, name);
        // The root "directx" is never written, so it collides with nothing.
        if (record.is_dir && depth == 0 && is_directx(name, name_length)) continue;
        size_t room = name_length * 3 + sizeof PART;
        if (text_capacity - text_length < room) {
            size_t grown = text_capacity * 2 > text_length + room ? text_capacity * 2 : text_length + room;
            char* bigger = (char*)realloc(text, grown);
            if (!bigger) {
                ok = 0;
                break;
            }
            text = bigger;
            text_capacity = grown;
        }
        size_t folded = name_fold(name, name_length, text + text_length, room);
        size_t trimmed = folded;
        while (trimmed > 0 && (text[text_length + trimmed - 1] == '.' || text[text_length + trimmed - 1] == ' '))
            --trimmed;
        memcpy(text + text_length + folded, PART, sizeof PART - 1);
        FoldedName* f = &names[n_names];
        f->offset = text_length;
        f->trimmed = (uint32_t)trimmed;
        f->length = (uint32_t)(folded + sizeof PART - 1);
        f->index = (uint32_t)n_names;
        f->is_dir = record.is_dir;
        f->record = record.offset;
        text_length += folded + sizeof PART - 1;
        ++n_names;
    }
    size_t n_keys = 0;
    if (ok) {
        for (size_t i = 0; i < n_names; ++i) {
            names[i].key = text + names[i].offset;
            keys[n_keys].name = &names[i];
            keys[n_keys++].temporary = 0;
            // Only files are written through a temporary file.
            if (!names[i].is_dir) {
                keys[n_keys].name = &names[i];
                keys[n_keys++].temporary = 1;
            }
        }
        qsort(keys, n_keys, sizeof *keys, compare_keys);
    }
    for (size_t i = 0; ok && i + 1 < n_keys; ++i) {
        size_t length = key_length(&keys[i]);
        size_t j = i + 1;
        while (j < n_keys && key_length(&keys[j]) == length &&
               memcmp(keys[j].name->key, keys[i].name->key, length) == 0)
            ++j;
        if (j == i + 1) continue;
        // Show the entry that would be overwritten or stand in the way:
        // the last named so, else the last whose temporary name collides.
        const FoldedName* shown = nullptr;
        for (size_t k = i; k < j; ++k)
            if (!keys[k].temporary && (!shown || keys[k].name->index > shown->index)) shown = keys[k].name;
        if (!shown) shown = keys[j - 1].name;
        const unsigned char* raw = records + shown->record;
        size_t name_length = convert_name(raw + 33, raw[32], extraction->volume->joliet, name);
        report_unsafe_name(extraction, name, name_length);
        ok = 0;
    }
    free(text);
    free(keys);
    free(names);
    return ok;
}

int walk_directory(DiscExtraction* extraction, uint32_t extent, uint32_t size, const char* folder,
                   int depth) {
    if (depth > DISC_MAX_DEPTH || size > DISC_MAX_DIRECTORY) return 0;
    unsigned char* records = (unsigned char*)malloc(size ? size : 1);
    if (!records) return 0;
    if (size == 0) {
        free(records);
        return 1;
    }
    if (beyond_limit(extraction, extent, size) || !mark_walked(extraction, extent)) {
        free(records);
        return 0;
    }
    if (!read_data_track(extraction->volume, (uint64_t)extent * DISC_USER_SECTOR, records, size)) {
        set_error(extraction->error, extraction->error_capacity,
                  "the disc image's file system is unreadable");
        free(records);
        return 0;
    }
    int ok = extraction->copying || check_folder_names(extraction, records, size, depth);
    size_t p = 0;
    DirRecord record;
    char name[DISC_NAME_CAPACITY];
    char path[PATH_CAPACITY];
    while (ok) {
        int r = next_record(records, size, &p, &record);
        if (r <= 0) {
            ok = r == 0;
            break;
        }
        size_t name_length = convert_name(record.raw_name, record.raw_length, extraction->volume->joliet, name);
        if (disc_name_is_unsafe(name, name_length)) {
            report_unsafe_name(extraction, name, name_length);
            ok = 0;
            break;
        }
        if (record.is_dir && depth == 0 && is_directx(name, name_length)) continue;
        path_join(path, sizeof path, folder, name);
        // A cut path would name another entry; refuse it before anything is
        // copied.
        size_t folder_length = strlen(folder);
        if (folder_length + 1 + name_length >= sizeof path) {
            if (record.is_dir)
                set_error(extraction->error, extraction->error_capacity, "cannot make the folder %s", path);
            else
                set_error(extraction->error, extraction->error_capacity, "cannot write %s", path);
            ok = 0;
            break;
        }
        if (record.is_dir) {
            if (extraction->copying && !make_dirs(path)) {
                set_error(extraction->error, extraction->error_capacity, "cannot make the folder %s", path);
                ok = 0;
                break;
            }
            ok = walk_directory(extraction, record.extent, record.data_length, path, depth + 1);
        } else if (beyond_limit(extraction, record.extent, record.data_length)) {
            ok = 0;  // data in the audio sectors, or past the volume: damage
        } else if (beyond_bin(extraction, record.extent, record.data_length)) {
            set_error(extraction->error, extraction->error_capacity, "the disc image is short or unreadable at %s",
                      path);
            ok = 0;
        } else if (!extraction->copying) {
            extraction->byte_total += record.data_length;
        } else {
            ok = copy_disc_file(extraction, record.extent, record.data_length, path);
        }
    }
    free(records);
    return ok;
}

int copy_disc_file(DiscExtraction* extraction, uint32_t extent, uint32_t length, const char* path) {
    PartFile part;
    if (!part_open(&part, path, PART_KEEP)) {
        set_error(extraction->error, extraction->error_capacity, "cannot write %s", path);
        return 0;
    }
    uint64_t start = (uint64_t)extent * DISC_USER_SECTOR;
    uint32_t copied = 0;
    while (copied < length) {
        uint32_t chunk = length - copied;
        if (chunk > DISC_COPY_CHUNK) chunk = DISC_COPY_CHUNK;
        const char* failure = nullptr;
        if (is_cancelled(extraction->progress.cancel))
            failure = "cancelled";
        else if (!read_data_track(extraction->volume, start + copied, copy_buffer, chunk))
            failure = "the disc image is short or unreadable at %s";
        else if (fwrite(copy_buffer, 1, chunk, part.file) != chunk)
            failure = "cannot write %s";
        if (failure) {
            part_discard(&part);
            set_error(extraction->error, extraction->error_capacity, failure, path);
            return 0;
        }
        copied += chunk;
        extraction->bytes_done += chunk;
        progress_report_part(&extraction->progress, extraction->bytes_done, extraction->byte_total, COPY_STATUS);
    }
    if (!part_commit(&part)) {
        set_error(extraction->error, extraction->error_capacity, "cannot write %s", path);
        return 0;
    }
    return 1;
}

// --- the volume ---

static const unsigned char SYNC[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Finds the root directory in the descriptors of sectors 16..31, preferring
// the first Joliet supplementary descriptor. 1 when a root was found.
// *volume_sectors_out: the volume space size (logical blocks) of the
// descriptor used, or of the primary one when that is smaller.
static int find_root(DiscVolume* volume, uint32_t* extent_out, uint32_t* size_out, uint32_t* volume_sectors_out) {
    unsigned char sector[DISC_USER_SECTOR];
    int have_primary = 0;
    for (uint32_t s = 16; s <= 31; ++s) {
        if (!read_data_track(volume, (uint64_t)s * DISC_USER_SECTOR, sector, sizeof sector)) continue;
        if (memcmp(sector + 1, "CD001", 5) != 0) continue;
        unsigned type = sector[0];
        if (type == 1) {
            if (!have_primary) {
                *extent_out = get_le32(sector + 156 + 2);
                *size_out = get_le32(sector + 156 + 10);
                *volume_sectors_out = get_le32(sector + 80);
                have_primary = 1;
            }
        } else if (type == 2) {
            if (sector[88] == '%' && sector[89] == '/' &&
                (sector[90] == '@' || sector[90] == 'C' || sector[90] == 'E')) {
                *extent_out = get_le32(sector + 156 + 2);
                *size_out = get_le32(sector + 156 + 10);
                uint32_t sectors = get_le32(sector + 80);
                if (!have_primary || sectors < *volume_sectors_out) *volume_sectors_out = sectors;
                volume->joliet = 1;
                return 1;
            }
        } else if (type == 255) {
            break;
        }
    }
    return have_primary;
}

int extract_disc_files(const char* bin_path, const char* target_dir, const Progress* progress, char* error,
                       size_t error_capacity) {
    return extract_disc_track_files(bin_path, 0, target_dir, progress, error, error_capacity);
}

int extract_disc_track_files(const char* bin_path, uint64_t track_end, const char* target_dir,
                             const Progress* progress, char* error, size_t error_capacity) {
    FILE* bin = open_utf8(bin_path, "rb");
    FileStamp stamp;
    if (!bin || !stream_stamp(bin, &stamp)) {
        if (bin) fclose(bin);
        set_error(error, error_capacity, "the BIN is not a raw (MODE1/2352) disc image");
        return 0;
    }
    int ok = extract_disc_files_from(bin, stamp.size, track_end, target_dir, progress, error, error_capacity);
    fclose(bin);
    return ok;
}

// Finds the volume on bin and readies extraction for the counting walk:
// the tree must lie within the volume and the data track (the sectors after
// them are audio, which read as data would be copied as garbage), and every
// directory is read once (the walked bitmap, one bit per sector the BIN can
// hold). 1, or 0 with the message written; extraction->walked is the
// caller's to free either way.
static int open_extraction(DiscExtraction* extraction, DiscVolume* volume, FILE* bin, uint64_t bin_size,
                           uint64_t track_end, uint32_t* root_extent, uint32_t* root_size, char* error,
                           size_t error_capacity) {
    volume->file = bin;
    volume->joliet = 0;
    unsigned char head[12];
    if (!seek_to(bin, 0) || fread(head, 1, sizeof head, volume->file) != sizeof head ||
        memcmp(head, SYNC, sizeof SYNC) != 0) {
        set_error(error, error_capacity, "the BIN is not a raw (MODE1/2352) disc image");
        return 0;
    }
    uint32_t volume_sectors = 0;
    if (!find_root(volume, root_extent, root_size, &volume_sectors)) {
        set_error(error, error_capacity, "the BIN's data track has no ISO 9660 file system");
        return 0;
    }
    extraction->volume = volume;
    extraction->error = error;
    extraction->error_capacity = error_capacity;
    extraction->copying = 0;
    extraction->limited = 1;
    extraction->sector_limit = volume_sectors;
    if (track_end != 0 && track_end < extraction->sector_limit) extraction->sector_limit = track_end;
    extraction->bin_bytes = bin_size;
    const uint64_t sectors = bin_size / DISC_RAW_SECTOR + 1;
    extraction->walked = (unsigned char*)calloc((size_t)((sectors + 7) / 8), 1);
    extraction->walked_sectors = sectors;
    return extraction->walked != nullptr;
}

// The message for a walk that failed without one.
static int walk_failed(char* error, size_t error_capacity) {
    if (error && error_capacity > 0 && error[0] == 0)
        set_error(error, error_capacity, "the BIN's file system is damaged");
    return 0;
}

int count_disc_files_from(FILE* bin, uint64_t bin_size, uint64_t track_end, uint64_t* bytes_out, char* error,
                          size_t error_capacity) {
    DiscVolume volume;
    DiscExtraction extraction = {};
    uint32_t root_extent = 0, root_size = 0;
    int ok = open_extraction(&extraction, &volume, bin, bin_size, track_end, &root_extent, &root_size, error,
                             error_capacity);
    // The counting walk composes paths but writes nothing; any folder name serves.
    if (ok) ok = walk_directory(&extraction, root_extent, root_size, "disc", 0);
    free(extraction.walked);
    if (!ok) return walk_failed(error, error_capacity);
    *bytes_out = extraction.byte_total;
    return 1;
}

int extract_disc_files_from(FILE* bin, uint64_t bin_size, uint64_t track_end, const char* target_dir,
                            const Progress* progress, char* error, size_t error_capacity) {
    DiscVolume volume;
    DiscExtraction extraction = {};
    if (progress) extraction.progress = *progress;
    uint32_t root_extent = 0, root_size = 0;
    int ok = open_extraction(&extraction, &volume, bin, bin_size, track_end, &root_extent, &root_size, error,
                             error_capacity);
    if (ok) ok = walk_directory(&extraction, root_extent, root_size, target_dir, 0);
    extraction.copying = 1;
    if (ok) ok = make_dirs(target_dir);
    if (ok) {
        memset(extraction.walked, 0, (size_t)((extraction.walked_sectors + 7) / 8));
        ok = walk_directory(&extraction, root_extent, root_size, target_dir, 0);
    }
    free(extraction.walked);
    return ok ? 1 : walk_failed(error, error_capacity);
}
