#include "engines/file_type_recovery.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <vector>

#include "carving/carved_file_bytes.h"
#include "carving/carved_file_measure.h"
#include "carving/file_metadata.h"
#include "platform/data_dirs.h"
#include "platform/file_time.h"
#include "platform/file_times.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/safe_name.h"

namespace sorvane {
std::string FileTypeLogName(int64_t partitionStart, int year, int month, int day, int hour, int minute) {
    char text[96];
    std::snprintf(text, sizeof text, "File_Type_%lld_%d%d%d%d%2d", static_cast<long long>(partitionStart),
                  year, month, day, hour, minute);
    return text;
}

std::string FileTypeLogNameNow(int64_t partitionStart) {
    std::time_t now = std::time(nullptr);
    const std::tm local = LocalTimeOf(now);
    return FileTypeLogName(partitionStart, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                           local.tm_hour, local.tm_min);
}

bool IsExaminedSectorBySector(FileTypeCode type) {
    switch (type) {
        case kTypeDoc:
        case kTypeOle:
        case kTypeXls:
        case kTypePpt:
        case kTypeWav:
        case kTypeAvi:
        case kTypeWmv:
        case kTypeSwf:
        case kTypeBmp:
        case kTypeCab:
        case kTypeTtf:
        case kTypeIco:
            return true;
        default:
            return false;
    }
}

CFileTypeRecovery::~CFileTypeRecovery() {
    log_.reset();
    reader_.Close();
}

EngineStatus CFileTypeRecovery::Open(const ScanSource& source) {
    log_.reset();
    names_.Clear();
    int logRc = ReplaceLog(FileTypeLogNameNow(source.IsImage() ? 0 : static_cast<int64_t>(source.start)));
    int rc = TakeSource(source);
    return rc != 0 ? rc : logRc;
}

EngineStatus CFileTypeRecovery::Attach(const ScanSource& source, const std::string& scanLogName) {
    int rc = TakeSource(source);
    int logRc = ReplaceLog(scanLogName);
    RememberLoggedNames();
    return rc != 0 ? rc : logRc;
}

int CFileTypeRecovery::TakeSource(const ScanSource& source) {
    letter_ = source.letter;
    partitionStart_ = source.IsImage() ? 0 : source.start;
    partitionSectors_ = source.IsImage() ? 0 : source.length;
    sectorSize_ = source.sectorSize;
    reader_ = source.reader;
    return reader_.IsOpen() ? 0 : kErrInvalidHandle;
}

void CFileTypeRecovery::RememberLoggedNames() {
    names_.Clear();
    // A log that cannot be read names nothing: a name may then be given twice, never lost.
    if (log_) log_->ForEachRecordFrom(1, [this](const FoundItemRecord& r) { names_.Remember(r.Name()); });
}

void CFileTypeRecovery::SetCarvedFileTimes(const FoundItemRecord& record,
                                           const std::filesystem::path& destination) {
    const uint64_t written = record.written, accessed = record.accessed;
    if (written == 0 || destination.empty()) return;
    // The file is whole either way; a time that cannot be set leaves today's.
    static_cast<void>(
        SetFileTimes(destination, accessed ? UnixFromFileTime(accessed) : -1, UnixFromFileTime(written)));
}

void CFileTypeRecovery::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                                     void* userData, int weight) {
    CLogEngineBase::SetCallbacks(scanProgress, copyProgress, userData, weight);
    job_.scanProgress = scanProgress;
    job_.userData = userData;
    job_.weight = weight;
}

