// PNG: every chunk carries a CRC of its type and data, so a wrong byte
// anywhere inside a chunk shows, and a chunk that starts in the wrong place
// fails on its type letters or its CRC.
#include <cstring>

#include "carving/fragment_check.h"
#include "carving/fragment_check_reading.h"

namespace sorvane {

namespace {
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunks = 1000000;
}  // namespace

FragmentVerdict CheckPngFragments(FileByteSource& file) {
    using namespace fragment_reading;
    const uint64_t length = file.Length();
    uint8_t head[8];
    if (!Bytes(file, 0, 8, head)) return FragmentVerdict::CannotTell(0);
    if (std::memcmp(head, kPngSignature, 8) != 0) return FragmentVerdict::InvalidAt(0);
    uint64_t off = 8;
    for (uint32_t chunks = 0; chunks < kMaxChunks; ++chunks) {
        if (off + 12 > length) return FragmentVerdict::InvalidAt(off);
        uint8_t field[8];
        if (!Bytes(file, off, 8, field)) return FragmentVerdict::CannotTell(off);
        const uint32_t size =
            (uint32_t{field[0]} << 24) | (uint32_t{field[1]} << 16) | (uint32_t{field[2]} << 8) | field[3];
        for (size_t i = 4; i < 8; ++i) {
            const uint8_t c = field[i];
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return FragmentVerdict::InvalidAt(off);
        }
        if (size > 0x7FFFFFFF || off + 12 + uint64_t{size} > length) return FragmentVerdict::InvalidAt(off);
        const std::optional<uint32_t> crc = RangeCrc(file, off + 4, 4 + uint64_t{size});
        const std::optional<uint32_t> stored = U32Be(file, off + 8 + size);
        if (!crc || !stored) return FragmentVerdict::CannotTell(off);
        if (*crc != *stored) return FragmentVerdict::InvalidAt(off, off + 12 + uint64_t{size});
        off += 12 + uint64_t{size};
        if (std::memcmp(field + 4, "IEND", 4) == 0) {
            // Bytes after the end chunk are no part of the picture's structure.
            return off == length ? FragmentVerdict::Valid(length) : FragmentVerdict::CannotTell(off);
        }
    }
    return FragmentVerdict::CannotTell(off);
}

}  // namespace sorvane
