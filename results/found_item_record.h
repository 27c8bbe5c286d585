// The record of one found file or folder: the unit of every result list, of
// the scan-log file and of the file list. Its layout is stored on disk and
// must not change: 346 bytes, packed, little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"

namespace sorvane {

enum class EngineCode : uint32_t {
    kQuickNtfs = 0,
    kQuickFat = 1,
    kDeepNtfs = 2,
    kDeepFat = 3,
    kRawSignature = 4,
    kQuickExfat = 5,
    kDeepExfat = 6,
};

inline constexpr size_t kNameFieldSize = 260;
// FAT records, in the engine-specific field: the name's first character,
// lost when the entry was deleted, is a guess.
inline constexpr uint32_t kFatNameGuessed = 0x100;
inline constexpr uint32_t kFolderClusterBytes = 0xFFFFFFFFu;

// Packed: a field is misaligned, so pass a copy (uint32_t{r.key}) wherever a
// function takes it by reference (std::set::insert, std::pair, EXPECT_EQ).
#pragma pack(push, 1)
struct FoundItemRecord {
    uint16_t letter = 0;             // volume key given at opening
    uint32_t engineCode = 0;         // EngineCode
    uint32_t isFolder = 0;           // 1 folder, 0 file
    uint32_t engineSpecific = 0;     // quick FAT folders: 1 when it or an ancestor is a deleted directory
    uint32_t contentCheck = 1;       // files: 1 agrees with the extension or unchecked, 0 contradicts
    uint32_t recordNumber = 0;       // 1-based position in the scan-log file
    uint32_t key = 0;                // FolderKey of a folder; NTFS: MFT record; FAT: first cluster
    uint32_t clusterBytes = 0;       // bytes per cluster for files; kFolderClusterBytes for folders
    uint64_t created = 0;            // FILETIME
    uint64_t accessed = 0;           // FILETIME
    uint64_t written = 0;            // FILETIME, last modification
    uint64_t size = 0;               // bytes
    uint64_t dataStart = 0;          // FAT: first data-area sector relative to the partition start
    uint64_t location = 0;           // absolute sector of the item's metadata
    uint64_t partitionStart = 0;     // partition start sector given at opening (0 for an image)
    char name[kNameFieldSize] = {};  // UTF-8, NUL-terminated

    EngineCode Engine() const { return static_cast<EngineCode>(engineCode); }
    bool IsFolder() const { return isFolder != 0; }
    bool NameGuessed() const {
        return (Engine() == EngineCode::kQuickFat || Engine() == EngineCode::kDeepFat) &&
               (engineSpecific & kFatNameGuessed) != 0;
    }
    std::string Name() const { return NameFromField(name, kNameFieldSize); }
    void SetName(std::string_view text) { CopyNameField(name, kNameFieldSize, text); }
};
#pragma pack(pop)

static_assert(sizeof(FoundItemRecord) == 346);
static_assert(offsetof(FoundItemRecord, letter) == 0);
static_assert(offsetof(FoundItemRecord, engineCode) == 2);
static_assert(offsetof(FoundItemRecord, isFolder) == 6);
static_assert(offsetof(FoundItemRecord, engineSpecific) == 10);
static_assert(offsetof(FoundItemRecord, contentCheck) == 14);
static_assert(offsetof(FoundItemRecord, recordNumber) == 18);
static_assert(offsetof(FoundItemRecord, key) == 22);
static_assert(offsetof(FoundItemRecord, clusterBytes) == 26);
static_assert(offsetof(FoundItemRecord, created) == 30);
static_assert(offsetof(FoundItemRecord, accessed) == 38);
static_assert(offsetof(FoundItemRecord, written) == 46);
static_assert(offsetof(FoundItemRecord, size) == 54);
static_assert(offsetof(FoundItemRecord, dataStart) == 62);
static_assert(offsetof(FoundItemRecord, location) == 70);
static_assert(offsetof(FoundItemRecord, partitionStart) == 78);
static_assert(offsetof(FoundItemRecord, name) == 86);

// The record is stored as its bytes; this build must be little-endian to do so.
static_assert(std::endian::native == std::endian::little);

}  // namespace sorvane
