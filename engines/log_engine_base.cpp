#include "engines/log_engine_base.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

#include "engines/result_walker.h"
#include "platform/data_dirs.h"
#include "platform/file_time.h"
#include "platform/file_times.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/result_order.h"
#include "results/safe_name.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

int CreateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return 0;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec && !std::filesystem::is_directory(folder)) return ResultFromErrorCode(ec);
    return 0;
}

// Folder trees read from a damaged disk can loop; a recovery stops after this many folders.
constexpr size_t kMaxRecoveredFolders = 1000000;

}  // namespace

void CLogEngineBase::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                                  void* userData, int weight) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    userData_ = userData;
    weight_ = weight;
}

void CLogEngineBase::SetSearchCallback(SearchProgressCallback callback, void* userData) {
    searchCallback_ = callback;
    searchUserData_ = userData;
    if (log_) log_->SetSearchCallback(callback, userData);
}

int CLogEngineBase::ReplaceLog(const std::string& name) {
    log_ = std::make_unique<CScanLog>();
    log_->SetSearchCallback(searchCallback_, searchUserData_);
    return log_->Open(name);
}

int CLogEngineBase::StartQuickScanLog(int64_t partitionStart) {
    const std::string name = FastLogNameNow(partitionStart);
    const std::filesystem::path folder = CScanResumeStore::Instance().CurrentScanFolder();
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) {
        std::error_code ec;
        std::filesystem::remove(folder / (name + suffix), ec);
    }
    return ReplaceLog(name);
}

EngineStatus CLogEngineBase::ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) {
    if (folder == nullptr && level != 0) return kErrInvalidParameter;
    if (!log_) return 0;
    const int flushed = log_->Flush();
    RelationKey relation = folder ? MakeRelationKey(folder->key, level) : MakeRelationKey(RootKey(), 0);
    FoundItemList children;
    int rc = log_->ReadChildren(relation, children);
    out.insert(out.end(), children.begin(), children.end());
    SortResultList(out);
    return rc != 0 ? rc : flushed;
}

EngineStatus CLogEngineBase::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
    if (folder == nullptr && level != 0) return kErrInvalidParameter;
    if (!log_) return 0;
    const int flushed = log_->Flush();
    uint32_t found = 0;
    int rc = folder ? log_->CountFilesBelow(folder->key, level, found)
                    : log_->CountFilesBelow(RootKey(), 0, found);
    count += found;
    return rc != 0 ? rc : flushed;
}

EngineStatus CLogEngineBase::GetFolderPath(const FoundItemRecord& record, std::string& path) {
    path.clear();
    if (!log_) return 0;
    const int flushed = log_->Flush();
    std::vector<FoundItemRecord> chain;
    int rc = log_->BuildParentChain(record, chain);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += it->Name() + "/";
    return rc != 0 ? rc : flushed;
}

bool CLogEngineBase::FindByExtension(const std::string& pattern, FoundItemList& out) {
    if (!log_) return false;
    // The log's search flushes it first.
    return log_->FindByExtension(pattern, out) == 1;
}

int CLogEngineBase::CopyFileTo(const FoundItemRecord& record, const std::filesystem::path& destination) {
    auto failed = [this, &destination](int code) {
        if (copyProgress_) copyProgress_(userData_, 100, 100, code, destination);
    };
    int rc = CreateFolders(destination.parent_path());
    if (rc == 0) {
        FileHandle out;
        rc = OpenForWriting(destination, WriteMode::kCreateOrTruncate, out);
        if (rc == 0) {
            CopyTarget target;
            target.write = [&out](const uint8_t* bytes, size_t length) { return out.Write(bytes, length); };
            target.extend = [&out](uint64_t length) { return out.Truncate(length) == kSuccess; };
            target.progress = [this, &destination](int percent) {
                return copyProgress_ ? copyProgress_(userData_, percent, 100, 0, destination) : 0;
            };
            target.failed = failed;
            target.destination = destination;
            // An unreadable sector of the file becomes zeros: the copy is
            // kept, complete otherwise, and counted as damaged.
            BadSectorMap unreadable;
            {
                ZeroFilledReads zeros(SourceReader(), unreadable);
                rc = KeptOrFailed(CopyFileData(record, target), unreadable, record.size);
            }
            lastCopyUnreadable_ = unreadable.SectorCount();
            if (rc == kErrReadFault && !unreadable.Empty()) failed(rc);
            out.Close();
            if (rc == 0) {
                const ItemTimes times = RecoveredTimes(record);
                // Times that cannot be set cost the file nothing.
                static_cast<void>(SetFileTimes(destination, times.accessed, times.written));
            }
            return rc;
        }
    }
    failed(rc);
    return rc;
}

ItemTimes UtcTimes(const FoundItemRecord& record) {
    return {record.accessed ? UnixFromFileTime(record.accessed) : -1,
            record.written ? UnixFromFileTime(record.written) : -1};
}

