#include "results/target_fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/result_codes.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr char kFileName[] = "target.id";

// FNV-1a, 64 bits: enough to tell two disks apart, not meant against forgery.
class Hash {
  public:
    void Add(const uint8_t* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            value_ ^= bytes[i];
            value_ *= 0x100000001B3ull;
        }
    }
    void Add(uint64_t number) {
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(number >> (8 * i));
        Add(bytes, sizeof bytes);
    }
    uint64_t Value() const { return value_; }

  private:
    uint64_t value_ = 0xCBF29CE484222325ull;
};

void AddRegion(Hash& hash, const ByteSource& read, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> buffer(static_cast<size_t>(length));
    hash.Add(offset);
    if (length == 0) return;
    if (read(offset, buffer.data(), buffer.size())) {
        hash.Add(buffer.data(), buffer.size());
    } else {
        hash.Add(~uint64_t{0});  // unreadable here
    }
}

}  // namespace

uint64_t TargetFingerprint(const ByteSource& read, uint64_t bytes, uint32_t sectorSize) {
    Hash hash;
    hash.Add(bytes);
    if (sectorSize == 0) sectorSize = 512;
    // Whole sectors only: the readers take sector-aligned requests.
    const uint64_t sectors = bytes / sectorSize;
    const uint64_t span = std::min<uint64_t>(kMiB / sectorSize, sectors);
    AddRegion(hash, read, 0, span * sectorSize);
    AddRegion(hash, read, (sectors - span) * sectorSize, span * sectorSize);
    for (const PartitionSlot& slot : ReadPartitionTable(read, sectorSize, sectors))
        AddRegion(hash, read, slot.start * sectorSize, sectorSize);
    return hash.Value();
}

int SaveTargetFingerprint(const std::filesystem::path& scanFolder, uint64_t fingerprint) {
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%016llx\n", static_cast<unsigned long long>(fingerprint));
    FileHandle file;
    int rc = OpenForWriting(scanFolder / kFileName, WriteMode::kCreateOrTruncate, file);
    if (rc == kSuccess) rc = file.Write(reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(length));
    return rc;
}

bool LoadTargetFingerprint(const std::filesystem::path& scanFolder, uint64_t& fingerprint) {
    FileHandle file;
    if (OpenReadOnly(scanFolder / kFileName, file) != kSuccess) return false;
    char text[32] = {};
    size_t got = 0;
    if (file.ReadAt(0, reinterpret_cast<uint8_t*>(text), 16, got) != kSuccess || got != 16) return false;
    unsigned long long value = 0;
    if (std::sscanf(text, "%16llx", &value) != 1) return false;
    fingerprint = value;
    return true;
}

}  // namespace sorvane
