// The CRC-32 that PNG chunks, ZIP entries, gzip members and 7z headers carry
// (reflected polynomial 0xEDB88320, initial and final value all ones).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

// Continues `crc` (0 to start) over `length` bytes.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);

}  // namespace sorvane
