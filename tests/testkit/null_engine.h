#pragma once
// An engine that has found nothing and does nothing, for tests and benchmarks
// that drive only one part of the engine interface (preview, say) and
// override just that.

#include "engines/file_recovery_parse.h"

namespace sorvane::testkit {

class NullEngine : public IFileRecoveryParse {
  public:
    EngineStatus Open(const ScanSource&) override { return 0; }
    void SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override {}
    EngineStatus Scan(const std::string*) override { return 0; }
    EngineStatus ListChildren(const FoundItemRecord*, uint32_t, FoundItemList&) override { return 0; }
    EngineStatus CountFiles(const FoundItemRecord*, uint32_t, uint32_t&) override { return 0; }
    uint64_t GetFoundCount() override { return 0; }
    EngineStatus GetFolderPath(const FoundItemRecord&, std::string&) override { return 0; }
    EngineStatus RecoverItem(const FoundItemRecord&, const std::filesystem::path&, uint32_t) override {
        return 0;
    }
    [[nodiscard]] bool NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
    void SetSearchCallback(SearchProgressCallback, void*) override {}
    [[nodiscard]] bool FindByExtension(const std::string&, FoundItemList&) override { return 0; }
    EngineStatus LoadAllocationMap() override { return 0; }
    EngineStatus PreviewItem(const FoundItemRecord&, std::filesystem::path& tempPath, uint8_t*,
                             size_t& byteCount, PreviewProgressCallback, void*) override {
        tempPath.clear();
        byteCount = 0;
        return 0;
    }
};

}  // namespace sorvane::testkit