int CFileTypeRecovery::RecordCarvedFile(const PassSector& at, const CarveProgress& progress,
                                        DiskReader* reader, uint64_t& sectorsConsumed, uint64_t& foundCount) {
    const uint32_t sectorSize = at.sectorSize;
    const uint64_t sector = at.absolute;
    sectorSize_ = sectorSize;
    CarveRequest request;
    request.sectorSize = sectorSize;
    request.reader = reader;
    request.buffer = at.rest.Data();
    request.length = at.rest.Size();
    request.startSector = sector;
    request.sectorsDone = progress.sectorsDone;
    request.totalSectors = progress.totalSectors;
    request.remainingSeconds = progress.remainingSeconds;
    request.foundCount = foundCount;
    CarvedFile found;
    int rc = IdentifyFileAt(job_, request, found);
    if (rc != 0) return rc;
    const std::string& name = found.name;
    const FileTypeCode type = found.type;
    const uint64_t size = found.size;
    if (!log_) return kErrInvalidParameter;  // nowhere to record it: the pass moves on by one sector

    FoundItemRecord carved;
    carved.letter = letter_;
    carved.engineCode = static_cast<uint32_t>(EngineCode::kRawSignature);
    carved.isFolder = 0;
    carved.contentCheck = ContentCheckValue(found.verdict);
    carved.key = 0;
    carved.clusterBytes = kFolderClusterBytes;
    carved.size = size;
    carved.dataStart = 0;
    carved.location = sector;
    carved.SetName(name);
    if (namesFromMetadata_ && size > 0) {
        // The job still stands at this file's start, and its window holds the
        // file's first bytes: most readers need no more.
        CarvedFileBytes bytes(job_, size);
        FileMetadata metadata;
        if (ReadFileMetadata(LowerExtension(name), bytes, metadata))
            carved = NamedFromMetadata(carved, metadata, names_);
    }

    FoundItemRecord* record = log_->AppendRecord();
    const uint32_t number = record->recordNumber;
    *record = carved;
    record->recordNumber = number;
    log_->AddChild(0, number, 0, nullptr);

    if (IsExaminedSectorBySector(type) || sectorSize == 0) {
        sectorsConsumed = 1;
    } else {
        // A file measured as empty still costs its first sector, or the pass
        // would never move on.
        sectorsConsumed = std::max<uint64_t>(1, (size + sectorSize - 1) / sectorSize);
    }
    ++foundCount;
    return 0;
}

template <class Write, class Report>
int CFileTypeRecovery::CopyRun(const FoundItemRecord& record, Write&& write, Report&& report) {
    uint32_t ss = sectorSize_;
    if (ss == 0 || ss > kMaxCarveChunk) return kErrInvalidParameter;
    std::vector<uint8_t> buffer(kMaxCarveChunk);
    const uint64_t size = record.size;
    uint64_t remaining = size;
    uint64_t toRead = (size + ss - 1) / ss * ss;
    uint64_t sectorsRead = 0;
    while (toRead > 0) {
        uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kMaxCarveChunk, toRead) / ss);
        uint32_t got = 0;
        int rc = ReadSectors(count, reader_, buffer.data(), record.location + sectorsRead, ss, &got);
        if (got == 0) return kErrReadFault;
        uint64_t bytes = std::min<uint64_t>(uint64_t{got} * ss, remaining);
        if (int w = write(buffer.data(), static_cast<size_t>(bytes)); w != 0) return w;
        remaining -= bytes;
        toRead -= std::min<uint64_t>(toRead, uint64_t{got} * ss);
        sectorsRead += got;
        if (rc != 0) return rc;  // what the disk delivered is kept, then the error ends the copy
        int percent = size ? static_cast<int>((size - remaining) * 100 / size) : 100;
        if (int answer = report(percent); answer != 0) return answer;
    }
    return 0;
}

