// Small readers the fragment checks share: fixed-size fields and a CRC-32
// over a range, each through however the source pieces its views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "carving/crc32.h"
#include "carving/file_byte_source.h"

namespace sorvane::fragment_reading {

// `n` (at most 8) bytes at `offset` into `out`; false past the end or on a failed read.
inline bool Bytes(FileByteSource& file, uint64_t offset, size_t n, uint8_t* out) {
    size_t got = 0;
    while (got < n) {
        const ByteView piece = file.View(offset + got, n - got);
        if (piece.Size() == 0) return false;
        for (size_t i = 0; i < piece.Size() && got < n; ++i) out[got++] = piece.U8(i);
    }
    return true;
}

inline std::optional<uint32_t> U32Be(FileByteSource& file, uint64_t offset) {
    uint8_t b[4];
    if (!Bytes(file, offset, 4, b)) return std::nullopt;
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

inline std::optional<uint32_t> U32Le(FileByteSource& file, uint64_t offset) {
    uint8_t b[4];
    if (!Bytes(file, offset, 4, b)) return std::nullopt;
    return (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
}

inline std::optional<uint16_t> U16Le(FileByteSource& file, uint64_t offset) {
    uint8_t b[2];
    if (!Bytes(file, offset, 2, b)) return std::nullopt;
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

// CRC-32 of `length` bytes at `offset`; none when they cannot all be read.
inline std::optional<uint32_t> RangeCrc(FileByteSource& file, uint64_t offset, uint64_t length) {
    uint32_t crc = 0;
    for (uint64_t at = offset, stop = offset + length; at < stop;) {
        const ByteView piece = file.View(at, static_cast<size_t>(std::min<uint64_t>(stop - at, 1u << 20)));
        if (piece.Size() == 0) return std::nullopt;
        crc = Crc32(crc, piece.Data(), piece.Size());
        at += piece.Size();
    }
    return crc;
}

}  // namespace sorvane::fragment_reading
