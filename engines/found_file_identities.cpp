#include "engines/found_file_identities.h"

#include "results/file_categories.h"

namespace sorvane {

std::string FoundFileIdentities::IdentityOf(const FoundItemRecord& r) const {
    if (r.IsFolder() || sectorSize_ == 0) return {};
    const uint64_t size = r.size, location = r.location, key = r.key;
    switch (r.Engine()) {
        case EngineCode::kQuickFat:
        case EngineCode::kDeepFat: {
            if (r.clusterBytes == kFolderClusterBytes || key < 2) break;
            // The absolute sector the file's data starts at.
            uint64_t start =
                uint64_t{r.clusterBytes / sectorSize_} * (key - 2) + r.partitionStart + r.dataStart;
            std::string id = "fat " + std::to_string(start) + " " + std::to_string(size);
            if (size == 0) {
                std::string name = r.Name();
                for (char& c : name)
                    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                id += " " + name;
            }
            return id;
        }
        case EngineCode::kQuickNtfs:
        case EngineCode::kDeepNtfs:
            return "ntfs " + std::to_string(location) + " " + std::to_string(size) + " " + r.Name();
        default:
            break;
    }
    return {};
}

void FoundFileIdentities::Add(const FoundItemRecord& record) {
    std::string id = IdentityOf(record);
    if (!id.empty()) identities_.insert(std::move(id));
}

bool FoundFileIdentities::Contains(const FoundItemRecord& record) const {
    std::string id = IdentityOf(record);
    return !id.empty() && identities_.count(id) != 0;
}

}  // namespace sorvane
