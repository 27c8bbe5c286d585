// The deep scan's results as one set: the five engines' lists merged, each
// file found twice listed once, and operations on a record sent to the engine
// that made it.
#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "engines/exfat_file_data.h"
#include "engines/professional_recovery.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/result_order.h"

namespace sorvane {
namespace {

std::string LowerExtensionOf(const FoundItemRecord& r) { return LowerExtension(r.Name()); }

// A carved file that starts where a file-system file starts is that file when
// their extensions agree (a carved JPEG inside a ".thm" thumbnail counts too).
bool SameCarvedFile(const std::string& fileSystemExt, const std::string& carvedExt) {
    return fileSystemExt == carvedExt || (fileSystemExt == "thm" && carvedExt == "jpg");
}

}  // namespace

uint64_t CProfessionalRecovery::FoundForProgress() {
    // What the user is told has been found must never be more than the list
    // at the end shows: only files that will be listed are counted.
    return ListedSoFar();
}

std::optional<uint64_t> CProfessionalRecovery::DataStartOf(const FoundItemRecord& r) {
    if (r.IsFolder()) return std::nullopt;
    const uint32_t ss = sectorSize_;
    switch (r.Engine()) {
        case EngineCode::kQuickNtfs:
        case EngineCode::kDeepNtfs: {
            std::vector<NtfsRun> runs;
            if (ntfs_.ReadDataRuns(r.location, runs) != 0 || runs.empty() || runs[0].sparse ||
                runs[0].offset < 0)
                return std::nullopt;
            return static_cast<uint64_t>(runs[0].offset) * r.clusterBytes / ss + r.partitionStart;
        }
        case EngineCode::kQuickFat:
        case EngineCode::kDeepFat: {
            if (r.clusterBytes == kFolderClusterBytes) return std::nullopt;
            if (r.key >= 2)
                return static_cast<uint64_t>(r.clusterBytes / ss) * (r.key - 2) + r.partitionStart +
                       r.dataStart;
            if (r.key == 0 && r.partitionStart + r.dataStart >= 32)
                return r.partitionStart + r.dataStart - 32;
            return std::nullopt;
        }
        case EngineCode::kQuickExfat:
        case EngineCode::kDeepExfat: {
            if (r.clusterBytes == kFolderClusterBytes || r.key < 2 || r.clusterBytes % ss != 0)
                return std::nullopt;
            return r.partitionStart + r.dataStart + uint64_t{r.key - 2} * (r.clusterBytes / ss);
        }
        default:
            return std::nullopt;
    }
}

uint64_t CProfessionalRecovery::ListedSoFar(bool complete) {
    // Worked out from the records written since the last call, at most a few
    // times a second and for a few dozen milliseconds each time: the progress
    // callback asks after every chunk, and an NTFS file's start costs a read.
    // A count that lags behind the logs is still never more than the list.
    constexpr size_t kRecordsPerRead = 4096;
    const auto now = std::chrono::steady_clock::now();
    if (!complete && listed_.updated && now - *listed_.updated < std::chrono::milliseconds(200))
        return listed_.count;
    listed_.updated = now;
    const auto deadline = now + std::chrono::milliseconds(50);
    const FoundFileIdentities* quick = nullptr;
    std::vector<FoundItemRecord> fresh;
    for (int slot = 0; slot < 5; ++slot) {
        CScanLog* log = LogOf(slot);
        while (log && log->Count() > listed_.cursor[slot]) {
            if (!complete && std::chrono::steady_clock::now() > deadline) return listed_.count;
            fresh.clear();
            const uint32_t first = listed_.cursor[slot] + 1;
            const uint32_t last =
                static_cast<uint32_t>(std::min<uint64_t>(log->Count(), first + kRecordsPerRead - 1));
            static_cast<void>(log->ReadRange(first, last, fresh));
            if (fresh.empty()) break;  // counted on a later call
            listed_.cursor[slot] += static_cast<uint32_t>(fresh.size());
            for (const FoundItemRecord& r : fresh) CountListed(r, quick);
        }
    }
    return listed_.count;
}

uint64_t CProfessionalRecovery::ShownSoFar(bool complete) {
    const uint64_t listed = ListedSoFar(complete);
    return shownFilter_ ? listed_.shown : listed;
}

void CProfessionalRecovery::LendCarvedVerdicts() {
    // The deep FAT engine copies a file as one run from its first cluster,
    // and the deep NTFS engine a file whose data is one run: the run the
    // carver measured from the same sector, so the carver's structure check
    // holds for it: whole when the structure ended within the file's size;
    // damaged when it broke, or was cut short by another file's start, which
    // then lies inside the run the copy takes. Nothing is read from the disk
    // but the file records of NTFS files that a carved file may match.
    CScanLog* carvedLog = carver_.Log();
    if (!carvedLog || carvedLog->Count() == 0) return;
    struct Carved {
        std::string ext;
        uint64_t size = 0;
        uint32_t check = 0;
    };
    std::map<uint64_t, Carved> carved;
    std::set<std::string> carvedTypes;
    // Where a read fails, the records after it stay as they are.
    carvedLog->ForEachRecordFrom(1, [&](FoundItemRecord& r) {
        const uint32_t check = r.contentCheck;
        if (r.IsFolder() || (check != kContentWhole && check != kContentDamaged)) return;
        carved[uint64_t{r.location}] = Carved{LowerExtensionOf(r), uint64_t{r.size}, check};
        carvedTypes.insert(carved[uint64_t{r.location}].ext);
    });
    if (carved.empty()) return;
    carvedTypes.insert("thm");  // a camera's thumbnail is carved as a JPEG
    for (CScanLog* log : {fat_.Log(), ntfs_.Log()}) {
        if (!log || log->Count() == 0) continue;
        std::vector<FoundItemRecord> lent;
        log->ForEachRecordFrom(1, [&](FoundItemRecord& r) {
            if (r.IsFolder() || r.size == 0 || r.contentCheck != kContentNotChecked) return;
            const std::string ext = LowerExtensionOf(r);
            if (!carvedTypes.count(ext)) return;
            if (r.Engine() == EngineCode::kDeepNtfs) {
                std::vector<NtfsRun> runs;
                if (ntfs_.ReadDataRuns(r.location, runs) != 0 || runs.size() != 1 || runs[0].sparse ||
                    runs[0].length * uint64_t{r.clusterBytes} < r.size)
                    return;
            }
            const std::optional<uint64_t> start = DataStartOf(r);
            if (!start) return;
            auto it = carved.find(*start);
            if (it == carved.end() || !SameCarvedFile(ext, it->second.ext)) return;
            const uint64_t size = r.size;
            const bool whole = it->second.check == kContentWhole && it->second.size <= size;
            const bool damaged = it->second.check == kContentDamaged;
            if (!whole && !damaged) return;
            r.contentCheck = whole ? kContentWhole : kContentDamaged;
            lent.push_back(r);
        });
        for (const FoundItemRecord& r : lent) static_cast<void>(log->RewriteRecord(r));
    }
}

void CProfessionalRecovery::CountListed(const FoundItemRecord& r, const FoundFileIdentities*& quick) {
    if (!CScanLog::IsListedFile(r)) return;
    const EngineCode engine = r.Engine();
    if (engine == EngineCode::kDeepFat || engine == EngineCode::kDeepNtfs) {
        // The quick list is complete before the pass: a deep record of one of
        // its files is never listed.
        if (!quick) quick = &QuickFiles();
        if (quick->Contains(r)) return;
    }
    const uint32_t entryIndex = uint32_t{r.engineSpecific} >> kExfatEntryIndexShift;
    if (engine == EngineCode::kQuickExfat) listed_.quickExfatSets.emplace(uint64_t{r.location}, entryIndex);
    if (engine == EngineCode::kDeepExfat && listed_.quickExfatSets.count({uint64_t{r.location}, entryIndex}))
        return;
    const std::string ext = LowerExtensionOf(r);
    const bool shown = !shownFilter_ || shownFilter_(r);
    if (engine == EngineCode::kRawSignature) {
        auto at = listed_.starts.find(uint64_t{r.location});
        if (at != listed_.starts.end())
            for (const std::string& fileExt : at->second)
                if (SameCarvedFile(fileExt, ext)) return;
        listed_.carved[uint64_t{r.location}] = {ext, shown};
        ++listed_.count;
        listed_.shown += shown ? 1 : 0;
        return;
    }
    ++listed_.count;
    listed_.shown += shown ? 1 : 0;
    const std::optional<uint64_t> start = DataStartOf(r);
    if (!start) return;
    listed_.starts[*start].push_back(ext);
    // A carved file counted before the file-system file that starts at its
    // sector was met is that file: it leaves the count as this one enters.
    auto carved = listed_.carved.find(*start);
    if (carved != listed_.carved.end() && SameCarvedFile(ext, carved->second.first)) {
        listed_.shown -= carved->second.second ? 1 : 0;
        listed_.carved.erase(carved);
        --listed_.count;
    }
}

std::vector<IFileRecoveryParse*> CProfessionalRecovery::Engines() {
    std::vector<IFileRecoveryParse*> engines;
    if (quick_) engines.push_back(quick_.get());
    engines.insert(engines.end(), {&fat_, &ntfs_, &exfat_, &carver_});
    return engines;
}

IFileRecoveryParse* CProfessionalRecovery::EngineFor(const FoundItemRecord& record) {
    switch (record.Engine()) {
        case EngineCode::kQuickNtfs:
        case EngineCode::kQuickFat:
        case EngineCode::kQuickExfat:
            return quick_.get();
        case EngineCode::kDeepNtfs:
            return &ntfs_;
        case EngineCode::kDeepFat:
            return &fat_;
        case EngineCode::kRawSignature:
            return &carver_;
        case EngineCode::kDeepExfat:
            return &exfat_;
    }
    return nullptr;
}

const FoundFileIdentities& CProfessionalRecovery::QuickFiles() {
    if (!quickFiles_) {
        quickFiles_.emplace(sectorSize_);
        if (quick_) {
            FoundItemList files;
            // A quick log that cannot be read leaves nothing to match duplicates against.
            static_cast<void>(
                quick_->FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), files));
            for (const FoundItemRecord& r : files) quickFiles_->Add(r);
        }
    }
    return *quickFiles_;
}

