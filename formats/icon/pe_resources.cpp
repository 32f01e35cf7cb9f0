// PE resource reader and writer over an in-memory image (see pe_resources.h).
//
// Format facts used here (PE/COFF): "MZ" at 0 and the PE header offset
// (e_lfanew) at 0x3C; "PE\0\0", then the 20-byte file header (sections count
// at +6, PointerToSymbolTable at +8, SizeOfOptionalHeader at +16); the
// optional header (magic 0x10B PE32 or 0x20B PE32+) with
// SizeOfInitializedData at +8, SectionAlignment +32, FileAlignment +36,
// SizeOfImage +56, SizeOfHeaders +60, CheckSum +64, and the data directories
// at +96 (PE32) or +112 (PE32+), their count just before them. Section
// headers are 40 bytes. Resource directory tables: 16-byte header (named
// count at +12, id count at +14), then 8-byte entries (name or id, then an
// offset whose high bit marks a subdirectory); data entries are 16 bytes
// (RVA, size, code page, reserved). All offsets in the tree are relative to
// the start of the resource directory; data RVAs are image-relative.
#include "formats/icon/pe_resources.h"
#include "base/bytes.h"

#include <stdlib.h>
#include <string.h>

enum {
    DIR_CERTIFICATE = 4,
    DIR_RESOURCE = 2,
    DIR_DEBUG = 6,
    SECTION_HEADER_SIZE = 40,
    RES_SUBDIR = 0x80000000u,
    // A tree can share subdirectories, so its leaf count is not bounded by
    // its size; this keeps a hostile one from exhausting memory.
    MAX_LEAVES = 1 << 18,
};

static uint64_t align_up(uint64_t v, uint64_t a) { return (v + a - 1) & ~(a - 1); }
static int is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Where the parts of the headers are; every field is inside the file.
struct PeLayout {
    size_t pe;
    size_t opt;
    uint32_t opt_size;
    size_t dirs;        // first data directory
    uint32_t dir_count; // usable data directories (inside the optional header)
    size_t sections;    // section table
    uint32_t section_count;
    uint32_t file_align;
    uint32_t section_align;
    uint64_t raw_end;     // end of the last section's raw data: overlay starts here
    uint64_t virtual_end; // end of the last section in memory, aligned
};

static int parse_layout(const unsigned char* image, size_t size, PeLayout* L) {
    memset(L, 0, sizeof *L);
    if (size < 64 || image[0] != 'M' || image[1] != 'Z') return 0;
    uint64_t pe = get_le32(image + 0x3C);
    if (pe + 24 > size) return 0;
    if (memcmp(image + pe, "PE\0\0", 4) != 0) return 0;
    L->pe = (size_t)pe;
    L->section_count = get_le16(image + pe + 6);
    L->opt_size = get_le16(image + pe + 20);
    L->opt = L->pe + 24;
    if ((uint64_t)L->opt + L->opt_size > size || L->opt_size < 2) return 0;
    uint16_t magic = get_le16(image + L->opt);
    uint32_t dirs_at;
    if (magic == 0x10B)
        dirs_at = 96;
    else if (magic == 0x20B)
        dirs_at = 112;
    else
        return 0;
    if (L->opt_size < dirs_at) return 0;
    L->dirs = L->opt + dirs_at;
    uint32_t declared = get_le32(image + L->dirs - 4);
    uint32_t room = (L->opt_size - dirs_at) / 8;
    L->dir_count = declared < room ? declared : room;
    L->file_align = get_le32(image + L->opt + 36);
    L->section_align = get_le32(image + L->opt + 32);
    L->sections = L->opt + L->opt_size;
    if ((uint64_t)L->sections + (uint64_t)SECTION_HEADER_SIZE * L->section_count > size) return 0;
    uint64_t headers = get_le32(image + L->opt + 60);
    uint64_t table_end = (uint64_t)L->sections + (uint64_t)SECTION_HEADER_SIZE * L->section_count;
    L->raw_end = headers > table_end ? headers : table_end;
    if (L->raw_end > size) L->raw_end = size;
    for (uint32_t i = 0; i < L->section_count; ++i) {
        const unsigned char* s = image + L->sections + (size_t)SECTION_HEADER_SIZE * i;
        uint64_t vsize = get_le32(s + 8), va = get_le32(s + 12), raw = get_le32(s + 16), ptr = get_le32(s + 20);
        if (raw != 0) {
            if (ptr + raw > size) return 0;
            if (ptr + raw > L->raw_end) L->raw_end = ptr + raw;
        }
        // A section claims the larger of its memory and file sizes (the
        // readers here map RVAs through the file size), and at least one
        // byte: a section added after the last must overlap none of them.
        uint64_t span = vsize > raw ? vsize : raw ? raw : 1;
        uint64_t end = va + span;
        if (is_power_of_two(L->section_align)) end = align_up(end, L->section_align);
        if (end > L->virtual_end) L->virtual_end = end;
    }
    return 1;
}

