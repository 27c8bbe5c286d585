#include "results/scan_log.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <deque>
#include <new>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/result_order.h"
#include "results/scan_resume_store.h"

namespace sorvane {

namespace {

constexpr uint64_t kRecordSize = sizeof(FoundItemRecord);
// Above this size a search no longer adds the files of no category: their
// number on a large scan would swamp the result list.
constexpr uint64_t kOtherSearchLimit = 134217727;
constexpr size_t kMaxPatternBytes = 4096;
// Listings read the wanted records sorted by position in runs of at most this
// many records, reading through gaps of up to kMaxGapRecords unwanted ones:
// one large read replaces many single-record seeks.
constexpr uint32_t kRunRecords = 3000;
constexpr uint32_t kMaxGapRecords = 190;
// Distinct extensions whose search decision is remembered during one search.
constexpr size_t kMaxCachedExtensions = 65536;

constexpr std::string_view kEntryMark = " | ";
constexpr std::string_view kListMark = " - [";

uint64_t RecordOffset(uint32_t number) { return (static_cast<uint64_t>(number) - 1) * kRecordSize; }

bool IsValidLogName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

void LowerInPlace(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// An image whose first bytes contradict its extension: kept on disk (and
// counted) but never shown.
bool IsHiddenImage(const FoundItemRecord& r) {
    if (r.IsFolder() || r.contentCheck != 0) return false;
    return IsPhotoExtension(LowerExtension(ResultNameView(r)));
}

}  // namespace

CScanLog::CScanLog() = default;

CScanLog::~CScanLog() { Close(); }

void CScanLog::Close() {
    // Closing has no caller left to tell of a failed write; the scans that
    // write a log flush it themselves and report what fails.
    static_cast<void>(Flush());
    recordFile_.Close();
    relationFile_.Close();
    dirInfoFile_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
    used_ = count_ = recordsAtOpen_ = 0;
    appendPosition_ = 0;
    lostWrite_ = 0;
    relationDirty_ = false;
    listedKnown_ = false;
    listedOnDisk_ = 0;
    foldersOnDisk_ = 0;
    children_.clear();
    folders_.clear();
    recordPath_.clear();
    relationPath_.clear();
    dirInfoPath_.clear();
}

int CScanLog::Open(const std::string& name) {
    return OpenIn(CScanResumeStore::Instance().CurrentScanFolder(), name);
}

int CScanLog::OpenIn(const std::filesystem::path& folder, const std::string& name) {
    Close();
    if (!IsValidLogName(name)) return kErrInvalidName;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ResultFromErrorCode(ec);

    recordPath_ = folder / name;
    relationPath_ = folder / (name + "_Relation");
    dirInfoPath_ = folder / (name + "_DirInfo");
    int rc = OpenForWriting(recordPath_, WriteMode::kOpenOrCreate, recordFile_);
    if (rc != kSuccess) return rc;
    rc = OpenForWriting(relationPath_, WriteMode::kOpenOrCreate, relationFile_);
    if (rc != kSuccess) return rc;
    uint64_t recordBytes = 0, relationBytes = 0;
    if ((rc = recordFile_.Size(recordBytes)) != kSuccess) return rc;
    if ((rc = relationFile_.Size(relationBytes)) != kSuccess) return rc;

    // New records go after the last whole one, so every record keeps the
    // number its position gives it even when the log is scanned into again.
    uint64_t whole = std::min<uint64_t>(recordBytes / kRecordSize, UINT32_MAX);
    count_ = recordsAtOpen_ = static_cast<uint32_t>(whole);
    appendPosition_ = whole * kRecordSize;
    listedKnown_ = whole == 0;
    listedOnDisk_ = 0;
    recordFile_.Seek(appendPosition_);

    if (relationBytes > 0) {
        try {
            std::string text(relationBytes, '\0');
            size_t got = 0;
            // An index that cannot be read to its end lists what could be read.
            static_cast<void>(relationFile_.ReadAt(0, text.data(), text.size(), got));
            text.resize(got);
            ParseRelationText(text, children_);
        } catch (const std::bad_alloc&) {
            children_.clear();
        }
    }

    int result = kSuccess;
    try {
        buffer_.assign(kBufferCapacity, 0);
    } catch (const std::bad_alloc&) {
        result = kErrNotEnoughMemory;
    }

    rc = OpenForWriting(dirInfoPath_, WriteMode::kOpenOrCreate, dirInfoFile_);
    if (rc != kSuccess) return rc;
    uint64_t dirInfoBytes = 0;
    if ((rc = dirInfoFile_.Size(dirInfoBytes)) != kSuccess) return rc;
    if (dirInfoBytes >= kDirInfoEntrySize) {
        // A torn entry at the end (the program died mid-write) is ignored.
        try {
            std::vector<uint8_t> bytes(dirInfoBytes - dirInfoBytes % kDirInfoEntrySize);
            size_t got = 0;
            // Folder names that cannot be read are missing; the records still list.
            static_cast<void>(dirInfoFile_.ReadAt(0, bytes.data(), bytes.size(), got));
            size_t entries = got / kDirInfoEntrySize;
            folders_.resize(entries);
            for (size_t i = 0; i < entries; ++i) {
                std::memcpy(&folders_[i], bytes.data() + i * kDirInfoEntrySize, kDirInfoEntrySize);
                folders_[i].name[kNameFieldSize - 1] = '\0';
            }
        } catch (const std::bad_alloc&) {
            folders_.clear();
        }
    }
    foldersOnDisk_ = folders_.size();
    return result;
}

FoundItemRecord* CScanLog::AppendRecord() {
    if (buffer_.size() < kBufferCapacity) buffer_.assign(kBufferCapacity, 0);
    if (kBufferCapacity - used_ < kRecordSize) SpillBuffer();
    auto* slot = new (buffer_.data() + used_) FoundItemRecord();
    used_ += static_cast<uint32_t>(kRecordSize);
    ++count_;
    slot->recordNumber = count_;
    return slot;
}

bool CScanLog::IsListedFile(const FoundItemRecord& record) {
    return !record.IsFolder() && !IsHiddenImage(record);
}

uint64_t CScanLog::ListedFileCount() {
    if (!listedKnown_) {
        // Written by an earlier run: counted once, from the file.
        listedOnDisk_ = 0;
        std::vector<uint8_t> piece(kBufferCapacity);
        for (uint64_t done = 0; done < appendPosition_ && recordFile_.IsOpen();) {
            size_t got = 0;
            const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), appendPosition_ - done));
            if (recordFile_.ReadAt(done, piece.data(), want, got) != kSuccess || got < kRecordSize) break;
            got -= got % kRecordSize;
            for (size_t off = 0; off < got; off += kRecordSize) {
                FoundItemRecord r;
                std::memcpy(&r, piece.data() + off, kRecordSize);
                listedOnDisk_ += IsListedFile(r) ? 1 : 0;
            }
            done += got;
        }
        listedKnown_ = true;
    }
    uint64_t buffered = 0;
    for (uint32_t off = 0; off + kRecordSize <= used_; off += static_cast<uint32_t>(kRecordSize)) {
        FoundItemRecord r;
        std::memcpy(&r, buffer_.data() + off, kRecordSize);
        buffered += IsListedFile(r) ? 1 : 0;
    }
    return listedOnDisk_ + buffered;
}