uint32_t CProfessionalRecovery::DeepDuplicates() {
    if (!deepDuplicates_) {
        const FoundFileIdentities& quick = QuickFiles();
        uint32_t count = 0;
        if (quick.Size() > 0) {
            FoundItemList deep;
            // A log that cannot be read counts no duplicates: the total then errs high, never low.
            static_cast<void>(
                fat_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
            static_cast<void>(
                ntfs_.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), deep));
            for (const FoundItemRecord& r : deep) count += quick.Contains(r) ? 1 : 0;
        }
        deepDuplicates_ = count;
    }
    return *deepDuplicates_;
}

void CProfessionalRecovery::DropDuplicates(FoundItemList& list) {
    if (!quick_) return;
    const FoundFileIdentities& quick = QuickFiles();
    if (quick.Size() == 0) return;
    list.erase(
        std::remove_if(list.begin(), list.end(),
                       [&](const FoundItemRecord& r) {
                           EngineCode engine = r.Engine();
                           return (engine == EngineCode::kDeepFat || engine == EngineCode::kDeepNtfs) &&
                                  quick.Contains(r);
                       }),
        list.end());
}

EngineStatus CProfessionalRecovery::ListChildren(const FoundItemRecord* folder, uint32_t level,
                                                 FoundItemList& out) {
    int rc = 0;
    if (folder == nullptr) {
        if (level != 0) return kErrInvalidParameter;
        // Every engine's root is listed even when one fails; the first failure is the answer.
        for (IFileRecoveryParse* engine : Engines()) {
            int listed = engine->ListChildren(nullptr, 0, out);
            if (rc == 0) rc = listed;
        }
        ApplyFolderMerge(out);
    } else if (folder->Engine() != EngineCode::kRawSignature) {
        if (IFileRecoveryParse* engine = EngineFor(*folder)) rc = engine->ListChildren(folder, level, out);
    }
    DropDuplicates(out);
    SortResultList(out);
    return rc;
}