static const unsigned char* section_header(const unsigned char* image, const PeLayout* L, uint32_t i) {
    return image + L->sections + (size_t)SECTION_HEADER_SIZE * i;
}

// File offset of [rva, rva + length) when those bytes are stored in the file
// inside one section's raw data. The first section that holds them wins.
static int map_rva(const unsigned char* image, size_t size, const PeLayout* L, uint64_t rva, uint64_t length,
                   uint64_t* offset, uint64_t* available) {
    for (uint32_t i = 0; i < L->section_count; ++i) {
        const unsigned char* s = section_header(image, L, i);
        uint64_t va = get_le32(s + 12), raw = get_le32(s + 16), ptr = get_le32(s + 20);
        if (rva < va || rva - va >= raw) continue;
        uint64_t inside = rva - va;
        if (inside + length > raw || ptr + raw > size) continue;
        *offset = ptr + inside;
        if (available) *available = raw - inside;
        return 1;
    }
    return 0;
}

// --- reading the resource tree ---

// One level's key: an id, or a counted UTF-16 string (length word, units)
// kept as its raw bytes.
struct ResKey {
    const unsigned char* str;  // null for an id
    uint32_t units;
    uint16_t id;
};

struct ResLeaf {
    ResKey key[3];
    const unsigned char* data;
    uint32_t size;
    uint32_t codepage;
    size_t order;  // position in the input, for a stable sort
};

struct ResTree {
    ResLeaf* leaves;
    size_t count;
    size_t capacity;
    size_t visits;  // directory entries read, shared ones once per path
};

// The directory bytes: base .. base + limit of the file.
struct ResRegion {
    const unsigned char* image;
    size_t size;
    const PeLayout* layout;
    uint64_t base;
    uint64_t limit;
};

static int push_leaf(ResTree* tree, const ResLeaf* leaf) {
    if (tree->count == tree->capacity) {
        if (tree->count >= MAX_LEAVES) return 0;
        size_t cap = tree->capacity ? tree->capacity * 2 : 16;
        ResLeaf* grown = (ResLeaf*)realloc(tree->leaves, cap * sizeof(ResLeaf));
        if (!grown) return 0;
        tree->leaves = grown;
        tree->capacity = cap;
    }
    tree->leaves[tree->count] = *leaf;
    tree->leaves[tree->count].order = tree->count;
    tree->count++;
    return 1;
}

static int read_key(const ResRegion* r, uint32_t field, ResKey* key) {
    memset(key, 0, sizeof *key);
    if (!(field & RES_SUBDIR)) {
        if (field > 0xFFFF) return 0;
        key->id = (uint16_t)field;
        return 1;
    }
    uint64_t at = field & ~RES_SUBDIR;
    if (at + 2 > r->limit) return 0;
    const unsigned char* p = r->image + r->base + at;
    uint32_t units = get_le16(p);
    if (at + 2 + 2ull * units > r->limit) return 0;
    key->str = p;
    key->units = units;
    return 1;
}

