// The interface every recovery engine implements. The program never knows
// which engine it holds: it opens it, scans, browses results folder by folder,
// searches them by extension, previews and recovers items, all through here.
// Results live in the engine's scan log on disk; lists handed out are copies
// the caller owns. No exception crosses this interface; an answer that says
// how an operation went is an EngineStatus, one that is yes or no a bool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "carving/progress_callbacks.h"
#include "device/scan_source.h"
#include "engines/engine_status.h"
#include "results/found_item_record.h"

namespace sorvane {

using FoundItemList = std::vector<FoundItemRecord>;

inline constexpr size_t kPreviewPathCapacity = 260;

class IFileRecoveryParse {
  public:
    virtual ~IFileRecoveryParse() = default;

    // Reads the source's range from now on, through the source's open
    // reader; the source's letter is the volume key every record carries.
    // Returns 0 or the result code of reading the volume's own records.
    virtual EngineStatus Open(const ScanSource& source) = 0;
    // `weight` is this engine's share of the shown progress, in percent.
    virtual void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                              void* userData, int weight) = 0;
    // Scans into a new scan log; with a name, reopens that existing log instead.
    // Returns 0, an error code, kCancelCode, or the callback's non-zero answer.
    virtual EngineStatus Scan(const std::string* scanLogName) = 0;
    // Children of `folder` (the root when null and level 0), sorted files first,
    // then by name ignoring case. A null folder with a non-zero level returns 87.
    virtual EngineStatus ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) = 0;
    virtual EngineStatus CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) = 0;
    // Records written to the scan log so far; 0 before the first Scan.
    [[nodiscard]] virtual uint64_t GetFoundCount() = 0;
    // The names of the record's ancestors from the top down, each followed by '/'.
    virtual EngineStatus GetFolderPath(const FoundItemRecord& record, std::string& path) = 0;
    // Copies a file to `destination` (the full path of the file to create), or a
    // folder's contents below `destination`. `baseDepth` is the separator count of
    // the caller's destination folder.
    virtual EngineStatus RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                                     uint32_t baseDepth) = 0;
    // Sectors of the file the last RecoverItem copied that could not be read:
    // the copy holds zeros there and is complete otherwise. 0 when every
    // sector was read (and for a folder).
    [[nodiscard]] virtual uint64_t UnreadableSectorsOfLastCopy() const { return 0; }
    // Moves `start` to the first unallocated sector at or after it and gives the
    // length of that free run. True when answered, false without a map.
    [[nodiscard]] virtual bool NextFreeExtent(uint64_t& start, uint64_t& length) = 0;
    virtual void SetSearchCallback(SearchProgressCallback callback, void* userData) = 0;
    // `pattern` is a '|'-separated list of "*.ext"; ".other" also selects files
    // whose extension is in no category list. True when the log was read.
    [[nodiscard]] virtual bool FindByExtension(const std::string& pattern, FoundItemList& out) = 0;
    // Loads the volume's allocation map; 0 when the engine has none to load.
    virtual EngineStatus LoadAllocationMap() = 0;
    // Writes a preview file (its path into `tempPath`) or copies the first bytes
    // into `buffer` (`byteCount` in: capacity, out: bytes copied).
    virtual EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath,
                                     uint8_t* buffer, size_t& byteCount, PreviewProgressCallback progress,
                                     void* userData) = 0;
};

}  // namespace sorvane