int CScanLog::ReadRange(uint32_t first, uint32_t last, std::vector<FoundItemRecord>& out) {
    if (first == 0 || last < first || last > count_) return kErrInvalidParameter;
    if (!recordFile_.IsOpen()) return kErrInvalidHandle;
    SpillBuffer();
    const size_t count = static_cast<size_t>(last - first) + 1;
    std::vector<uint8_t> bytes(count * kRecordSize);
    size_t got = 0;
    const int rc = recordFile_.ReadAt(RecordOffset(first), bytes.data(), bytes.size(), got);
    for (size_t off = 0; off + kRecordSize <= got; off += kRecordSize) {
        out.emplace_back();
        std::memcpy(&out.back(), bytes.data() + off, kRecordSize);
    }
    if (rc != kSuccess) return rc;
    return got == bytes.size() ? kSuccess : kErrHandleEof;
}

uint32_t CScanLog::ForEachRecordFrom(uint32_t first, const std::function<void(FoundItemRecord&)>& visit) {
    constexpr uint32_t kRecordsPerRead = 4096;
    std::vector<FoundItemRecord> records;
    while (first >= 1 && first <= count_) {
        records.clear();
        const uint32_t last = std::min<uint32_t>(count_, first + kRecordsPerRead - 1);
        const uint32_t wanted = last - first + 1;
        static_cast<void>(ReadRange(first, last, records));
        for (FoundItemRecord& r : records) visit(r);
        first += static_cast<uint32_t>(records.size());
        if (records.size() < wanted) break;  // a read failed: the rest later
    }
    return first;
}

