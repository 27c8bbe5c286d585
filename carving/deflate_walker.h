// Runs a deflate stream (the compressed data of gzip members, ZIP entries,
// compressed Flash files) over the bytes of a carved file to find where it
// ends. It decodes every block as a decompressor would, keeping only the last
// 32 KiB of output for back-references and a CRC-32 of all of it, so a
// stream is accepted only when it is valid to its final block. Bounded by the
// bytes that can be read and by a limit on the output.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "carving/carved_file_bytes.h"

namespace sorvane {

struct DeflateEnd {
    uint64_t end = 0;          // offset of the first byte after the stream
    uint64_t outputBytes = 0;  // bytes the stream decodes to
    uint32_t crc = 0;          // CRC-32 of those bytes
    uint32_t adler = 1;        // their Adler-32, as a zlib stream ends with it
};

// Walks the stream that starts at `offset` of `bytes`. None when a block is
// invalid, the input runs out, or the output passes `maxOutput` bytes.
std::optional<DeflateEnd> WalkDeflate(FileByteSource& bytes, uint64_t offset, uint64_t maxOutput);

// Decompresses the stream that starts at `offset` into `out` (replaced).
// False when a block is invalid, the input runs out, or the output would pass
// `maxOutput` bytes; `out` then holds what was decoded before.
bool InflateStream(FileByteSource& bytes, uint64_t offset, uint64_t maxOutput, std::vector<uint8_t>& out);

}  // namespace sorvane
