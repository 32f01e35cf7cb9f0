#include "disc/volume_builder.h"

#include <string.h>

#include "support/test_support.h"

namespace kt {

Node file_node(const std::string& name, const std::string& data) {
    Node n;
    n.name = name;
    n.data = data;
    return n;
}

Node dir_node(const std::string& name, std::vector<Node> kids) {
    Node n;
    n.name = name;
    n.dir = true;
    n.kids = std::move(kids);
    return n;
}

std::string ucs2(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        unsigned u;
        if (c < 0x80) {
            u = c;
            i += 1;
        } else if (c < 0xE0) {
            u = (c & 0x1Fu) << 6 | ((unsigned char)utf8[i + 1] & 0x3Fu);
            i += 2;
        } else {
            u = (c & 0x0Fu) << 12 | ((unsigned char)utf8[i + 1] & 0x3Fu) << 6 |
                ((unsigned char)utf8[i + 2] & 0x3Fu);
            i += 3;
        }
        out += (char)(u >> 8);
        out += (char)(u & 0xFF);
    }
    return out;
}

static void put32(unsigned char* p, uint32_t v) {
    // Both-endian field: little-endian then big-endian.
    for (int i = 0; i < 4; ++i) {
        p[i] = (unsigned char)(v >> (8 * i));
        p[7 - i] = (unsigned char)(v >> (8 * i));
    }
}

std::string dir_record(const std::string& name, uint32_t extent, uint32_t size, bool dir) {
    size_t n = name.size();
    size_t length = 33 + n + (n % 2 == 0 ? 1 : 0);
    std::string r(length, '\0');
    unsigned char* p = (unsigned char*)&r[0];
    p[0] = (unsigned char)length;
    put32(p + 2, extent);
    put32(p + 10, size);
    p[25] = dir ? 2 : 0;
    p[28] = 1;  // volume sequence number
    p[32] = (unsigned char)n;
    memcpy(p + 33, name.data(), n);
    return r;
}

VolumeBuilder::VolumeBuilder() : user(32 * 2048, 0) {}

uint32_t VolumeBuilder::add_data(const std::string& data) {
    uint32_t extent = sectors();
    size_t count = (data.size() + 2047) / 2048;
    user.resize(user.size() + count * 2048, 0);
    if (!data.empty()) memcpy(&user[(size_t)extent * 2048], data.data(), data.size());
    return extent;
}

// Offsets of the records of a directory, laid out so that no record crosses
// a sector boundary; returns the directory's size (whole sectors).
static uint32_t layout(const Node& d, std::vector<uint32_t>* offsets) {
    uint32_t p = 0;
    auto place = [&](size_t length, bool fresh) {
        if (fresh && p % 2048) p = (p / 2048 + 1) * 2048;
        if (p % 2048 + length > 2048) p = (p / 2048 + 1) * 2048;
        offsets->push_back(p);
        p += (uint32_t)length;
    };
    place(34, false);
    place(34, false);
    for (const Node& k : d.kids) place(dir_record(k.name, 0, 0, k.dir).size(), k.new_sector);
    return (p + 2047) / 2048 * 2048;
}

DirRef VolumeBuilder::add_tree(const Node& root) {
    std::vector<uint32_t> offsets;
    DirRef self;
    self.size = layout(root, &offsets);
    self.extent = sectors();
    user.resize(user.size() + self.size, 0);
    std::vector<DirRef> refs;
    for (const Node& k : root.kids) {
        if (k.dir) {
            refs.push_back(add_tree(k));
        } else {
            DirRef r;
            r.extent = add_data(k.data);
            r.size = (uint32_t)k.data.size();
            refs.push_back(r);
        }
    }
    unsigned char* base = &user[(size_t)self.extent * 2048];
    std::string dot = dir_record(std::string(1, '\0'), self.extent, self.size, true);
    std::string dotdot = dir_record(std::string(1, '\1'), self.extent, self.size, true);
    memcpy(base + offsets[0], dot.data(), dot.size());
    memcpy(base + offsets[1], dotdot.data(), dotdot.size());
    for (size_t i = 0; i < root.kids.size(); ++i) {
        std::string r = dir_record(root.kids[i].name, refs[i].extent, refs[i].size, root.kids[i].dir);
        memcpy(base + offsets[i + 2], r.data(), r.size());
    }
    return self;
}

void VolumeBuilder::descriptor(uint32_t s, int type, DirRef root, const std::string& escape) {
    while (sectors() <= s) user.resize(user.size() + 2048, 0);
    unsigned char* d = at(s);
    memset(d, 0, 2048);
    d[0] = (unsigned char)type;
    memcpy(d + 1, "CD001", 5);
    d[6] = 1;
    memcpy(d + 88, escape.data(), escape.size() < 32 ? escape.size() : 32);
    std::string r = dir_record(std::string(1, '\0'), root.extent, root.size, true);
    memcpy(d + 156, r.data(), 34);
}

void VolumeBuilder::terminator(uint32_t s) {
    while (sectors() <= s) user.resize(user.size() + 2048, 0);
    unsigned char* d = at(s);
    memset(d, 0, 2048);
    d[0] = 255;
    memcpy(d + 1, "CD001", 5);
    d[6] = 1;
}

std::vector<unsigned char> VolumeBuilder::raw() const {
    uint32_t n = sectors();
    std::vector<unsigned char> out((size_t)n * 2352, 0);
    for (uint32_t s = 0; s < n; ++s) {
        unsigned char* o = &out[(size_t)s * 2352];
        memset(o + 1, 0xFF, 10);
        uint32_t a = s + 150;
        o[12] = (unsigned char)((a / 4500 / 10) << 4 | (a / 4500 % 10));
        o[13] = (unsigned char)((a / 75 % 60 / 10) << 4 | (a / 75 % 60 % 10));
        o[14] = (unsigned char)((a % 75 / 10) << 4 | (a % 75 % 10));
        o[15] = 1;
        memcpy(o + 16, &user[(size_t)s * 2048], 2048);
        unsigned char* d = o + 16;
        if (s >= 16 && s <= 31 && (d[0] == 1 || d[0] == 2) && memcmp(d + 1, "CD001", 5) == 0)
            put32(d + 80, volume_sectors ? volume_sectors : n);
    }
    return out;
}

void VolumeBuilder::write_raw(const std::string& path) const { write_file(path, raw()); }

}  // namespace kt