void CScanLog::SpillBuffer() {
    if (used_ == 0) return;
    if (listedKnown_) {
        for (uint32_t off = 0; off + kRecordSize <= used_; off += static_cast<uint32_t>(kRecordSize)) {
            FoundItemRecord r;
            std::memcpy(&r, buffer_.data() + off, kRecordSize);
            listedOnDisk_ += IsListedFile(r) ? 1 : 0;
        }
    }
    int rc = kErrInvalidHandle;
    if (recordFile_.IsOpen()) {
        recordFile_.Seek(appendPosition_);
        rc = recordFile_.Write(buffer_.data(), used_);
    }
    // The position moves on even after a failed write, so later records still
    // sit where their numbers say.
    appendPosition_ += used_;
    used_ = 0;
    if (rc != kSuccess && lostWrite_ == kSuccess) lostWrite_ = rc;
}

void CScanLog::AddChild(RelationKey parent, uint32_t recordNumber, FolderKey key, const char* name) {
    children_[parent].push_back(recordNumber);
    relationDirty_ = true;
    if (name != nullptr) {
        DirInfoEntry entry;
        entry.key = key;
        entry.recordNumber = recordNumber;
        CopyNameField(entry.name, kNameFieldSize, name);
        folders_.push_back(entry);
    }
}

void CScanLog::MoveChildren(RelationKey from, RelationKey to) {
    if (from == to) return;
    auto it = children_.find(from);
    if (it == children_.end()) return;
    std::vector<uint32_t> moved = std::move(it->second);
    children_.erase(it);
    std::vector<uint32_t>& target = children_[to];
    for (uint32_t number : moved)
        if (std::find(target.begin(), target.end(), number) == target.end()) target.push_back(number);
    relationDirty_ = true;
}

int CScanLog::Flush() {
    SpillBuffer();
    int rc = lostWrite_;
    lostWrite_ = kSuccess;
    if (rc != kSuccess) return rc;

    if (relationDirty_ && relationFile_.IsOpen()) {
        std::string text = FormatRelationText(children_);
        relationFile_.Seek(0);
        if ((rc = relationFile_.Write(text.data(), text.size())) != kSuccess) return rc;
        // A shorter text than last time must not leave the old tail behind: it
        // would parse as lists that replace the real ones.
        if ((rc = relationFile_.Truncate(text.size())) != kSuccess) return rc;
        relationFile_.Seek(0);
        relationDirty_ = false;
    }
    // Folder entries are only ever appended, so only the new ones are written.
    if (folders_.size() > foldersOnDisk_ && dirInfoFile_.IsOpen()) {
        size_t fresh = folders_.size() - foldersOnDisk_;
        dirInfoFile_.Seek(foldersOnDisk_ * kDirInfoEntrySize);
        rc = dirInfoFile_.Write(folders_.data() + foldersOnDisk_, fresh * kDirInfoEntrySize);
        if (rc != kSuccess) return rc;
        if ((rc = dirInfoFile_.Truncate(folders_.size() * kDirInfoEntrySize)) != kSuccess) return rc;
        dirInfoFile_.Seek(0);
        foldersOnDisk_ = folders_.size();
    }
    return kSuccess;
}

