// The raw signature-carving engine. It does not walk the disk itself: the deep
// scan hands it, sector by sector, everything that is not file-system
// metadata, and it records a found file for every sector at which a known
// file type starts, named after that sector ("81920.jpg"). Recovery copies the
// measured number of bytes from the start sector on as one contiguous run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "carving/file_signature.h"
#include "device/disk_reader.h"
#include "engines/carved_file_names.h"
#include "engines/log_engine_base.h"
#include "engines/pass_sub_engine.h"
#include "platform/file_handle.h"
#include "results/scan_log.h"

namespace sorvane {

// "File_Type_<start>_<year><month><day><hour><minute>": the name of a raw
// carving scan log. The minute is right-aligned in two characters (a blank
// below 10); the other fields are not padded.
std::string FileTypeLogName(int64_t partitionStart, int year, int month, int day, int hour, int minute);
std::string FileTypeLogNameNow(int64_t partitionStart);

// True for the types whose size comes from a header field or an allocation
// table (compound files, WAV, AVI, WMV, SWF, BMP, CAB, TTF, ICO): the pass
// still examines their sectors one by one, so files inside them are found too.
bool IsExaminedSectorBySector(FileTypeCode type);

// Where the pass stood when it offered the carver a sector, for the progress
// the carver reports while it measures a long file.
struct CarveProgress {
    uint64_t sectorsDone = 0;
    uint64_t totalSectors = 0;
    int32_t remainingSeconds = -1;
};

class CFileTypeRecovery : public CLogEngineBase {
  public:
    CFileTypeRecovery() = default;
    ~CFileTypeRecovery() override;
    CFileTypeRecovery(const CFileTypeRecovery&) = delete;
    CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

    EngineStatus Open(const ScanSource& source) override;
    void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress, void* userData,
                      int weight) override;
    // Carved files have no folders: the path stays empty.
    EngineStatus GetFolderPath(const FoundItemRecord&, std::string&) override { return 0; }
    EngineStatus RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                             uint32_t baseDepth) override;
    EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t* buffer,
                             size_t& byteCount, PreviewProgressCallback progress, void* userData) override;

    // Used by the deep scan: reads the source and appends to the scan log
    // `scanLogName` of the current scan folder (the "File_Type_" log of a scan
    // being resumed). Returns the first failure, else 0.
    EngineStatus Attach(const ScanSource& source, const std::string& scanLogName);

    // Identifies and measures the file that may start at sector `at` (its
    // bytes, to the end of the pass's chunk, in `at.rest`) and records it. The caller sets `sectorsConsumed`
    // to 1 and advances its pass by it afterwards: on success it becomes the
    // sectors the file covers (1 for the types examined sector by sector, and
    // never less than 1). Returns 0 when a file was recorded (`foundCount` grows
    // by one), 87 when nothing carvable starts here, or kCancelCode when the
    // progress callback cancelled; in both latter cases nothing is recorded.
    int RecordCarvedFile(const PassSector& at, const CarveProgress& progress, DiskReader* reader,
                         uint64_t& sectorsConsumed, uint64_t& foundCount);
    // What RecordCarvedFile does for a sector where no carvable file starts
    // (its answer 87), for a caller that knows so without asking it: the state
    // the next identification starts from changes as it would have.
    void PassOverUnrecognised() { job_.PassOverUnrecognised(); }

    // Copies the record's `size` bytes from its location sector on into
    // `destination`, replacing any earlier contents of that file. Returns 0, the
    // destination's creation or write error, 30 when the disk delivers nothing,
    // a read error, or the copy progress callback's non-zero answer.
    int CopyCarvedData(const FoundItemRecord& record, const std::filesystem::path& destination);

    // With true (the default), a carved file whose own metadata names it is
    // listed under that name and dated by it; with false every carved file
    // keeps its number ("81920.jpg") and has no dates.
    void SetNamesFromMetadata(bool on) { namesFromMetadata_ = on; }
    bool NamesFromMetadata() const { return namesFromMetadata_; }

    CScanLog* ScanLog() { return log_.get(); }
    // The carving state of this engine's deep scan; a new scan calls StartScan on it.
    CarveJob& Job() { return job_; }

  protected:
    // Carved files all lie in the root; carving happens only through RecordCarvedFile.
    FolderKey RootKey() const override { return 0; }
    [[nodiscard]] int CopyFileData(const FoundItemRecord& record, const CopyTarget& target) override;
    const DiskReader* SourceReader() const override { return &reader_; }
    uint32_t SectorSize() const { return sectorSize_; }

  private:
    // Reads the source from now on. Returns 0, or 6 when it is not open.
    int TakeSource(const ScanSource& source);
    // The names the log holds already, for a log reattached to go on with.
    void RememberLoggedNames();
    // Sets the recovered file's times to the record's, where it has them.
    static void SetCarvedFileTimes(const FoundItemRecord& record, const std::filesystem::path& destination);

    // Copies the record's bytes to `write(bytes, length)`, calling
    // `report(percent)` after every piece; a non-zero answer of either ends
    // the copy and is returned.
    template <class Write, class Report>
    int CopyRun(const FoundItemRecord& record, Write&& write, Report&& report);

    uint16_t letter_ = 0;
    uint64_t partitionStart_ = 0;
    uint64_t partitionSectors_ = 0;
    uint32_t sectorSize_ = 512;
    DiskReader reader_;
    CarveJob job_;
    bool namesFromMetadata_ = true;
    CarvedNameBook names_;
};

}  // namespace sorvane
