// Builds small ISO 9660 volumes in memory for the disc reader's tests, so
// that every record can be placed, or spoiled, byte by byte. Sectors 0..31
// start zero (no descriptors); directories and file data go after them.
#ifndef KELVORN_TESTS_DISC_VOLUME_BUILDER_H
#define KELVORN_TESTS_DISC_VOLUME_BUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace kt {

// One entry of a tree. name holds the bytes as recorded on disc (a primary
// name with its ";1", or UCS-2 big-endian for Joliet: see ucs2()).
struct Node {
    std::string name;
    bool dir = false;
    std::string data;            // file content
    std::vector<Node> kids;      // directory entries, in record order
    bool new_sector = false;     // start this record in a fresh sector,
                                 // leaving a zero length byte before it
};

Node file_node(const std::string& name, const std::string& data);
Node dir_node(const std::string& name, std::vector<Node> kids);
// UTF-8 (BMP only) to UCS-2 big-endian bytes.
std::string ucs2(const std::string& utf8);

struct DirRef {
    uint32_t extent = 0;
    uint32_t size = 0;
};

struct VolumeBuilder {
    std::vector<unsigned char> user;   // 2048-byte sectors
    // The volume space size that raw() writes into every primary and
    // supplementary descriptor; 0: the image's sector count.
    uint32_t volume_sectors = 0;

    VolumeBuilder();
    uint32_t sectors() const { return (uint32_t)(user.size() / 2048); }
    unsigned char* at(uint32_t sector) { return &user[(size_t)sector * 2048]; }
    // Appends file data (whole sectors) and returns its extent.
    uint32_t add_data(const std::string& data);
    // Lays out a directory tree; returns the root's extent and size.
    DirRef add_tree(const Node& root);
    // A volume descriptor at sector s: type 1 primary, 2 supplementary (with
    // the three escape bytes at 88..90 when escape is non-empty), pointing to
    // root.
    void descriptor(uint32_t s, int type, DirRef root, const std::string& escape = "");
    void terminator(uint32_t s);
    // The MODE1/2352 image: sync, header, user data, zero EDC/ECC (the reader
    // never looks at them), with the volume space size filled in.
    std::vector<unsigned char> raw() const;
    void write_raw(const std::string& path) const;
};

// One directory record (length byte, extent, size, flags, name, padding).
std::string dir_record(const std::string& name, uint32_t extent, uint32_t size, bool dir);

}  // namespace kt

#endif
