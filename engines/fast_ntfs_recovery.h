// The quick NTFS engine: finds deleted files of an NTFS volume by reading its
// Master File Table. Every record that is neither in use nor a directory is a
// deleted file; the folders on its path are rebuilt from the parent references
// of the $FILE_NAME attributes, and its data is copied from the resident value
// or the run list (LZNT1-decoded for compressed files). Records carry
// EngineCode 0.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/disk_reader.h"
#include "engines/log_engine_base.h"
#include "fs/ntfs_data_stream.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_runlist.h"

namespace sorvane {

class CFastNtfsRecovery : public CLogEngineBase {
  public:
    CFastNtfsRecovery();
    ~CFastNtfsRecovery() override;

    EngineStatus Open(const ScanSource& source) override;
    EngineStatus Scan(const std::string* scanLogName) override;
    [[nodiscard]] bool NextFreeExtent(uint64_t& start, uint64_t& length) override;
    EngineStatus LoadAllocationMap() override;

    // The volume's layout read at opening.
    const NtfsGeometry& Geometry() const { return geometry_; }
    // Records the MFT holds by its own $DATA; 0 when the MFT could not be mapped.
    uint64_t MftRecordCount() const { return mftRecords_; }

  protected:
    FolderKey RootKey() const override { return kNtfsRootKey; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    const DiskReader* SourceReader() const override { return &reader_; }

  private:
    using DataLayout = NtfsDataLayout;
    // How a folder met on a parent chain is filed.
    enum class FolderKind : uint8_t {
        kDirectory,  // a readable directory record: filed under its parent
        kLost,       // unreadable, not a directory, or reused: "LostFolder%d" under the root
    };
    struct FolderState {
        uint32_t parent = 0;
        uint32_t level = 0;  // 1 for a folder filed directly below the root
        FolderKind kind = FolderKind::kDirectory;
    };

    int OpenVolume();
    // Maps the MFT from its own record, read at `cluster` (the MFT or its mirror).
    int LoadMftExtents(uint64_t cluster);
    // Reads `length` bytes at byte `offset` of the volume. Returns 0, 87 past the
    // volume, or the read's result code.
    int ReadVolume(uint64_t offset, void* buffer, size_t length);
    // Volume byte offset of byte `mftByte` of the MFT and how many bytes follow
    // it in the same run; false when no run maps it.
    bool MapMftByte(uint64_t mftByte, uint64_t& volumeOffset, uint64_t& contiguous) const;
    // Reads record `number` as stored (recordSize bytes, no fixups).
    int ReadRawRecord(uint64_t number, uint8_t* record);
    // Reads record `number` with its fixups applied into `record` (recordSize bytes).
    // Returns 0, -1 when it is not a "FILE" record, or a read's result code.
    int ReadMftRecord(uint64_t number, std::vector<uint8_t>& record);
    uint64_t LocationOf(uint64_t number) const;

    int MainPass(uint64_t total, uint64_t& processed, int64_t& remaining);
    void ParseDeletedRecord(uint64_t number, const uint8_t* bytes);
    uint32_t FolderLevelOf(uint64_t parentReference);
    void FileFolder(uint32_t number, const FolderState& state);
    int Progress(int percent, int64_t remaining, uint64_t processed, uint64_t total);

    // The data layout of record `number` (fixed up in `record`). With
    // `followList`, pieces in extension records named by an attribute list are
    // gathered too. Returns 0, 87 when the record has no unnamed data stream.
    int LayoutOf(uint64_t number, const std::vector<uint8_t>& record, bool followList, DataLayout& layout);
    // The value of an $ATTRIBUTE_LIST, resident or read from its runs.
    void ReadAttributeList(const NtfsAttribute& list, std::vector<uint8_t>& bytes);
    // Fills the name of a record whose $FILE_NAME lies in an extension record
    // named by its attribute list.
    void FindListedName(uint64_t number, NtfsFileSummary& summary);
    // Streams the file's bytes to `sink` in pieces of at most 64 KiB.
    int ReadData(const DataLayout& layout, const NtfsDataSink& sink);
    uint32_t ContentCheckOf(uint64_t number, const std::string& name, const std::vector<uint8_t>& record);

    DiskReader reader_;
    uint32_t deviceSectorSize_ = 512;
    uint64_t partitionStart_ = 0;    // device sectors
    uint64_t partitionSectors_ = 0;  // device sectors
    uint64_t volumeBase_ = 0;        // bytes
    uint64_t volumeBytes_ = 0;
    uint16_t letter_ = 0;
    bool bootRead_ = false;
    NtfsGeometry geometry_;
    uint64_t totalClusters_ = 0;
    std::vector<NtfsExtent> mftExtents_;
    uint64_t mftRecords_ = 0;

    std::vector<uint8_t> chunk_;
    std::vector<uint8_t> scratchRecord_;
    std::vector<uint8_t> parentRecord_;
    std::unordered_map<uint32_t, FolderState> folders_;
    std::vector<uint32_t> pendingFolders_;

    std::vector<uint8_t> bitmap_;
    uint64_t bitmapLength_ = 0;
};

}  // namespace sorvane