EngineStatus CProfessionalRecovery::CountFiles(const FoundItemRecord* folder, uint32_t level,
                                               uint32_t& count) {
    if (folder == nullptr) {
        if (level != 0) return kErrInvalidParameter;
        // The root's count is what the merged search lists: every engine's
        // files, each file found twice counted once.
        // A log that cannot be read adds nothing to the count.
        FoundItemList all;
        static_cast<void>(FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), all));
        count += static_cast<uint32_t>(
            std::count_if(all.begin(), all.end(), [](const FoundItemRecord& r) { return !r.IsFolder(); }));
        return 0;
    }
    if (folder->Engine() == EngineCode::kRawSignature) return 0;
    CLogEngineBase* deep = folder->Engine() == EngineCode::kDeepFat    ? static_cast<CLogEngineBase*>(&fat_)
                           : folder->Engine() == EngineCode::kDeepNtfs ? static_cast<CLogEngineBase*>(&ntfs_)
                                                                       : nullptr;
    if (deep && quick_ && deep->Log() && QuickFiles().Size() > 0) {
        // A deep folder's count leaves out the files its listing leaves out:
        // those the quick engine found too.
        const int flushed = deep->Log()->Flush();
        const FoundFileIdentities& quick = QuickFiles();
        uint32_t found = 0;
        const int rc = deep->Log()->CountFilesBelow(
            folder->key, level, found, [&](const FoundItemRecord& r) { return !quick.Contains(r); });
        count += found;
        return rc != 0 ? rc : flushed;
    }
    IFileRecoveryParse* engine = EngineFor(*folder);
    return engine ? engine->CountFiles(folder, level, count) : EngineStatus();
}