// Reads the directory table at offset `at` (level 0 = types, 1 = names,
// 2 = languages). The depth is fixed, so a tree that loops back on itself
// ends at level 2 (its entries must be data entries) instead of recursing.
static int read_directory(const ResRegion* r, uint64_t at, int level, ResLeaf* path, ResTree* tree) {
    if (at + 16 > r->limit) return 0;
    const unsigned char* dir = r->image + r->base + at;
    uint64_t entries = (uint64_t)get_le16(dir + 12) + get_le16(dir + 14);
    if (at + 16 + 8 * entries > r->limit) return 0;
    for (uint64_t e = 0; e < entries; ++e) {
        if (++tree->visits > 4 * (size_t)MAX_LEAVES) return 0;
        const unsigned char* entry = dir + 16 + 8 * e;
        if (!read_key(r, get_le32(entry), &path->key[level])) return 0;
        uint32_t target = get_le32(entry + 4);
        if (level < 2) {
            if (!(target & RES_SUBDIR)) return 0;
            if (!read_directory(r, target & ~RES_SUBDIR, level + 1, path, tree)) return 0;
            continue;
        }
        if (target & RES_SUBDIR) return 0;
        if ((uint64_t)target + 16 > r->limit) return 0;
        const unsigned char* data_entry = r->image + r->base + target;
        uint32_t rva = get_le32(data_entry), length = get_le32(data_entry + 4);
        uint64_t offset = 0;
        if (!map_rva(r->image, r->size, r->layout, rva, length, &offset, nullptr)) return 0;
        path->data = r->image + offset;
        path->size = length;
        path->codepage = get_le32(data_entry + 8);
        if (!push_leaf(tree, path)) return 0;
    }
    return 1;
}

// Fills tree with every leaf of the image's resources (none when it has no
// resource directory). 0 when the tree is malformed.
static int read_tree(const unsigned char* image, size_t size, const PeLayout* L, ResTree* tree) {
    memset(tree, 0, sizeof *tree);
    if (L->dir_count <= DIR_RESOURCE) return 1;
    const unsigned char* d = image + L->dirs + 8 * DIR_RESOURCE;
    uint32_t rva = get_le32(d), length = get_le32(d + 4);
    if (rva == 0 && length == 0) return 1;
    ResRegion r = {image, size, L, 0, 0};
    if (!map_rva(image, size, L, rva, 16, &r.base, &r.limit)) return 0;
    ResLeaf path;
    memset(&path, 0, sizeof path);
    if (!read_directory(&r, 0, 0, &path, tree)) {
        free(tree->leaves);
        memset(tree, 0, sizeof *tree);
        return 0;
    }
    return 1;
}

// --- writing the resource tree ---

// Named keys come before ids; names compare by UTF-16 units, ids by value.
static int compare_key(const ResKey* a, const ResKey* b) {
    if (a->str && !b->str) return -1;
    if (!a->str && b->str) return 1;
    if (!a->str) return a->id < b->id ? -1 : a->id > b->id;
    uint32_t n = a->units < b->units ? a->units : b->units;
    for (uint32_t i = 0; i < n; ++i) {
        uint16_t x = get_le16(a->str + 2 + 2 * i), y = get_le16(b->str + 2 + 2 * i);
        if (x != y) return x < y ? -1 : 1;
    }
    return a->units < b->units ? -1 : a->units > b->units;
}

static int compare_leaf_keys(const ResLeaf* a, const ResLeaf* b, int levels) {
    for (int k = 0; k < levels; ++k) {
        int c = compare_key(&a->key[k], &b->key[k]);
        if (c) return c;
    }
    return 0;
}

static int compare_leaves(const void* pa, const void* pb) {
    const ResLeaf* a = (const ResLeaf*)pa;
    const ResLeaf* b = (const ResLeaf*)pb;
    int c = compare_leaf_keys(a, b, 3);
    if (c) return c;
    return a->order < b->order ? -1 : a->order > b->order;
}