int CScanLog::Sync() {
    int result = kSuccess;
    for (FileHandle* file : {&recordFile_, &relationFile_, &dirInfoFile_}) {
        if (!file->IsOpen()) continue;
        const int rc = file->Sync();
        if (result == kSuccess) result = rc;
    }
    return result;
}

int CScanLog::ReadRecord(uint64_t recordNumber, FoundItemRecord& out) {
    if (recordNumber == 0 || recordNumber > count_) return kErrInvalidParameter;
    if (!recordFile_.IsOpen()) return kErrInvalidHandle;
    SpillBuffer();
    size_t got = 0;
    int rc = recordFile_.ReadAt((recordNumber - 1) * kRecordSize, &out, kRecordSize, got);
    if (rc != kSuccess) return rc;
    return got == kRecordSize ? kSuccess : kErrHandleEof;
}

int CScanLog::RewriteRecord(const FoundItemRecord& record) {
    const uint32_t number = record.recordNumber;
    if (number == 0 || number > count_) return kErrInvalidParameter;
    const uint64_t at = uint64_t{number - 1} * kRecordSize;
    if (at >= appendPosition_) {
        // Still waiting in the buffer.
        if (at - appendPosition_ + kRecordSize > used_) return kErrInvalidParameter;
        std::memcpy(buffer_.data() + (at - appendPosition_), &record, kRecordSize);
        return kSuccess;
    }
    if (!recordFile_.IsOpen()) return kErrInvalidHandle;
    if (listedKnown_) {
        // The count follows what the record says now.
        FoundItemRecord old;
        size_t got = 0;
        if (recordFile_.ReadAt(at, &old, kRecordSize, got) != kSuccess || got != kRecordSize) {
            listedKnown_ = false;
        } else {
            listedOnDisk_ -= IsListedFile(old) ? 1 : 0;
            listedOnDisk_ += IsListedFile(record) ? 1 : 0;
        }
    }
    recordFile_.Seek(at);
    return recordFile_.Write(&record, kRecordSize);
}

