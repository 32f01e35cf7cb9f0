// MD5 (RFC 1321).
//  md5_init      prepares a context.
//  md5_update    absorbs bytes[0..length); any length, 0 included.
//  md5_final     writes the 16-byte digest; the context is spent afterwards.
//  md5_to_hex    writes 32 lowercase hex digits, high nibble first, and a
//                terminating zero into a 33-byte buffer.
//
// md5_file(path, md5_hex, progress, progress_user, cancel, stamp_out)
//   Streams the UTF-8 path through MD5 in 1 MiB chunks taken from the heap
//   (never the whole file, never the stack) and writes 32 lowercase hex
//   digits and a terminator into md5_hex (33 bytes). progress (may be null)
//   is called after every chunk with the fraction read so far (1.0 for an
//   empty file) and a null status. cancel (may be null) is tested before
//   every chunk is absorbed. Returns 1 when the whole file was digested; 0
//   when it cannot be opened or read, is not a regular file, the chunk
//   cannot be allocated, or the cancel flag was set. On 0, md5_hex is not
//   written. stamp_out (may be null) receives the stamp of the file that was
//   digested, taken on the open stream.
//
// md5_file_ranges(path, md5_hex, progress, progress_user, cancel, stamp_out,
//                 ranges, range_count, threads)
//   md5_file, and from the same bytes as they are read (the file is read
//   once) the digest of each of ranges[0..range_count): bytes offset to
//   offset + length of the file. The ranges must come in increasing order
//   without overlapping; otherwise none of them is digested. A range gets
//   done = 1 and its digest once all of its bytes were read (a range of
//   length 0 once its offset was reached); one that runs past the end of
//   the file keeps done = 0. With threads 2 or 0 (0: 2 where the machine
//   has two hardware threads or more), a file of more than one chunk is
//   read, and its ranges digested, by a helper thread with four chunks in
//   flight, while the calling thread keeps the whole file's digest, reads
//   the cancel flag and reports progress as md5_file does; threads 1, or a
//   helper that cannot be started, does it all on the calling thread. The
//   result, md5_hex and stamp_out are md5_file's; on 0 no range is done.
#ifndef KELVORN_BASE_MD5_H
#define KELVORN_BASE_MD5_H

#include <stddef.h>
#include <stdint.h>

#include "base/paths.h"
#include "base/progress.h"

enum { MD5_HEX_CAPACITY = 33, MD5_FILE_CHUNK = 1048576 };

struct Md5Context {
    uint32_t state[4];
    uint64_t length;        // bytes absorbed so far
    unsigned char block[64];
    size_t block_used;
};

void md5_init(Md5Context* context);
void md5_update(Md5Context* context, const void* bytes, size_t length);
void md5_final(Md5Context* context, unsigned char digest[16]);
void md5_to_hex(const unsigned char digest[16], char hex[33]);

int md5_file(const char* path, char* md5_hex, ProgressFn progress, uint64_t progress_user,
             const CancelFlag* cancel, FileStamp* stamp_out = nullptr);

struct Md5Range {
    uint64_t offset;
    uint64_t length;
    unsigned char digest[16];
    int done;
};

int md5_file_ranges(const char* path, char* md5_hex, ProgressFn progress, uint64_t progress_user,
                    const CancelFlag* cancel, FileStamp* stamp_out, Md5Range* ranges, int range_count,
                    int threads = 0);

#endif
