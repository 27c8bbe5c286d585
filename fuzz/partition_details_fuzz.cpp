// Treats arbitrary bytes as the start of a disk: the MBR, GPT and extended-chain
// walks and the FAT label reader must stay inside what they read, end on looping
// chains, and never report a type for sector 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/partition_details.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource disk = [data, size](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(buffer, data + offset, length);
        return true;
    };
    for (uint32_t sectorSize : {512u, 4096u}) {
        auto types = ReadMbrPartitionTypes(disk, sectorSize);
        if (types.count(0)) std::abort();
        if (types.size() > 4 + 256) std::abort();
        const uint64_t diskSectors = size / sectorSize + 1;
        for (const PartitionSlot& slot : ReadPartitionTable(disk, sectorSize, diskSectors)) {
            if (slot.start == 0 || slot.length == 0 || slot.start + slot.length > diskSectors) std::abort();
        }
    }
    if (size >= 512) {
        std::string label = ReadFatVolumeLabel(disk, data, size);
        if (label.size() > 11 * 3) std::abort();  // 11 bytes of code page 437, at most 3 UTF-8 bytes each
    }
    IsExfatBootSector(data, size);
    return 0;
}
