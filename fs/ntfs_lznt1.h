// LZNT1, the compression NTFS applies to the data of compressed files. A
// compressed stream is cut into compression units (16 clusters on volumes
// that compress); a unit whose stored clusters are fewer than its size holds
// a sequence of chunks, each decoding to at most 4096 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/byte_view.h"

namespace sorvane {

inline constexpr size_t kLznt1ChunkBytes = 4096;

// Decodes the chunks in `input` (a compression unit's stored clusters) into
// `output` of `outputSize` bytes (the unit's size). Each chunk fills the next
// 4096 bytes; what a chunk does not fill, and everything after the last
// chunk, is zero. Returns false at a damaged chunk (a back reference before
// the chunk's start, or a chunk running past the input); `output` then holds
// what was decoded before it and zeros after.
[[nodiscard]] bool DecompressLznt1(ByteView input, uint8_t* output, size_t outputSize);

}  // namespace sorvane