int CScanLog::ReadRecordList(const std::vector<uint32_t>& numbers, std::vector<FoundItemRecord>& out) {
    if (numbers.empty()) return kSuccess;
    if (!recordFile_.IsOpen()) return kErrInvalidHandle;
    SpillBuffer();
    uint64_t fileBytes = 0;
    int rc = recordFile_.Size(fileBytes);
    if (rc != kSuccess) return rc;
    const uint64_t available = fileBytes / kRecordSize;

    // (number, index in the list) of every number that names a record.
    std::vector<std::pair<uint32_t, uint32_t>> order;
    order.reserve(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] != 0 && numbers[i] <= available)
            order.emplace_back(numbers[i], static_cast<uint32_t>(i));
    std::sort(order.begin(), order.end());

    enum : uint8_t { kMissing, kRead, kFailed };
    std::vector<FoundItemRecord> slots(numbers.size());
    std::vector<uint8_t> state(numbers.size(), kMissing);
    int firstFailureCode = kSuccess;
    size_t firstFailure = numbers.size();
    std::vector<uint8_t> run;

    for (size_t i = 0; i < order.size();) {
        uint32_t first = order[i].first;
        size_t j = i;
        while (j + 1 < order.size() && order[j + 1].first - order[j].first <= kMaxGapRecords &&
               order[j + 1].first - first < kRunRecords)
            ++j;
        uint32_t last = order[j].first;
        size_t bytes = static_cast<size_t>(last - first + 1) * kRecordSize;
        run.resize(bytes);
        size_t got = 0;
        rc = recordFile_.ReadAt(RecordOffset(first), run.data(), bytes, got);
        for (size_t k = i; k <= j; ++k) {
            uint32_t index = order[k].second;
            uint64_t offset = static_cast<uint64_t>(order[k].first - first) * kRecordSize;
            int recordRc = kSuccess;
            if (rc == kSuccess && offset + kRecordSize <= got) {
                std::memcpy(&slots[index], run.data() + offset, kRecordSize);
                state[index] = kRead;
                continue;
            }
            if (rc != kSuccess) {
                // The run failed: find out which of its records cannot be read.
                size_t one = 0;
                recordRc = recordFile_.ReadAt(RecordOffset(order[k].first), &slots[index], kRecordSize, one);
                if (recordRc == kSuccess) {
                    if (one == kRecordSize) state[index] = kRead;
                    continue;
                }
            } else {
                continue;  // the file ended early: no such record
            }
            state[index] = kFailed;
            if (index < firstFailure) {
                firstFailure = index;
                firstFailureCode = recordRc;
            }
        }
        i = j + 1;
    }

    // Keep the records read before the first failure, in list order.
    size_t kept = 0;
    for (size_t i = 0; i < firstFailure; ++i) {
        if (state[i] != kRead) continue;
        if (kept != i) slots[kept] = slots[i];
        ++kept;
    }
    slots.resize(kept);
    if (out.empty()) {
        out.swap(slots);
    } else {
        out.insert(out.end(), slots.begin(), slots.end());
    }
    return firstFailureCode;
}

int CScanLog::ReadChildren(RelationKey relation, std::vector<FoundItemRecord>& out) {
    if (children_.empty()) return kSuccess;
    auto it = relation == 0 ? children_.begin() : children_.find(relation);
    if (it == children_.end()) return kSuccess;
    std::vector<FoundItemRecord> records;
    int rc = ReadRecordList(it->second, records);
    std::erase_if(records, IsHiddenImage);
    if (out.empty()) {
        out.swap(records);
    } else {
        out.insert(out.end(), records.begin(), records.end());
    }
    SortResultList(out);
    return rc;
}

int CScanLog::CountFilesBelow(FolderKey key, FolderLevel level, uint32_t& count) {
    return CountFilesBelow(key, level, count, nullptr);
}

int CScanLog::CountFilesBelow(FolderKey key, FolderLevel level, uint32_t& count,
                              const std::function<bool(const FoundItemRecord&)>& counted) {
    count = 0;
    std::deque<RelationKey> queue{MakeRelationKey(key, level)};
    // Each list is counted once: a damaged index that files a folder under
    // itself, or twice, must neither loop nor count its files twice.
    std::set<RelationKey> seen;
    std::vector<FoundItemRecord> records;
    while (!queue.empty()) {
        RelationKey relation = queue.front();
        queue.pop_front();
        if (!seen.insert(relation).second) continue;
        auto it = children_.find(relation);
        if (it == children_.end()) continue;
        records.clear();
        int rc = ReadRecordList(it->second, records);
        FolderLevel childLevel = RelationLevel(relation) + 1;
        for (const FoundItemRecord& r : records) {
            if (!r.IsFolder()) {
                if (!counted || counted(r)) ++count;
            } else if (childLevel != 0)
                queue.push_back(MakeRelationKey(r.key, childLevel));
        }
        if (rc != kSuccess) return rc;
    }
    return kSuccess;
}