static uint64_t key_string_bytes(const ResKey* key) { return key->str ? 2 + 2ull * key->units : 0; }

static uint32_t key_field(const ResKey* key, uint64_t* string_cursor, unsigned char* out) {
    if (!key->str) return key->id;
    uint64_t at = *string_cursor;
    memcpy(out + at, key->str, (size_t)key_string_bytes(key));
    *string_cursor += key_string_bytes(key);
    return RES_SUBDIR | (uint32_t)at;
}

// Size of the section built from sorted leaves, or 0 when too big.
struct TreeShape {
    uint64_t types, names, strings, data, total;
    uint64_t type_base, name_base, entry_base, string_base, data_base;
};

static int measure_tree(const ResTree* tree, TreeShape* t) {
    memset(t, 0, sizeof *t);
    for (size_t i = 0; i < tree->count; ++i) {
        const ResLeaf* leaf = &tree->leaves[i];
        const ResLeaf* prev = i ? &tree->leaves[i - 1] : nullptr;
        int new_type = !prev || compare_leaf_keys(prev, leaf, 1) != 0;
        int new_name = new_type || compare_leaf_keys(prev, leaf, 2) != 0;
        if (new_type) {
            t->types++;
            t->strings += key_string_bytes(&leaf->key[0]);
        }
        if (new_name) {
            t->names++;
            t->strings += key_string_bytes(&leaf->key[1]);
        }
        t->strings += key_string_bytes(&leaf->key[2]);
        t->data = align_up(t->data, 8) + leaf->size;
    }
    uint64_t leaves = tree->count;
    t->type_base = 16 + 8 * t->types;
    t->name_base = t->type_base + 16 * t->types + 8 * t->names;
    t->entry_base = t->name_base + 16 * t->names + 8 * leaves;
    t->string_base = t->entry_base + 16 * leaves;
    t->data_base = align_up(t->string_base + t->strings, 8);
    t->total = t->data_base + t->data;
    return t->total < 0x40000000u;
}

static void write_dir_header(unsigned char* at, const ResLeaf* first, size_t count, int level, int group_levels) {
    // Count the distinct children and how many of them are named.
    uint32_t named = 0, ids = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i && compare_leaf_keys(&first[i - 1], &first[i], group_levels) == 0) continue;
        if (first[i].key[level].str)
            named++;
        else
            ids++;
    }
    memset(at, 0, 16);
    put_le16(at + 12, named);
    put_le16(at + 14, ids);
}

// Writes the tree into out[0..t->total), data RVAs based at section_rva.
static void write_tree(const ResTree* tree, const TreeShape* t, uint32_t section_rva, unsigned char* out) {
    memset(out, 0, (size_t)t->total);
    uint64_t type_cursor = t->type_base, name_cursor = t->name_base, entry_cursor = t->entry_base;
    uint64_t string_cursor = t->string_base, data_cursor = t->data_base;
    uint64_t root_slot = 16, type_slot = 0, name_slot = 0;
    write_dir_header(out, tree->leaves, tree->count, 0, 1);
    size_t i = 0;
    while (i < tree->count) {
        size_t type_end = i;
        while (type_end < tree->count && compare_leaf_keys(&tree->leaves[i], &tree->leaves[type_end], 1) == 0)
            type_end++;
        put_le32(out + root_slot, key_field(&tree->leaves[i].key[0], &string_cursor, out));
        put_le32(out + root_slot + 4, RES_SUBDIR | (uint32_t)type_cursor);
        root_slot += 8;
        write_dir_header(out + type_cursor, tree->leaves + i, type_end - i, 1, 2);
        type_slot = type_cursor + 16;
        uint32_t names_here = get_le16(out + type_cursor + 12) + get_le16(out + type_cursor + 14);
        type_cursor += 16 + 8ull * names_here;
        while (i < type_end) {
            size_t name_end = i;
            while (name_end < type_end && compare_leaf_keys(&tree->leaves[i], &tree->leaves[name_end], 2) == 0)
                name_end++;
            put_le32(out + type_slot, key_field(&tree->leaves[i].key[1], &string_cursor, out));
            put_le32(out + type_slot + 4, RES_SUBDIR | (uint32_t)name_cursor);
            type_slot += 8;
            unsigned char* name_dir = out + name_cursor;
            memset(name_dir, 0, 16);
            uint32_t named = 0;
            for (size_t k = i; k < name_end; ++k) named += tree->leaves[k].key[2].str != nullptr;
            put_le16(name_dir + 12, named);
            put_le16(name_dir + 14, (uint32_t)(name_end - i) - named);
            name_slot = name_cursor + 16;
            name_cursor += 16 + 8ull * (name_end - i);
            for (; i < name_end; ++i) {
                const ResLeaf* leaf = &tree->leaves[i];
                put_le32(out + name_slot, key_field(&leaf->key[2], &string_cursor, out));
                put_le32(out + name_slot + 4, (uint32_t)entry_cursor);
                name_slot += 8;
                data_cursor = align_up(data_cursor, 8);
                unsigned char* entry = out + entry_cursor;
                put_le32(entry, section_rva + (uint32_t)data_cursor);
                put_le32(entry + 4, leaf->size);
                put_le32(entry + 8, leaf->codepage);
                put_le32(entry + 12, 0);
                entry_cursor += 16;
                if (leaf->size) memcpy(out + data_cursor, leaf->data, leaf->size);
                data_cursor += leaf->size;
            }
        }
    }
}