EngineStatus CProfessionalRecovery::GetFolderPath(const FoundItemRecord& record, std::string& path) {
    if (record.Engine() == EngineCode::kRawSignature) {
        path.clear();
        return 0;
    }
    IFileRecoveryParse* engine = EngineFor(record);
    if (!engine) return 0;
    const int rc = engine->GetFolderPath(record, path);
    const EngineCode code = record.Engine();
    if (rc == 0 &&
        (code == EngineCode::kDeepFat || code == EngineCode::kDeepNtfs || code == EngineCode::kDeepExfat)) {
        // A deep root folder the quick engine named goes by that name.
        const size_t slash = path.find_first_of("/\\");
        if (slash != std::string::npos) {
            const auto& names = MergedFolders().pathNames;
            auto it = names.find({code, path.substr(0, slash)});
            if (it != names.end()) path = it->second + path.substr(slash);
        }
    }
    return rc;
}

const CProfessionalRecovery::FolderMerge& CProfessionalRecovery::MergedFolders() {
    if (folderMerge_) return *folderMerge_;
    folderMerge_.emplace();
    CScanLog* quickLog = LogOf(0);
    if (!quickLog || quickLog->Count() == 0) return *folderMerge_;
    std::vector<FoundItemRecord> quickFolders;
    // A quick log that cannot be read names no folder: both are then listed, as before.
    quickLog->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
        if (r.IsFolder()) quickFolders.push_back(r);
    });
    const std::map<FolderIdentity, std::string> quickNames = QuickFolderNames(quickFolders);
    if (quickNames.empty()) return *folderMerge_;
    const FoundFileIdentities& quick = QuickFiles();
    for (CLogEngineBase* deep : {static_cast<CLogEngineBase*>(&fat_), static_cast<CLogEngineBase*>(&ntfs_),
                                 static_cast<CLogEngineBase*>(&exfat_)}) {
        FoundItemList root;
        if (!deep->Log() || deep->ListChildren(nullptr, 0, root) != 0) continue;
        for (const FoundItemRecord& folder : root) {
            const std::optional<std::string> name = QuickNameOf(quickNames, folder);
            if (!name) continue;
            const FolderIdentity id{folder.Engine(), uint32_t{folder.key}};
            uint32_t unknown = 0;
            // exFAT files found twice are matched by their entry sets, not by
            // these identities: such a folder is renamed, never left out.
            const bool matchable = folder.Engine() != EngineCode::kDeepExfat;
            if (matchable &&
                deep->Log()->CountFilesBelow(folder.key, 1, unknown,
                                             [&](const FoundItemRecord& r) { return !quick.Contains(r); }) ==
                    0 &&
                unknown == 0) {
                folderMerge_->hidden.insert(id);
            } else {
                folderMerge_->names[id] = *name;
                folderMerge_->pathNames[{folder.Engine(), folder.Name()}] = *name;
            }
        }
    }
    return *folderMerge_;
}

void CProfessionalRecovery::ApplyFolderMerge(FoundItemList& rootList) {
    if (!quick_) return;
    const FolderMerge& merge = MergedFolders();
    if (merge.hidden.empty() && merge.names.empty()) return;
    rootList.erase(
        std::remove_if(rootList.begin(), rootList.end(),
                       [&](const FoundItemRecord& r) {
                           return r.IsFolder() && merge.hidden.count({r.Engine(), uint32_t{r.key}}) != 0;
                       }),
        rootList.end());
    for (FoundItemRecord& r : rootList) {
        if (!r.IsFolder()) continue;
        auto it = merge.names.find({r.Engine(), uint32_t{r.key}});
        if (it != merge.names.end()) r.SetName(it->second);
    }
}