int CScanLog::FindByExtension(const std::string& pattern, std::vector<FoundItemRecord>& out) {
    std::string_view wanted(pattern);
    if (wanted.size() > kMaxPatternBytes) wanted = wanted.substr(0, kMaxPatternBytes);
    // Records that could not be written are missing from the file: what is
    // there is still searched, but the search does not count as a full read.
    const bool complete = Flush() == kSuccess;
    bool otherWanted = wanted.find(kOtherPattern) != std::string_view::npos;

    FileHandle file;
    if (recordPath_.empty() || OpenReadOnly(recordPath_, file) != kSuccess) return 0;
    uint64_t fileBytes = 0;
    if (file.Size(fileBytes) != kSuccess) return 0;
    if (fileBytes > kOtherSearchLimit) otherWanted = false;

    const std::string& known = KnownExtensionText();
    struct Decision {
        bool photo;
        bool taken;
    };
    std::unordered_map<std::string, Decision> decisions;
    std::string ext, dotExt;

    std::vector<uint8_t> piece(kBufferCapacity);
    uint64_t done = 0;
    int result = 1;
    while (done < fileBytes) {
        size_t got = 0;
        if (file.ReadAt(done, piece.data(), piece.size(), got) != kSuccess || got == 0) break;
        for (size_t off = 0; off + kRecordSize <= got; off += kRecordSize) {
            // Fields are read in place; a record is copied only when taken.
            const uint8_t* bytes = piece.data() + off;
            uint32_t isFolder = 0, contentCheck = 0;
            std::memcpy(&isFolder, bytes + offsetof(FoundItemRecord, isFolder), sizeof isFolder);
            if (isFolder != 0) continue;
            std::memcpy(&contentCheck, bytes + offsetof(FoundItemRecord, contentCheck), sizeof contentCheck);
            const char* field = reinterpret_cast<const char*>(bytes + offsetof(FoundItemRecord, name));
            const void* nul = std::memchr(field, 0, kNameFieldSize);
            std::string_view name(
                field, nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : kNameFieldSize);
            auto take = [&out, bytes] {
                out.emplace_back();
                std::memcpy(&out.back(), bytes, kRecordSize);
            };
            size_t dot = name.rfind('.');
            if (dot == std::string_view::npos || dot + 1 == name.size()) {
                if (otherWanted) take();
                continue;
            }
            ext.assign(name.substr(dot + 1));
            LowerInPlace(ext);
            auto cached = decisions.find(ext);
            Decision d;
            if (cached != decisions.end()) {
                d = cached->second;
            } else {
                dotExt.assign(1, '.');
                dotExt += ext;
                d.photo = IsPhotoExtension(ext);
                // "Other" means no list has the extension as a whole entry: one
                // that only occurs inside another ("ts" in "*.mts") would
                // otherwise be selected by no search at all, and its files
                // could never be listed or recovered.
                d.taken = wanted.find(dotExt) != std::string_view::npos ||
                          (otherWanted && !ListHasExtension(known, ext));
                if (decisions.size() < kMaxCachedExtensions) decisions.emplace(ext, d);
            }
            if (d.photo && contentCheck == 0) continue;
            if (d.taken) take();
        }
        done += got;
        if (searchCallback_ != nullptr) {
            int answer = searchCallback_(searchUserData_, static_cast<int>(done * 100 / fileBytes), 0);
            if (answer != 0) {
                result = answer;
                break;
            }
        }
    }
    SortResultList(out);
    return complete ? result : 0;
}

bool CScanLog::FindFolderRecordByKey(FolderKey key, FoundItemRecord& out) {
    if (!recordFile_.IsOpen()) return false;
    SpillBuffer();
    std::vector<uint8_t> piece(kBufferCapacity);
    uint64_t done = 0;
    for (;;) {
        size_t got = 0;
        if (recordFile_.ReadAt(done, piece.data(), piece.size(), got) != kSuccess || got < kRecordSize)
            return false;
        for (size_t off = 0; off + kRecordSize <= got; off += kRecordSize) {
            FoundItemRecord r;
            std::memcpy(&r, piece.data() + off, kRecordSize);
            if (r.IsFolder() && r.key == key) {
                out = r;
                return true;
            }
        }
        done += got - got % kRecordSize;
    }
}

