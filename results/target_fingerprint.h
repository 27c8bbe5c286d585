// What tells one scanned target from another of the same layout: a resume
// record is found by drive number and range, which two images of the same
// shape share, so the scan folder also keeps this fingerprint of the bytes
// the scan read, and a scan is continued only on the target that made it.
#pragma once

#include <cstdint>
#include <filesystem>

#include "device/partition_details.h"

namespace sorvane {

// A hash of the target's size, its first and last MiB and the first sector of
// every partition its partition table lists (if it has one). `read` reads the
// target from its first byte; what cannot be read counts as such, not as zeros.
uint64_t TargetFingerprint(const ByteSource& read, uint64_t bytes, uint32_t sectorSize);

// Keeps the fingerprint in the scan folder ("target.id"). Returns 0 or an error code.
int SaveTargetFingerprint(const std::filesystem::path& scanFolder, uint64_t fingerprint);
// Reads it back; false when the folder holds none (a scan from before they were kept).
bool LoadTargetFingerprint(const std::filesystem::path& scanFolder, uint64_t& fingerprint);

}  // namespace sorvane
