// Shared set-up of the carving fuzzers: the fuzzed bytes become the disk the
// recognisers and size finders read from, written to a file in memory-backed
// storage because a DiskReader reads files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "carving/file_signature.h"
#include "device/disk_reader.h"

namespace sorvane::fuzzing {

inline std::filesystem::path CarveImagePath() {
    static const std::filesystem::path path = [] {
        std::filesystem::path dir = std::filesystem::exists("/dev/shm")
                                        ? std::filesystem::path("/dev/shm")
                                        : std::filesystem::temp_directory_path();
        return dir / ("sorvane-carve-fuzz-" + std::to_string(static_cast<long>(getpid())) + ".img");
    }();
    return path;
}

// Writes the input as an image padded with zeros to whole 512-byte sectors
// (at least `minimumSectors`) and opens `reader` on it.
inline bool OpenFuzzImage(const uint8_t* data, size_t size, size_t minimumSectors, DiskReader& reader) {
    std::vector<char> bytes(data, data + size);
    size_t sectors = std::max(minimumSectors, (bytes.size() + 511) / 512);
    bytes.resize(sectors * 512, 0);
    {
        std::ofstream out(CarveImagePath(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return OpenImageReader(CarveImagePath(), reader) == 0;
}

// A fresh job on `reader` with the file starting at `sector`.
inline CarveJob PrepareJob(DiskReader* reader, uint64_t sector, bool inStream) {
    CarveJob ctx;
    ctx.reader = reader;
    ctx.sectorSize = 512;
    ctx.startSector = sector;
    ctx.currentSector = sector;
    ctx.inTransportStream = inStream;
    ctx.inMts = inStream;
    return ctx;
}

}  // namespace sorvane::fuzzing
