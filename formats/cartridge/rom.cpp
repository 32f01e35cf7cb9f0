#include "formats/cartridge/rom.h"

#include "base/md5.h"

unsigned char* load_cartridge_rom(const char* path, uint64_t* size_out, char* md5_hex_out,
                                  RomOrder* order_out) {
    return load_cartridge_rom_stamped(path, size_out, md5_hex_out, order_out, nullptr);
}

unsigned char* load_cartridge_rom_stamped(const char* path, uint64_t* size_out, char* md5_hex_out,
                                          RomOrder* order_out, FileStamp* stamp_out) {
    uint64_t size = 0;
    FileStamp stamp;
    unsigned char* image = read_whole_file_stamped(path, &size, &stamp);
    if (!image) return nullptr;

    Md5Context md5;
    unsigned char digest[16];
    md5_init(&md5);
    md5_update(&md5, image, (size_t)size);
    md5_final(&md5, digest);
    if (md5_hex_out) md5_to_hex(digest, md5_hex_out);

    RomOrder order = ROM_Z64;
    if (size >= 4) {
        if (image[0] == 0x40 && image[1] == 0x12) {
            // n64: every whole 32-bit word reversed; a ragged tail stays.
            for (uint64_t i = 0; i + 4 <= size; i += 4) {
                unsigned char a = image[i], b = image[i + 1];
                image[i] = image[i + 3];
                image[i + 1] = image[i + 2];
                image[i + 2] = b;
                image[i + 3] = a;
            }
            order = ROM_N64;
        } else if (image[0] == 0x37 && image[1] == 0x80) {
            // v64: every whole 16-bit pair swapped; an odd last byte stays.
            for (uint64_t i = 0; i + 2 <= size; i += 2) {
                unsigned char a = image[i];
                image[i] = image[i + 1];
                image[i + 1] = a;
            }
            order = ROM_V64;
        }
    }
    if (size_out) *size_out = size;
    if (order_out) *order_out = order;
    if (stamp_out) *stamp_out = stamp;
    return image;
}