uint32_t pe_checksum(const unsigned char* image, size_t size) {
    PeLayout L;
    if (!parse_layout(image, size, &L)) return 0;
    size_t field = L.opt + 64;
    uint64_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        if (i == field || i == field + 2) continue;
        uint32_t word = image[i] | (i + 1 < size ? image[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + size);
}

// Does section i hold nothing but the resource directory, last in the file
// and in memory, so that it can be rewritten where it stands?
static int resource_section_is_last(const unsigned char* image, const PeLayout* L, uint32_t* index) {
    if (L->dir_count <= DIR_RESOURCE) return 0;
    uint32_t rva = get_le32(image + L->dirs + 8 * DIR_RESOURCE);
    if (rva == 0 || L->section_count == 0) return 0;
    for (uint32_t i = 0; i < L->section_count; ++i) {
        const unsigned char* s = section_header(image, L, i);
        if (memcmp(s, ".rsrc\0\0\0", 8) != 0 || get_le32(s + 12) != rva) continue;
        uint64_t vsize = get_le32(s + 8), raw = get_le32(s + 16), ptr = get_le32(s + 20);
        uint64_t end = align_up(rva + (vsize ? vsize : raw), L->section_align);
        if (end != L->virtual_end || raw == 0 || ptr + raw != L->raw_end) return 0;
        for (uint32_t j = 0; j < L->section_count; ++j) {
            if (j == i) continue;
            const unsigned char* o = section_header(image, L, j);
            uint64_t oraw = get_le32(o + 16), optr = get_le32(o + 20);
            if (oraw && optr + oraw > ptr) return 0;
            if ((uint64_t)get_le32(o + 12) >= rva) return 0;
        }
        *index = i;
        return 1;
    }
    return 0;
}

static int apply_updates(ResTree* tree, const PeResourceUpdate* updates, size_t count) {
    for (size_t u = 0; u < count; ++u) {
        const PeResourceUpdate* up = &updates[u];
        if (up->size && !up->data) return 0;
        size_t kept = 0;
        for (size_t i = 0; i < tree->count; ++i) {
            const ResLeaf* leaf = &tree->leaves[i];
            int same = !leaf->key[0].str && !leaf->key[1].str && !leaf->key[2].str && leaf->key[0].id == up->type &&
                       leaf->key[1].id == up->name && leaf->key[2].id == up->language;
            if (!same) tree->leaves[kept++] = *leaf;
        }
        tree->count = kept;
        ResLeaf leaf;
        memset(&leaf, 0, sizeof leaf);
        leaf.key[0].id = up->type;
        leaf.key[1].id = up->name;
        leaf.key[2].id = up->language;
        leaf.data = up->data;
        leaf.size = up->size;
        if (!push_leaf(tree, &leaf)) return 0;
    }
    // Orders stay unique: push_leaf numbers by position, and later pushes
    // only come after earlier ones.
    for (size_t i = 0; i < tree->count; ++i) tree->leaves[i].order = i;
    return 1;
}

int pe_update_resources(const unsigned char* image, size_t size, const PeResourceUpdate* updates, size_t count,
                        unsigned char** out, size_t* out_size) {
    *out = nullptr;
    *out_size = 0;
    PeLayout L;
    if (!image || !parse_layout(image, size, &L)) return 0;
    if (L.dir_count <= DIR_RESOURCE) return 0;
    if (!is_power_of_two(L.file_align) || L.file_align > 0x10000 || !is_power_of_two(L.section_align) ||
        L.section_align < L.file_align)
        return 0;

    ResTree tree;
    if (!read_tree(image, size, &L, &tree)) return 0;
    int ok = 0;
    unsigned char* result = nullptr;
    do {
        if (!apply_updates(&tree, updates, count)) break;
        if (tree.count) qsort(tree.leaves, tree.count, sizeof(ResLeaf), compare_leaves);
        TreeShape shape;
        if (!measure_tree(&tree, &shape)) break;

        uint32_t in_place = 0;
        int rewrite = resource_section_is_last(image, &L, &in_place);
        uint32_t index = rewrite ? in_place : L.section_count;
        uint64_t section_rva, raw_ptr, old_raw = 0;
        if (rewrite) {
            const unsigned char* s = section_header(image, &L, index);
            section_rva = get_le32(s + 12);
            raw_ptr = get_le32(s + 20);
            old_raw = get_le32(s + 16);
        } else {
            // One more section header must fit in zero bytes before the
            // headers' end and before any section's data.
            uint64_t slot = L.sections + (uint64_t)SECTION_HEADER_SIZE * L.section_count;
            uint64_t headers = get_le32(image + L.opt + 60);
            if (slot + SECTION_HEADER_SIZE > headers || slot + SECTION_HEADER_SIZE > size) break;
            int clear = 1;
            for (uint64_t b = slot; b < slot + SECTION_HEADER_SIZE; ++b) clear &= image[b] == 0;
            for (uint32_t i = 0; i < L.section_count; ++i) {
                const unsigned char* s = section_header(image, &L, i);
                if (get_le32(s + 16) && get_le32(s + 20) < slot + SECTION_HEADER_SIZE) clear = 0;
            }
            if (!clear || L.section_count >= 0xFFFF) break;
            section_rva = L.virtual_end;
            uint64_t after_headers = align_up(headers, L.section_align);
            if (section_rva < after_headers) section_rva = after_headers;
            raw_ptr = align_up(L.raw_end, L.file_align);
        }
        uint64_t raw_size = align_up(shape.total, L.file_align);
        uint64_t overlay = size - L.raw_end;
        uint64_t overlay_at = raw_ptr + raw_size;
        uint64_t new_size = overlay_at + overlay;
        uint64_t image_size = align_up(section_rva + shape.total, L.section_align);
        // Every file offset in the headers is 32 bits wide.
        if (section_rva + shape.total > 0xFFFFFFFFu || image_size > 0xFFFFFFFFu || new_size > 0xFFFFFFFFu ||
            new_size > (uint64_t)SIZE_MAX)
            break;
        int64_t shift = (int64_t)overlay_at - (int64_t)L.raw_end;

        result = (unsigned char*)calloc(1, (size_t)new_size ? (size_t)new_size : 1);
        if (!result) break;
        uint64_t kept = rewrite ? raw_ptr : L.raw_end;
        memcpy(result, image, (size_t)kept);
        write_tree(&tree, &shape, (uint32_t)section_rva, result + raw_ptr);
        if (overlay) memcpy(result + overlay_at, image + L.raw_end, (size_t)overlay);

        unsigned char* s = result + L.sections + (size_t)SECTION_HEADER_SIZE * index;
        if (!rewrite) {
            memcpy(s, ".rsrc\0\0\0", 8);
            put_le32(s + 12, (uint32_t)section_rva);
            put_le32(s + 20, (uint32_t)raw_ptr);
            put_le32(s + 36, 0x40000040u);  // initialized data, readable
            put_le16(result + L.pe + 6, L.section_count + 1);
        }
        put_le32(s + 8, (uint32_t)shape.total);
        put_le32(s + 16, (uint32_t)raw_size);
        unsigned char* dirs = result + L.dirs;
        put_le32(dirs + 8 * DIR_RESOURCE, (uint32_t)section_rva);
        put_le32(dirs + 8 * DIR_RESOURCE + 4, (uint32_t)shape.total);
        put_le32(result + L.opt + 56, (uint32_t)image_size);
        int64_t initialized = (int64_t)get_le32(image + L.opt + 8) - (int64_t)old_raw + (int64_t)raw_size;
        if (initialized < 0) initialized = 0;
        if (initialized > 0xFFFFFFFF) initialized = 0xFFFFFFFF;
        put_le32(result + L.opt + 8, (uint32_t)initialized);

        // File offsets into the overlay move with it.
        uint64_t symbols = get_le32(image + L.pe + 12);
        if (symbols && symbols >= L.raw_end) put_le32(result + L.pe + 12, (uint32_t)(symbols + shift));
        if (L.dir_count > DIR_CERTIFICATE) {
            uint64_t cert = get_le32(image + L.dirs + 8 * DIR_CERTIFICATE);
            if (cert && cert >= L.raw_end) put_le32(dirs + 8 * DIR_CERTIFICATE, (uint32_t)(cert + shift));
        }
        if (L.dir_count > DIR_DEBUG) {
            uint64_t rva = get_le32(image + L.dirs + 8 * DIR_DEBUG), length = get_le32(image + L.dirs + 8 * DIR_DEBUG + 4);
            uint64_t at = 0;
            if (rva && length >= 28 && map_rva(image, size, &L, rva, length, &at, nullptr) && at + length <= kept) {
                for (uint64_t e = 0; e + 28 <= length; e += 28) {
                    uint64_t pointer = get_le32(image + at + e + 24);
                    if (pointer && pointer >= L.raw_end) put_le32(result + at + e + 24, (uint32_t)(pointer + shift));
                }
            }
        }
        if (get_le32(image + L.opt + 64) != 0) put_le32(result + L.opt + 64, pe_checksum(result, (size_t)new_size));
        *out = result;
        *out_size = (size_t)new_size;
        result = nullptr;
        ok = 1;
    } while (0);
    free(result);
    free(tree.leaves);
    return ok;
}

int pe_find_resource(const unsigned char* image, size_t size, uint16_t type, uint16_t name, uint16_t language,
                     size_t* offset, uint32_t* length) {
    PeLayout L;
    ResTree tree;
    if (!image || !parse_layout(image, size, &L) || !read_tree(image, size, &L, &tree)) return 0;
    int found = 0;
    for (size_t i = 0; i < tree.count && !found; ++i) {
        const ResLeaf* leaf = &tree.leaves[i];
        if (leaf->key[0].str || leaf->key[1].str || leaf->key[2].str) continue;
        if (leaf->key[0].id != type || leaf->key[1].id != name || leaf->key[2].id != language) continue;
        *offset = (size_t)(leaf->data - image);
        *length = leaf->size;
        found = 1;
    }
    free(tree.leaves);
    return found;
}

long pe_count_resources(const unsigned char* image, size_t size) {
    PeLayout L;
    ResTree tree;
    if (!image || !parse_layout(image, size, &L) || !read_tree(image, size, &L, &tree)) return -1;
    long n = (long)tree.count;
    free(tree.leaves);
    return n;
}
