#include "engines/log_engine_base.h"

#include <deque>
#include <system_error>

#include "platform/data_dirs.h"
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
    if (ec && !std::filesystem::is_directory(folder)) return ResultFromErrno(ec.value());
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
    int rc = folder ? log_->CountFilesBelow(folder->key, level, found) : log_->CountFilesBelow(RootKey(), 0, found);
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
    return CopyFileData(record, out, destination);
}

int CLogEngineBase::RecoverItem(const FoundItemRecord& record, const std::filesystem::path& destination,
                                uint32_t baseDepth) {
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
            std::filesystem::path target = item.path / SafeFileName(child.Name());
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

int CLogEngineBase::PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t* buffer,
                                size_t& byteCount, PreviewProgressCallback progress, void* userData) {
    tempPath.clear();
    const std::string name = record.Name();
    std::filesystem::path folder = ScanLogDir();
    int rc = CreateFolders(folder);
    if (rc != 0) return rc;
    std::filesystem::path target;
    if (std::string file = PreviewFileName(PreviewFormOf(name), name); !file.empty()) target = folder / file;

    if (!target.empty()) {
        std::error_code ec;
        std::filesystem::remove(target, ec);
        rc = CopyFileTo(record, target);
        byteCount = 0;
        if (rc != 0) {
            std::filesystem::remove(target, ec);
            if (progress && rc > 0) progress(userData, 100, rc);
            return rc;
        }
        if (target.string().size() < kPreviewPathCapacity) tempPath = target;
        if (progress) progress(userData, 100, 0);
        return 0;
    }

    // Anything else: the first bytes go into the caller's buffer, by way of a
    // scratch file (engines copy files, not buffers).
    std::filesystem::path scratch = folder / "tmp.bin";
    rc = CopyFileTo(record, scratch);
    size_t capacity = byteCount;
    byteCount = 0;
    if (rc == 0 && buffer != nullptr && capacity > 0) {
        FileHandle in;
        rc = OpenReadOnly(scratch, in);
        if (rc == 0) {
            size_t got = 0;
            rc = in.ReadAt(0, buffer, capacity, got);
            byteCount = got;
        }
    }
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    if (progress) progress(userData, 100, rc > 0 ? rc : 0);
    return rc;
}

}  // namespace sorvane