void CProfessionalRecovery::GiveCarvedExtensions() {
    CScanLog* carvedLog = carver_.Log();
    if (!carvedLog || carvedLog->Count() == 0) return;
    std::map<uint64_t, FoundItemRecord> carved;
    carvedLog->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
        if (!r.IsFolder()) carved.emplace(uint64_t{r.location}, r);
    });
    for (int slot : {0, 1, 2}) {
        CScanLog* log = LogOf(slot);
        if (!log || log->Count() == 0) continue;
        std::vector<FoundItemRecord> renamed;
        log->ForEachRecordFrom(1, [&](const FoundItemRecord& r) {
            if (r.IsFolder() || r.size == 0 || !LowerExtensionOf(r).empty()) return;
            const std::optional<uint64_t> start = DataStartOf(r);
            if (!start) return;
            auto it = carved.find(*start);
            if (it == carved.end()) return;
            if (std::optional<FoundItemRecord> named = WithCarvedExtension(r, it->second))
                renamed.push_back(*named);
        });
        // A record that cannot be rewritten keeps its name; the carved copy is then listed too.
        for (const FoundItemRecord& r : renamed) static_cast<void>(log->RewriteRecord(r));
    }
}

EngineStatus CProfessionalRecovery::RecoverItem(const FoundItemRecord& record,
                                                const std::filesystem::path& destination,
                                                uint32_t baseDepth) {
    IFileRecoveryParse* engine = EngineFor(record);
    lastCopyUnreadable_ = 0;
    if (!engine) return EngineStatus();
    const EngineStatus rc = engine->RecoverItem(record, destination, baseDepth);
    lastCopyUnreadable_ = engine->UnreadableSectorsOfLastCopy();
    return rc;
}

EngineStatus CProfessionalRecovery::PreviewItem(const FoundItemRecord& record,
                                                std::filesystem::path& tempPath, uint8_t* buffer,
                                                size_t& byteCount, PreviewProgressCallback progress,
                                                void* userData) {
    IFileRecoveryParse* engine = EngineFor(record);
    return engine ? engine->PreviewItem(record, tempPath, buffer, byteCount, progress, userData)
                  : EngineStatus();
}

bool CProfessionalRecovery::FindByExtension(const std::string& pattern, FoundItemList& out) {
    // True when every engine's log was read.
    bool result = true;
    auto search = [&](IFileRecoveryParse& engine, FoundItemList& into) {
        result = engine.FindByExtension(pattern, into) && result;
    };
    if (quick_) search(*quick_, out);
    search(fat_, out);
    search(ntfs_, out);
    DropDuplicates(out);
    {
        // The deep exFAT engine meets again the entry sets of folders the live
        // volume deleted, which the quick scan already listed: the same entry
        // set on disk is the same file.
        std::set<std::pair<uint64_t, uint32_t>> listed;
        for (const FoundItemRecord& r : out)
            if (r.Engine() == EngineCode::kQuickExfat && !r.IsFolder())
                listed.emplace(uint64_t{r.location}, uint32_t{r.engineSpecific} >> kExfatEntryIndexShift);
        FoundItemList deep;
        search(exfat_, deep);
        for (const FoundItemRecord& r : deep)
            if (!listed.count({uint64_t{r.location}, uint32_t{r.engineSpecific} >> kExfatEntryIndexShift}))
                out.push_back(r);
    }

    // Where each file-system file's data starts, with its extension.
    std::map<uint64_t, std::string> starts;
    for (const FoundItemRecord& r : out)
        if (auto start = DataStartOf(r)) starts[*start] = LowerExtensionOf(r);

    FoundItemList carved;
    search(carver_, carved);
    for (const FoundItemRecord& c : carved) {
        auto it = starts.find(uint64_t{c.location});  // a copy: the record is packed
        if (it != starts.end() && SameCarvedFile(it->second, LowerExtensionOf(c))) continue;
        out.push_back(c);
    }
    SortResultList(out);
    return result;
}

}  // namespace sorvane
