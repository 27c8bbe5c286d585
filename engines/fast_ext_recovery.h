// The quick engine chosen for an ext volume. Quick recovery of ext file
// systems is not offered: the engine keeps the source's range, and every other
// operation finds nothing. A quick scan of an ext volume therefore ends at
// once with no results.
#pragma once

#include <cstdint>
#include <filesystem>

#include "engines/file_recovery_parse.h"

namespace sorvane {

class CFastExtRecovery : public IFileRecoveryParse {
  public:
    // Keeps the source's range; reads nothing.
    EngineStatus Open(const ScanSource& source) override;
    void SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override {}
    EngineStatus Scan(const std::string*) override { return 0; }
    EngineStatus ListChildren(const FoundItemRecord*, uint32_t, FoundItemList&) override { return 0; }
    EngineStatus CountFiles(const FoundItemRecord*, uint32_t, uint32_t& count) override {
        count = 0;
        return 0;
    }
    [[nodiscard]] uint64_t GetFoundCount() override { return 0; }
    EngineStatus GetFolderPath(const FoundItemRecord&, std::string&) override { return 0; }
    EngineStatus RecoverItem(const FoundItemRecord&, const std::filesystem::path&, uint32_t) override {
        return 0;
    }
    [[nodiscard]] bool NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    void SetSearchCallback(SearchProgressCallback, void*) override {}
    [[nodiscard]] bool FindByExtension(const std::string&, FoundItemList&) override { return 0; }
    EngineStatus LoadAllocationMap() override { return 0; }
    EngineStatus PreviewItem(const FoundItemRecord&, std::filesystem::path&, uint8_t*, size_t& byteCount,
                             PreviewProgressCallback, void*) override {
        byteCount = 0;
        return 0;
    }

    uint64_t PartitionStart() const { return partitionStart_; }
    uint64_t PartitionSectors() const { return partitionSectors_; }
    uint16_t Letter() const { return letter_; }

  private:
    uint64_t partitionStart_ = 0;
    uint64_t partitionSectors_ = 0;
    uint16_t letter_ = 0;
};

}  // namespace sorvane
