#pragma once
// An engine that has found nothing and does nothing, for tests and benchmarks
// that drive only one part of the engine interface (preview, say) and
// override just that.

#include "engines/file_recovery_parse.h"

namespace sorvane::testkit {

class NullEngine : public IFileRecoveryParse {
  public:
    int OpenImage(const std::filesystem::path&, uint16_t) override { return 0; }
    int OpenPartition(int, uint64_t, uint64_t, uint16_t) override { return 0; }
    int SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override { return 0; }
    int Scan(const std::string*) override { return 0; }
    int ListChildren(const FoundItemRecord*, uint32_t, FoundItemList&) override { return 0; }
    int CountFiles(const FoundItemRecord*, uint32_t, uint32_t&) override { return 0; }
    uint64_t GetFoundCount() override { return 0; }
    int GetFolderPath(const FoundItemRecord&, std::string&) override { return 0; }
    int RecoverItem(const FoundItemRecord&, const std::filesystem::path&, uint32_t) override { return 0; }
    int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    int SetSearchCallback(SearchProgressCallback, void*) override { return 0; }
    int FindByExtension(const std::string&, FoundItemList&) override { return 0; }
    int LoadAllocationMap() override { return 0; }
    int PreviewItem(const FoundItemRecord&, std::filesystem::path& tempPath, uint8_t*, size_t& byteCount,
                    PreviewProgressCallback, void*) override {
        tempPath.clear();
        byteCount = 0;
        return 0;
    }
};

}  // namespace sorvane::testkit
