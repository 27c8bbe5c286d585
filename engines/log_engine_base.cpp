#include "engines/log_engine_base.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <system_error>

#include "platform/data_dirs.h"
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

uint32_t SeparatorDepth(const std::string& pathText) {
    uint32_t depth = 0;
    for (size_t i = 0; i + 1 < pathText.size(); ++i)
        if (pathText[i] == '/' || pathText[i] == '\\') ++depth;
    return depth;
}

int CLogEngineBase::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                                 void* userData, int weight) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    userData_ = userData;
    weight_ = weight;
    return 0;
}

int CLogEngineBase::SetSearchCallback(SearchProgressCallback callback, void* userData) {
    searchCallback_ = callback;
    searchUserData_ = userData;
    if (log_) log_->SetSearchCallback(callback, userData);
    return 0;
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

int CLogEngineBase::ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) {
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

int CLogEngineBase::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
    if (folder == nullptr && level != 0) return kErrInvalidParameter;
    if (!log_) return 0;
    const int flushed = log_->Flush();
    uint32_t found = 0;
    int rc = folder ? log_->CountFilesBelow(folder->key, level, found)
                    : log_->CountFilesBelow(RootKey(), 0, found);
    count += found;
    return rc != 0 ? rc : flushed;
}

int CLogEngineBase::GetFolderPath(const FoundItemRecord& record, std::string& path) {
    path.clear();
    if (!log_) return 0;
    const int flushed = log_->Flush();
    std::vector<FoundItemRecord> chain;
    int rc = log_->BuildParentChain(record, chain);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += it->Name() + "/";
    return rc != 0 ? rc : flushed;
}

int CLogEngineBase::FindByExtension(const std::string& pattern, FoundItemList& out) {
    if (!log_) return 0;
    // The log's search flushes it first.
    return log_->FindByExtension(pattern, out);
}

int CLogEngineBase::CopyFileTo(const FoundItemRecord& record, const std::filesystem::path& destination) {
    int rc = CreateFolders(destination.parent_path());
    if (rc != 0) return rc;
    FileHandle out;
    rc = OpenForWriting(destination, WriteMode::kCreateOrTruncate, out);
    if (rc != 0) return rc;
    CopyTarget target;
    target.write = [&out](const uint8_t* bytes, size_t length) { return out.Write(bytes, length); };
    target.extend = [&out](uint64_t length) { return out.Truncate(length) == kSuccess; };
    target.progress = [this, &destination](int percent) {
        return copyProgress_ ? copyProgress_(userData_, percent, 100, 0, destination) : 0;
    };
    target.failed = [this, &destination](int code) {
        if (copyProgress_) copyProgress_(userData_, 100, 100, code, destination);
    };
    target.destination = destination;
    BadSectorMap unreadable;
    ZeroFilledReads zeros(SourceReader(), unreadable);
    rc = KeptOrFailed(CopyFileData(record, target), unreadable, record.size);
    lastCopyUnreadable_ = unreadable.SectorCount();
    if (rc == kErrReadFault && !unreadable.Empty() && copyProgress_)
        copyProgress_(userData_, 100, 100, rc, destination);
    return rc;
}

int CLogEngineBase::RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                                uint32_t baseDepth) {
    lastCopyUnreadable_ = 0;
    if (!record.IsFolder()) return CopyFileTo(record, destination);
    if (!log_) return 0;
    if (int flushed = log_->Flush(); flushed != 0) return flushed;
    // Folders are filled breadth first; every name below the destination comes
    // from the disk and is made safe, so nothing lands outside the destination.
    // The level of a folder is the number of its ancestors plus one; it is
    // taken from the log rather than from the destination path, so recovering
    // a deep folder into a shallow destination still finds its children.
    struct Pending {
        FoundItemRecord folder;
        std::filesystem::path path;
        uint32_t level;
    };
    std::vector<FoundItemRecord> ancestors;
    (void)baseDepth;
    // A lost folder's chain ends where its parent's record is missing; what
    // is known of it still gives the level its children are filed at.
    static_cast<void>(log_->BuildParentChain(record, ancestors));
    // A file that fails does not stop the others; the first failure is the answer.
    int result = 0;
    std::deque<Pending> queue{{record, destination, static_cast<uint32_t>(ancestors.size()) + 1}};
    size_t foldersDone = 0;
    while (!queue.empty() && foldersDone++ < kMaxRecoveredFolders) {
        Pending item = std::move(queue.front());
        queue.pop_front();
        int rc = CreateFolders(item.path);
        if (rc != 0) return rc;
        FoundItemList children;
        rc = log_->ReadChildren(MakeRelationKey(item.folder.key, item.level), children);
        if (rc != 0 && result == 0) result = rc;
        for (const FoundItemRecord& child : children) {
            std::filesystem::path target = item.path / PathFromUtf8(SafeFileName(child.Name()));
            if (child.IsFolder()) {
                if (child.key == item.folder.key) continue;  // a folder never contains itself
                queue.push_back({child, target, item.level + 1});
                continue;
            }
            std::filesystem::path unique = UniqueDestinationPath(target);
            if (unique.empty()) continue;
            rc = CopyFileTo(child, unique);
            if (rc == kCancelCode) return rc;
            if (rc != 0 && result == 0) result = rc;
        }
    }
    return result;
}

int CLogEngineBase::PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath,
                                uint8_t* buffer, size_t& byteCount, PreviewProgressCallback progress,
                                void* userData) {
    tempPath.clear();
    const size_t capacity = byteCount;
    byteCount = 0;
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
