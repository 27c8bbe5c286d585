// The quick engine chosen for an ext volume. Quick recovery of ext file
// systems is not offered: the engine opens the drive and keeps its arguments,
// and every other operation finds nothing. A quick scan of an ext volume
// therefore ends at once with no results.
#pragma once

#include <cstdint>
#include <filesystem>

#include "device/disk_reader.h"
#include "engines/file_recovery_parse.h"

namespace sorvane {

class CFastExtRecovery : public IFileRecoveryParse {
  public:
    [[nodiscard]] int OpenImage(const std::filesystem::path&, uint16_t) override { return 0; }
    // Opens the drive and stores the arguments; returns the open's result.
    [[nodiscard]] int OpenPartition(int driveIndex, uint64_t partitionStart, uint64_t partitionSectors,
                                    uint16_t letter) override;
    int SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override { return 0; }
    [[nodiscard]] int Scan(const std::string*) override { return 0; }
    [[nodiscard]] int ListChildren(const FoundItemRecord*, uint32_t, FoundItemList&) override { return 0; }
    [[nodiscard]] int CountFiles(const FoundItemRecord*, uint32_t, uint32_t& count) override {
        count = 0;
        return 0;
    }
    [[nodiscard]] uint64_t GetFoundCount() override { return 0; }
    [[nodiscard]] int GetFolderPath(const FoundItemRecord&, std::string&) override { return 0; }
    [[nodiscard]] int RecoverItem(const FoundItemRecord&, const std::filesystem::path&, uint32_t) override {
        return 0;
    }
    [[nodiscard]] int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    int SetSearchCallback(SearchProgressCallback, void*) override { return 0; }
    [[nodiscard]] int FindByExtension(const std::string&, FoundItemList&) override { return 0; }
    [[nodiscard]] int LoadAllocationMap() override { return 0; }
    [[nodiscard]] int PreviewItem(const FoundItemRecord&, std::filesystem::path&, uint8_t*, size_t& byteCount,
                                  PreviewProgressCallback, void*) override {
        byteCount = 0;
        return 0;
    }

    uint64_t PartitionStart() const { return partitionStart_; }
    uint64_t PartitionSectors() const { return partitionSectors_; }
    uint16_t Letter() const { return letter_; }

  private:
    DiskReader reader_;
    uint64_t partitionStart_ = 0;
    uint64_t partitionSectors_ = 0;
    uint16_t letter_ = 0;
};

}  // namespace sorvane