int CScanLog::BuildParentChain(const FoundItemRecord& record, std::vector<FoundItemRecord>& out) {
    if (children_.empty()) return kSuccess;
    const RelationKey rootKey = children_.begin()->first;
    uint32_t current = record.recordNumber;
    std::unordered_set<uint32_t> visited{current};
    for (;;) {
        const RelationKey* listKey = nullptr;
        for (const auto& [key, list] : children_) {
            if (std::find(list.begin(), list.end(), current) != list.end()) {
                listKey = &key;
                break;
            }
        }
        if (listKey == nullptr || *listKey == rootKey) return kSuccess;
        FolderKey parentKey = RelationFolderKey(*listKey);

        FoundItemRecord parent;
        auto entry = std::find_if(folders_.begin(), folders_.end(),
                                  [parentKey](const DirInfoEntry& e) { return e.key == parentKey; });
        if (entry != folders_.end()) {
            if (ReadRecord(entry->recordNumber, parent) != kSuccess || !parent.IsFolder()) {
                // The name entry is all there is: build the folder from it.
                parent = FoundItemRecord();
                parent.isFolder = 1;
                parent.clusterBytes = kFolderClusterBytes;
                parent.key = parentKey;
                parent.recordNumber = entry->recordNumber;
                parent.SetName(NameFromField(entry->name, kNameFieldSize));
            }
        } else if (!FindFolderRecordByKey(parentKey, parent)) {
            return kErrInvalidParameter;
        }
        const uint32_t parentNumber = parent.recordNumber;
        if (!visited.insert(parentNumber).second) return kSuccess;
        out.push_back(parent);
        current = parentNumber;
    }
}

void CScanLog::ParseRelationText(std::string_view text, std::map<RelationKey, std::vector<uint32_t>>& out) {
    const char* const base = text.data();
    size_t pos = text.find(kEntryMark);
    while (pos != std::string_view::npos) {
        size_t next = text.find(kEntryMark, pos + kEntryMark.size());
        size_t end = next == std::string_view::npos ? text.size() : next;
        size_t p = pos + kEntryMark.size();
        pos = next;

        uint64_t key = 0;
        auto [keyEnd, keyError] = std::from_chars(base + p, base + end, key);
        if (keyError != std::errc()) continue;
        p = static_cast<size_t>(keyEnd - base);
        if (text.substr(p, kListMark.size()) != kListMark) continue;
        p += kListMark.size();

        // A list ends at its "]"; one cut short (no "]" before the next entry
        // or the end) keeps the numbers that a "," completed. Elements that are
        // not record numbers are dropped.
        std::vector<uint32_t> list;
        bool closed = false;
        size_t element = p;
        for (size_t i = p; i < end; ++i) {
            char c = base[i];
            if (c != ',' && c != ']') continue;
            uint64_t number = 0;
            auto [numberEnd, numberError] = std::from_chars(base + element, base + i, number);
            if (numberError == std::errc() && numberEnd == base + i && number != 0 && number <= UINT32_MAX)
                list.push_back(static_cast<uint32_t>(number));
            element = i + 1;
            if (c == ']') {
                closed = true;
                break;
            }
        }
        if (closed || !list.empty()) out[key] = std::move(list);
    }
}

std::string CScanLog::FormatRelationText(const std::map<RelationKey, std::vector<uint32_t>>& children) {
    size_t estimate = 0;
    for (const auto& [key, list] : children) estimate += 32 + list.size() * 11;
    std::string text;
    text.reserve(estimate);
    char digits[24];
    for (const auto& [key, list] : children) {
        text += kEntryMark;
        text.append(digits, std::to_chars(digits, digits + sizeof digits, key).ptr);
        text += kListMark;
        for (size_t i = 0; i < list.size(); ++i) {
            if (i != 0) text += ',';
            text.append(digits, std::to_chars(digits, digits + sizeof digits, list[i]).ptr);
        }
        text += ']';
    }
    return text;
}

}  // namespace sorvane
