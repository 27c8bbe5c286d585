#include "engines/found_folder_merge.h"

#include "results/file_categories.h"
#include "results/safe_name.h"

namespace sorvane {
namespace {

std::optional<EngineCode> DeepCounterpart(EngineCode quick) {
    switch (quick) {
        case EngineCode::kQuickFat:
            return EngineCode::kDeepFat;
        case EngineCode::kQuickNtfs:
            return EngineCode::kDeepNtfs;
        case EngineCode::kQuickExfat:
            return EngineCode::kDeepExfat;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::map<FolderIdentity, std::string> QuickFolderNames(const std::vector<FoundItemRecord>& quickFolders) {
    std::map<FolderIdentity, std::string> names;
    for (const FoundItemRecord& r : quickFolders) {
        if (!r.IsFolder()) continue;
        const std::optional<EngineCode> deep = DeepCounterpart(r.Engine());
        // Cluster 0 is no folder's own (the FAT12/16 root has no record).
        if (deep && r.key != 0)
            names.emplace(FolderIdentity{*deep, uint32_t{r.key}}, r.Name());  // copies: packed
    }
    return names;
}

std::optional<std::string> QuickNameOf(const std::map<FolderIdentity, std::string>& quickNames,
                                       const FoundItemRecord& deepFolder) {
    if (!deepFolder.IsFolder()) return std::nullopt;
    auto it = quickNames.find({deepFolder.Engine(), uint32_t{deepFolder.key}});
    if (it == quickNames.end()) return std::nullopt;
    return it->second;
}

std::optional<FoundItemRecord> WithCarvedExtension(const FoundItemRecord& file,
                                                   const FoundItemRecord& carved) {
    if (file.IsFolder() || carved.Engine() != EngineCode::kRawSignature) return std::nullopt;
    const std::string name = file.Name();
    const uint64_t fileSize = file.size, carvedSize = carved.size;
    if (name.empty() || !LowerExtension(name).empty() || fileSize != carvedSize || fileSize == 0)
        return std::nullopt;
    const std::string extension = LowerExtension(carved.Name());
    if (extension.empty()) return std::nullopt;
    FoundItemRecord renamed = file;
    // A name at the field's end loses its own last letters, never the extension.
    renamed.SetName(CutNameKeepingExtension(name + "." + extension, kNameFieldSize - 1));
    return renamed;
}

}  // namespace sorvane
