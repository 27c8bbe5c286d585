#include "fs/ntfs_lznt1.h"

#include <cstring>

namespace sorvane {
namespace {

// Decodes one compressed chunk of `in` into `out` (at most 4096 bytes).
bool DecodeChunk(ByteView in, uint8_t* out, size_t capacity) {
    size_t inPos = 0;
    size_t outPos = 0;
    while (inPos < in.Size() && outPos < capacity) {
        uint8_t flags = in.U8(inPos++);
        for (int bit = 0; bit < 8 && inPos < in.Size() && outPos < capacity; ++bit, flags >>= 1) {
            if ((flags & 1) == 0) {
                out[outPos++] = in.U8(inPos++);
                continue;
            }
            if (!in.Has(inPos, 2)) return false;
            uint16_t token = in.U16(inPos);
            inPos += 2;
            // The split between back-reference distance and length moves with
            // the position: the further into the chunk, the more distance bits.
            unsigned distanceExtra = 0;
            for (size_t p = outPos - 1; outPos > 0 && p >= 0x10; p >>= 1) ++distanceExtra;
            size_t length = static_cast<size_t>(token & (0x0FFFu >> distanceExtra)) + 3;
            size_t distance = static_cast<size_t>(token >> (12 - distanceExtra)) + 1;
            if (distance > outPos) return false;
            for (size_t i = 0; i < length && outPos < capacity; ++i, ++outPos)
                out[outPos] = out[outPos - distance];
        }
    }
    return true;
}

}  // namespace

bool DecompressLznt1(ByteView input, uint8_t* output, size_t outputSize) {
    std::memset(output, 0, outputSize);
    size_t inPos = 0;
    size_t outPos = 0;
    while (outPos < outputSize && input.Has(inPos, 2)) {
        uint16_t header = input.U16(inPos);
        if (header == 0) break;
        size_t stored = static_cast<size_t>(header & 0x0FFF) + 1;
        inPos += 2;
        if (!input.Has(inPos, stored)) return false;
        ByteView chunk = input.Sub(inPos, stored);
        size_t capacity = outputSize - outPos < kLznt1ChunkBytes ? outputSize - outPos : kLznt1ChunkBytes;
        if (header & 0x8000) {
            if (!DecodeChunk(chunk, output + outPos, capacity)) return false;
        } else {
            // A chunk that did not shrink is kept as it was.
            std::memcpy(output + outPos, chunk.Data(), stored < capacity ? stored : capacity);
        }
        inPos += stored;
        outPos += kLznt1ChunkBytes;
    }
    return true;
}

}  // namespace sorvane
