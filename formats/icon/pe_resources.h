// The program's own PE resource reader and writer, for builds without the
// Win32 resource-update calls. Works on a whole executable held in memory;
// no file access here.
//
// Every image is untrusted: each offset and size is checked, overflow-safely,
// before it is used, and a malformed image is refused with 0, never read out
// of bounds. PE32 and PE32+ images are accepted.
//
// Resource keys: a type, a name and a language, each an integer id (0 to
// 65535). Named keys (strings) found in an image are read and written back
// unchanged, but can only be addressed by id here.
#ifndef KELVORN_ICON_PE_RESOURCES_H
#define KELVORN_ICON_PE_RESOURCES_H

#include <stddef.h>
#include <stdint.h>

// One resource to add or replace. data is borrowed for the call; size may
// be 0.
struct PeResourceUpdate {
    uint16_t type;
    uint16_t name;
    uint16_t language;
    const unsigned char* data;
    uint32_t size;
};

// Applies updates to image[0..size): each (type, name, language) entry is
// replaced when present and added otherwise; every other resource stays, its
// bytes, code page and keys (named ones included) unchanged. On success
// *out gets a new heap image (the caller frees it with free) and *out_size
// its size, and 1 is returned; otherwise 0 and *out is null. A later update
// with the same key as an earlier one wins.
//
// The new image: the resource section is rebuilt. When the old one is the
// image's last section it is rewritten in place; otherwise a new ".rsrc"
// section is added after the last one and the old section's bytes stay
// where they were, unused. The resource data directory, the section table,
// SizeOfImage and SizeOfInitializedData are set to match. Data after the
// last section (overlay: COFF symbols, certificates, appended payloads)
// follows the new section, and the file offsets that point into it
// (PointerToSymbolTable, the certificate table, debug entries) move with
// it. A non-zero checksum is recomputed; a zero one stays zero.
int pe_update_resources(const unsigned char* image, size_t size, const PeResourceUpdate* updates,
                        size_t count, unsigned char** out, size_t* out_size);

// Finds the (type, name, language) resource of image[0..size). 1 with
// *offset and *length (its bytes lie at image + *offset) when present and
// inside the file; 0 when absent or the image is malformed.
int pe_find_resource(const unsigned char* image, size_t size, uint16_t type, uint16_t name,
                     uint16_t language, size_t* offset, uint32_t* length);

// Number of resources (leaves) of image[0..size), or -1 when the image or
// its resource tree is malformed. An image without resources has 0.
long pe_count_resources(const unsigned char* image, size_t size);

// The standard PE checksum of image[0..size): 16-bit one's-complement-style
// sum over the file with the CheckSum field taken as zero, plus the file
// size. 0 when the image has no optional header.
uint32_t pe_checksum(const unsigned char* image, size_t size);

#endif