int CFileTypeRecovery::CopyCarvedData(const FoundItemRecord& record,
                                      const std::filesystem::path& destination) {
    FileHandle out;
    // An existing file is replaced whole, so no tail of an earlier, longer
    // file survives behind the copied bytes.
    lastCopyUnreadable_ = 0;
    int rc = OpenForWriting(destination, WriteMode::kCreateOrTruncate, out);
    if (rc != 0) return rc;
    BadSectorMap unreadable;
    {
        ZeroFilledReads zeros(&reader_, unreadable);
        rc = CopyRun(
            record, [&out](const uint8_t* bytes, size_t length) { return out.Write(bytes, length); },
            [&](int percent) {
                return copyProgress_ ? copyProgress_(userData_, percent, 100, 0, destination) : 0;
            });
    }
    rc = KeptOrFailed(rc, unreadable, record.size);
    lastCopyUnreadable_ = unreadable.SectorCount();
    if (rc == kErrReadFault && copyProgress_) copyProgress_(userData_, 100, 100, kErrReadFault, destination);
    out.Close();
    if (rc == 0) SetCarvedFileTimes(record, destination);
    return rc;
}

int CFileTypeRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    int rc = CopyRun(record, target.write,
                     [&](int percent) { return target.progress ? target.progress(percent) : 0; });
    if (rc == kErrReadFault && target.failed) target.failed(kErrReadFault);
    if (rc == 0) SetCarvedFileTimes(record, target.destination);
    return rc;
}

EngineStatus CFileTypeRecovery::RecoverItem(const FoundItemRecord& record,
                                            const std::filesystem::path& destination,
                                            uint32_t /*baseDepth*/) {
    if (record.IsFolder()) return 0;  // carved files are never folders
    if (destination.empty() || !destination.has_filename()) return kErrInvalidParameter;
    std::filesystem::path parent = destination.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        if (!std::filesystem::exists(parent, ec)) {
            std::filesystem::create_directories(parent, ec);
            if (ec) {
                int code = ResultFromErrorCode(ec);
                if (code != kErrFileExists && code != kErrAlreadyExists) return code;
            }
        }
    }
    return CopyCarvedData(record, destination);
}

EngineStatus CFileTypeRecovery::PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath,
                                            uint8_t* buffer, size_t& byteCount,
                                            PreviewProgressCallback progress, void* userData) {
    tempPath.clear();
    const std::string name = record.Name();
    const std::string fileName = PreviewFileName(PreviewFormOf(name), name);

    auto fail = [&](int code) {
        if (progress) progress(userData, 100, code);
        return code;
    };

    if (fileName.empty()) {
        // Anything else is shown from its first bytes.
        uint32_t ss = sectorSize_;
        const uint64_t recordSize = record.size;  // a packed field: copied before std::min binds it
        size_t want = static_cast<size_t>(std::min<uint64_t>(byteCount, recordSize));
        byteCount = 0;
        if (!buffer || ss == 0) return fail(kErrInvalidParameter);
        std::vector<uint8_t> sectors((want + ss - 1) / ss * ss);
        uint32_t got = 0;
        int rc = sectors.empty() ? 0
                                 : ReadSectors(static_cast<uint32_t>(sectors.size() / ss), reader_,
                                               sectors.data(), record.location, ss, &got);
        size_t copied = std::min<size_t>(want, size_t{got} * ss);
        std::copy_n(sectors.begin(), copied, buffer);
        byteCount = copied;
        if (rc != 0 && copied == 0) return fail(rc);
        if (progress) progress(userData, 100, 0);
        return 0;
    }

    byteCount = 0;
    std::filesystem::path folder = ScanLogDir();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::filesystem::path path = folder / PathFromUtf8(fileName);
    std::filesystem::remove(path, ec);
    FileHandle out;
    int rc = OpenForWriting(path, WriteMode::kCreateOrTruncate, out);
    if (rc == 0) {
        rc = CopyRun(
            record, [&out](const uint8_t* bytes, size_t length) { return out.Write(bytes, length); },
            [&](int percent) { return progress ? progress(userData, percent, 0) : 0; });
        out.Close();
    }
    if (rc != 0) {
        std::filesystem::remove(path, ec);
        return rc > 0 ? fail(rc) : rc;
    }
    if (path.native().size() < kPreviewPathCapacity) tempPath = path;
    return 0;
}

}  // namespace sorvane