ItemTimes WallClockTimes(const FoundItemRecord& record) {
    return {record.accessed ? UnixFromLocalWallClock(record.accessed) : -1,
            record.written ? UnixFromLocalWallClock(record.written) : -1};
}

ItemTimes CLogEngineBase::RecoveredTimes(const FoundItemRecord& record) const { return UtcTimes(record); }

EngineStatus CLogEngineBase::RecoverItem(const FoundItemRecord& record,
                                         const std::filesystem::path& destination, uint32_t /*baseDepth*/) {
    lastCopyUnreadable_ = 0;
    if (!record.IsFolder()) return CopyFileTo(record, destination);
    if (!log_) return 0;
    if (int flushed = log_->Flush(); flushed != 0) return flushed;
    // The level of a folder is the number of its ancestors plus one; it is
    // taken from the log rather than from the destination path, so recovering
    // a deep folder into a shallow destination still finds its children. A
    // lost folder's chain ends where its parent's record is missing; what is
    // known of it still gives the level its children are filed at.
    std::vector<FoundItemRecord> ancestors;
    static_cast<void>(log_->BuildParentChain(record, ancestors));
    if (int rc = CreateFolders(destination); rc != 0) return rc;
    // Where each folder met on the walk was recreated, by its folder path.
    // Every name below the destination comes from the disk and is made safe,
    // so nothing lands outside the destination.
    std::map<std::string, std::filesystem::path> made{{"", destination}};
    // A file that fails does not stop the others; the first failure is the answer.
    int result = 0;
    int cancelled = 0;
    size_t folders = 0;
    const int listed =
        WalkFolder(*this, record, static_cast<uint32_t>(ancestors.size()) + 1, [&](const WalkedItem& item) {
            auto parent = made.find(item.folderPath);
            std::filesystem::path target;
            if (parent == made.end() ||
                !JoinInsideDestination(parent->second, {}, item.record.Name(), target))
                return true;
            if (item.record.IsFolder()) {
                // Folder trees read from a damaged disk can loop.
                if (++folders > kMaxRecoveredFolders) return false;
                if (int rc = CreateFolders(target); rc != 0 && result == 0) result = rc;
                made.emplace(item.folderPath + item.record.Name() + "/", target);
                return true;
            }
            target = UniqueDestinationPath(target);
            if (target.empty()) return true;
            const int rc = CopyFileTo(item.record, target);
            if (rc == kCancelCode) {
                cancelled = rc;
                return false;
            }
            if (rc != 0 && result == 0) result = rc;
            return true;
        });
    if (cancelled != 0) return cancelled;
    return result != 0 ? result : listed;
}

EngineStatus CLogEngineBase::PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath,
                                         uint8_t* buffer, size_t& byteCount, PreviewProgressCallback progress,
                                         void* userData) {
    tempPath.clear();
    const size_t capacity = byteCount;
    byteCount = 0;
    if (record.IsFolder()) return kErrInvalidParameter;  // a folder has no bytes to show
    const std::string name = record.Name();
    std::filesystem::path file = PreviewFileName(PreviewFormOf(name), name);

    // The preview window's bar and cancel hear every step of the copy.
    CopyTarget target;
    target.progress = [progress, userData](int percent) {
        return progress ? progress(userData, percent, 0) : 0;
    };
    target.failed = [](int) {};  // reported once below
    auto fail = [&](int rc) {
        if (progress && rc > 0) progress(userData, 100, rc);
        return rc;
    };

    if (!file.empty()) {
        std::filesystem::path folder = ScanLogDir();
        int rc = CreateFolders(folder);
        if (rc != 0) return fail(rc);
        file = folder / file;
        std::error_code ec;
        std::filesystem::remove(file, ec);
        FileHandle out;
        rc = OpenForWriting(file, WriteMode::kCreateOrTruncate, out);
        if (rc == 0) {
            target.write = [&out](const uint8_t* bytes, size_t length) { return out.Write(bytes, length); };
            target.extend = [&out](uint64_t length) { return out.Truncate(length) == kSuccess; };
            target.destination = file;
            rc = CopyFileData(record, target);
            out.Close();
        }
        if (rc != 0) {
            std::filesystem::remove(file, ec);
            return fail(rc);
        }
        if (Utf8FromPath(file).size() < kPreviewPathCapacity) tempPath = file;
        return 0;
    }

    // Anything else is shown from its first bytes: the copy goes straight into
    // the caller's buffer and stops as soon as the buffer is full, so a large
    // file is read only as far as the preview shows it.
    if (buffer == nullptr || capacity == 0) return 0;
    constexpr int kBufferFull = kCancelCode - 1;
    target.write = [&](const uint8_t* bytes, size_t length) {
        const size_t take = std::min(length, capacity - byteCount);
        std::memcpy(buffer + byteCount, bytes, take);
        byteCount += take;
        return byteCount >= capacity ? kBufferFull : 0;
    };
    int rc = CopyFileData(record, target);
    if (rc == kBufferFull) rc = 0;
    return rc > 0 ? fail(rc) : rc;
}

}  // namespace sorvane
