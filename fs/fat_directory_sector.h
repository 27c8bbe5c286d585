// Byte tests that tell whether a sector holds FAT directory entries. The deep
// scan uses them to pick directory sectors out of raw, unallocated space, and
// the carving code uses them to leave such sectors alone. They look only at
// the buffer they are given; nothing is read from a disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane {

// True when the 64 bytes at `offset` are the "." and ".." entries that begin
// every subdirectory cluster, with equal times.
bool IsFatDirectoryStart(const uint8_t* buffer, size_t length, size_t offset = 0);

// True when the 32-byte entry at `offset` is plausible as a directory entry of
// a live or deleted file, folder, label or long-name piece. Dates must lie in
// 1990..2049, short names must be upper-case without forbidden characters. A
// ".." entry fails (its name holds a full stop).
bool IsFatDirectoryEntry(const uint8_t* buffer, size_t length, size_t offset);

// True when a whole sector (a multiple of 32 bytes) holds nothing but plausible
// entries, optionally followed by zero bytes only; long-name runs must end at
// their own 8.3 entry or a deleted one, and live folders name their cluster.
bool IsFatDirectorySector(const uint8_t* sector, size_t sectorSize);

}  // namespace sorvane
