#include "engines/found_file_identities.h"

#include "platform/text_encoding.h"
#include "results/file_categories.h"

namespace sorvane {

std::string FoundFileIdentities::IdentityOf(const FoundItemRecord& r, uint64_t locationShift) const {
    if (r.IsFolder() || sectorSize_ == 0) return {};
    const uint64_t size = r.size, location = r.location, key = r.key;
    switch (r.Engine()) {
        case EngineCode::kQuickFat:
        case EngineCode::kDeepFat: {
            if (r.clusterBytes == kFolderClusterBytes) break;
            if (size == 0 || key < 2) {
                // A file without data starts nowhere: it is told by the
                // directory sector that holds its entry, and its name there.
                // A guessed first letter is told as the "!" every engine reads.
                std::string name = AsciiLower(r.Name());
                if (r.NameGuessed() && !name.empty()) name[0] = '!';
                return "fat entry " + std::to_string(location + locationShift) + " " + name;
            }
            // The absolute sector the file's data starts at.
            uint64_t start =
                uint64_t{r.clusterBytes / sectorSize_} * (key - 2) + r.partitionStart + r.dataStart;
            return "fat " + std::to_string(start) + " " + std::to_string(size);
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
    if (id.empty()) return false;
    if (identities_.count(id) != 0) return true;
    // The deep FAT engine places an entry whose long name began in the sector
    // before at that sector; the quick engine at the sector of the entry itself.
    const bool entryOfFileWithoutData = record.size == 0 || record.key < 2;
    return record.Engine() == EngineCode::kDeepFat && entryOfFileWithoutData &&
           identities_.count(IdentityOf(record, 1)) != 0;
}

}  // namespace sorvane
