#include "results/scan_resume_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "platform/data_dirs.h"
#include "platform/file_handle.h"
#include "platform/file_time.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/text_encoding.h"
#include "platform/volume_registry.h"
#include "results/scan_log.h"
#include "results/target_fingerprint.h"

namespace sorvane {

namespace {

constexpr size_t kImagePathOffset = 80;
constexpr size_t kScanFolderOffset = 600;

std::mutex gInstanceMutex;
std::unique_ptr<CScanResumeStore> gInstance;

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

bool PutPath(uint8_t* field, const std::string& text) {
    std::u16string units = Utf8ToUtf16(text);
    // A path that does not survive the round trip (not UTF-8) or does not fit
    // would be stored as some other path.
    if (units.size() >= kResumePathUnits || Utf16ToUtf8(units) != text) return false;
    if (units.find(u'\0') != std::u16string::npos) return false;
    std::memset(field, 0, kResumePathUnits * 2);
    for (size_t i = 0; i < units.size(); ++i) {
        field[2 * i] = static_cast<uint8_t>(units[i]);
        field[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
    }
    return true;
}

std::string GetPath(const uint8_t* field) {
    size_t n = 0;
    while (n < kResumePathUnits && (field[2 * n] | field[2 * n + 1]) != 0) ++n;
    return Utf16LeBytesToUtf8(field, n);
}

std::string FolderText(const std::filesystem::path& folder) {
    std::string text = Utf8FromPath(folder);
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

std::string_view WithoutTrailingSeparators(std::string_view text) {
    while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.remove_suffix(1);
    return text;
}

bool SameFolder(std::string_view a, std::string_view b) {
    return CompareNamesIgnoringCase(WithoutTrailingSeparators(a), WithoutTrailingSeparators(b)) == 0;
}

// Last-write time of a file as a FILETIME; 0 when it cannot be read.
uint64_t LastWriteFileTime(const std::filesystem::path& path) {
    std::error_code ec;
    auto stamp = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::file_clock::to_sys(stamp).time_since_epoch())
                  .count();
    int64_t seconds = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --seconds;
    }
    return FileTimeFromUnix(seconds, static_cast<uint32_t>(rest));
}

uint64_t VolumeFreeBytes(uint32_t letter) {
    uint64_t bytes = 0;
    if (GetVolumeFreeBytes(letter, bytes) != kSuccess) return 0;
    return bytes;
}

// An image is known by what it is, not by how it was spelt: "./a.img",
// "/x/a.img" and "/x//a.img" are one image. Kept as UTF-8 on every system.
std::string ImageKey(const std::filesystem::path& imagePath) {
    std::error_code ec;
    std::filesystem::path canonical =
        std::filesystem::weakly_canonical(std::filesystem::absolute(imagePath, ec), ec);
    return Utf8FromPath(ec || canonical.empty() ? imagePath.lexically_normal() : canonical);
}

}  // namespace

bool EncodeResumeRecord(const ResumeRecord& r, uint8_t* bytes) {
    uint8_t out[kResumeRecordSize] = {};
    PutU32(out + 0, r.driveIndex);
    PutU64(out + 8, r.rangeStart);
    PutU64(out + 16, r.rangeLength);
    PutU64(out + 24, r.runStart);
    PutU64(out + 32, r.runLength);
    PutU64(out + 40, r.runPosition);
    PutU64(out + 48, r.sectorsDone);
    PutU64(out + 56, r.filesFound);
    PutU64(out + 64, r.freeBytes);
    PutU64(out + 72, r.imageTime);
    if (!PutPath(out + kImagePathOffset, r.imagePath) || !PutPath(out + kScanFolderOffset, r.scanFolder))
        return false;
    std::memcpy(bytes, out, kResumeRecordSize);
    return true;
}

ResumeRecord DecodeResumeRecord(const uint8_t* bytes) {
    ResumeRecord r;
    r.driveIndex = GetU32(bytes + 0);
    r.rangeStart = GetU64(bytes + 8);
    r.rangeLength = GetU64(bytes + 16);
    r.runStart = GetU64(bytes + 24);
    r.runLength = GetU64(bytes + 32);
    r.runPosition = GetU64(bytes + 40);
    r.sectorsDone = GetU64(bytes + 48);
    r.filesFound = GetU64(bytes + 56);
    r.freeBytes = GetU64(bytes + 64);
    r.imageTime = GetU64(bytes + 72);
    r.imagePath = GetPath(bytes + kImagePathOffset);
    r.scanFolder = GetPath(bytes + kScanFolderOffset);
    return r;
}

int ParseResumeTable(std::span<const uint8_t> bytes, uint64_t& counter, std::vector<ResumeRecord>& records) {
    counter = 0;
    records.clear();
    if (bytes.size() < kResumeTableHeaderSize) return kErrInvalidParameter;
    counter = GetU64(bytes.data());
    size_t count = (bytes.size() - kResumeTableHeaderSize) / kResumeRecordSize;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i)
        records.push_back(DecodeResumeRecord(bytes.data() + kResumeTableHeaderSize + i * kResumeRecordSize));
    return kSuccess;
}

CScanResumeStore& CScanResumeStore::Instance() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance = std::make_unique<CScanResumeStore>(ScanLogDir());
    return *gInstance;
}

void CScanResumeStore::ResetInstanceForTests() {
    std::lock_guard lock(gInstanceMutex);
    gInstance.reset();
}

CScanResumeStore::CScanResumeStore(std::filesystem::path baseFolder) : base_(std::move(baseFolder)) {
    std::lock_guard lock(mutex_);
    LoadLocked();
}

int CScanResumeStore::Load() {
    std::lock_guard lock(mutex_);
    return LoadLocked();
}

int CScanResumeStore::LoadLocked() {
    counter_ = 0;
    records_.clear();
    const std::filesystem::path config = base_ / "config";
    const std::filesystem::path temporary = base_ / "config.tmp";
    std::error_code ec;
    // A save that died between removing the old table and renaming the new one
    // left only "config.tmp", which is then complete.
    if (!std::filesystem::exists(config, ec) && std::filesystem::is_regular_file(temporary, ec))
        std::filesystem::rename(temporary, config, ec);

    FileHandle file;
    if (OpenReadOnly(config, file) != kSuccess) return kErrInvalidParameter;
    uint64_t size = 0;
    if (file.Size(size) != kSuccess || size < kResumeTableHeaderSize) return kErrInvalidParameter;
    // A table of more than a million scans is not one this program wrote.
    constexpr uint64_t kMaxTableBytes = kResumeTableHeaderSize + 1000000ull * kResumeRecordSize;
    size = std::min(size, kMaxTableBytes);
    std::vector<uint8_t> bytes(size);
    size_t got = 0;
    int rc = file.ReadAt(0, bytes.data(), bytes.size(), got);
    bytes.resize(got);
    int parsed = ParseResumeTable(bytes, counter_, records_);
    if (rc != kSuccess) return kErrReadFault;
    return parsed;
}

int CScanResumeStore::Save() {
    std::lock_guard lock(mutex_);
    return SaveLocked();
}

int CScanResumeStore::SaveLocked() {
    std::vector<uint8_t> bytes(kResumeTableHeaderSize, 0);
    PutU64(bytes.data(), counter_);
    uint8_t record[kResumeRecordSize];
    for (const ResumeRecord& r : records_) {
        // Records loaded from disk always encode; a record that does not is
        // left out rather than stored as a different path.
        if (!EncodeResumeRecord(r, record)) continue;
        bytes.insert(bytes.end(), record, record + kResumeRecordSize);
    }

    std::error_code ec;
    std::filesystem::create_directories(base_, ec);
    if (ec) return ResultFromErrorCode(ec);
    const std::filesystem::path config = base_ / "config";
    const std::filesystem::path temporary = base_ / "config.tmp";
    FileHandle file;
    int rc = OpenForWriting(temporary, WriteMode::kCreateOrTruncate, file);
    if (rc == kSuccess) rc = file.Write(bytes.data(), bytes.size());
    // The new table must be on the disk before it replaces the old one, or a
    // power cut could leave "config" empty.
    if (rc == kSuccess) rc = file.Sync();
    file.Close();
    if (rc != kSuccess) {
        std::filesystem::remove(temporary, ec);
        return rc;
    }
    std::filesystem::rename(temporary, config, ec);
    if (ec) {
        rc = ResultFromErrorCode(ec);
        std::filesystem::remove(temporary, ec);
        return rc;
    }
    // The table is in place; a folder that cannot be synced only leaves its
    // rename less sure to survive a power cut.
    static_cast<void>(SyncFolder(base_));
    return kSuccess;
}

std::filesystem::path CScanResumeStore::NumberedFolder(uint64_t number) const {
    return base_ / (std::to_string(number) + "/");
}

std::filesystem::path CScanResumeStore::NewScanFolder() {
    std::lock_guard lock(mutex_);
    ++counter_;
    resuming_ = false;
    resumedFolder_.clear();
    std::filesystem::path folder = NumberedFolder(counter_);
    DeleteScanLocked(folder);
    return folder;
}

std::filesystem::path CScanResumeStore::CurrentScanFolder() const {
    std::lock_guard lock(mutex_);
    if (resuming_) return resumedFolder_;
    return NumberedFolder(counter_);
}

bool CScanResumeStore::IsOwnScanFolder(const std::filesystem::path& folder) const {
    const std::string whole = Utf8FromPath(folder);
    const std::string_view text = WithoutTrailingSeparators(whole);
    std::error_code ec;
    const std::filesystem::path target = PathFromUtf8(text);
    const std::string name = Utf8FromPath(target.filename());
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) return false;
    // A folder that does not exist yet is judged by where it would be: its
    // parent must be the base folder itself.
    const std::filesystem::path canonicalBase = std::filesystem::weakly_canonical(base_, ec);
    if (ec) return false;
    const auto status = std::filesystem::symlink_status(target, ec);
    if (std::filesystem::is_symlink(status)) return false;
    const std::filesystem::path parent = std::filesystem::weakly_canonical(target.parent_path(), ec);
    if (ec) return false;
    return parent == canonicalBase;
}

bool CScanResumeStore::Resume(size_t index, ResumeRecord& out) {
    // The table is read from disk and may be damaged or written by someone
    // else: a record whose folder is not one of this store's own is never
    // followed, or a resumed scan would write its logs wherever it points.
    if (!IsOwnScanFolder(records_[index].scanFolder)) {
        std::fprintf(stderr,
                     "sorvane: an earlier scan's record names a folder outside %s; the record is dropped\n",
                     Utf8FromPath(base_).c_str());
        records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
        SaveLocked();
        resuming_ = false;
        resumedFolder_.clear();
        return false;
    }
    resuming_ = true;
    resumedFolder_ = records_[index].scanFolder;
    out = records_[index];
    return true;
}

bool CScanResumeStore::FindForPartition(uint32_t driveIndex, uint64_t start, uint64_t length, uint32_t letter,
                                        uint64_t fingerprint, ResumeRecord& out) {
    uint64_t freeBytes = VolumeFreeBytes(letter);
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < records_.size(); ++i) {
        const ResumeRecord& r = records_[i];
        if (r.driveIndex != driveIndex || r.rangeStart != start || r.rangeLength != length) continue;
        if (uint64_t kept = 0; LoadTargetFingerprint(PathFromUtf8(r.scanFolder), kept) && kept != fingerprint)
            continue;
        if (r.freeBytes == freeBytes) {
            if (Resume(i, out)) return true;
            break;
        }
        std::string stale = r.scanFolder;
        DeleteScanLocked(stale);
        break;
    }
    resuming_ = false;
    resumedFolder_.clear();
    return false;
}

bool CScanResumeStore::FindForImage(const std::filesystem::path& imagePath, ResumeRecord& out) {
    uint64_t imageTime = LastWriteFileTime(imagePath);
    const std::string key = ImageKey(imagePath);
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < records_.size(); ++i) {
        const ResumeRecord& r = records_[i];
        if (r.imagePath.empty() || r.imagePath != key) continue;
        if (r.imageTime == imageTime) {
            if (Resume(i, out)) return true;
            break;
        }
        std::string stale = r.scanFolder;
        DeleteScanLocked(stale);
        break;
    }
    resuming_ = false;
    resumedFolder_.clear();
    return false;
}

int CScanResumeStore::WriteProgress(uint32_t letter, uint32_t driveIndex, uint64_t start, uint64_t length,
                                    uint64_t runStart, uint64_t runLength, uint64_t position, uint64_t done,
                                    uint64_t found, const std::filesystem::path& scanFolder,
                                    const std::filesystem::path& imagePath) {
    ResumeRecord fresh;
    fresh.driveIndex = driveIndex;
    fresh.rangeStart = start;
    fresh.rangeLength = length;
    fresh.runStart = runStart;
    fresh.runLength = runLength;
    fresh.runPosition = position;
    fresh.sectorsDone = done;
    fresh.filesFound = found;
    fresh.scanFolder = FolderText(scanFolder);
    const bool image = !imagePath.empty();
    if (image) {
        fresh.imagePath = ImageKey(imagePath);
        fresh.imageTime = LastWriteFileTime(imagePath);
    } else {
        fresh.freeBytes = VolumeFreeBytes(letter);
    }
    uint8_t probe[kResumeRecordSize];
    if (!EncodeResumeRecord(fresh, probe)) return kErrFilenameTooLong;

    std::lock_guard lock(mutex_);
    auto same = std::find_if(records_.begin(), records_.end(), [&](const ResumeRecord& r) {
        if (image) return !r.imagePath.empty() && r.imagePath == fresh.imagePath;
        // Another folder of the same range is another disk's scan: the lookup
        // at the start deleted this disk's older ones.
        return r.driveIndex == driveIndex && r.rangeStart == start && r.rangeLength == length &&
               SameFolder(r.scanFolder, fresh.scanFolder);
    });
    // Unlike a lookup at the start of a scan, a record that no longer matches
    // the volume is not stale here: the folder it names may be the one this
    // scan has just filled. The record is brought up to date instead.
    if (same == records_.end()) {
        records_.push_back(fresh);
    } else if (same->freeBytes == fresh.freeBytes && same->imageTime == fresh.imageTime &&
               SameFolder(same->scanFolder, fresh.scanFolder)) {
        same->runStart = runStart;
        same->runLength = runLength;
        same->runPosition = position;
        same->sectorsDone = done;
        same->filesFound = found;
    } else {
        *same = fresh;
    }
    return SaveLocked();
}

int CScanResumeStore::MoveToDrive(const std::filesystem::path& folder, uint32_t driveIndex) {
    const std::string text = Utf8FromPath(folder);
    std::lock_guard lock(mutex_);
    auto record = std::find_if(records_.begin(), records_.end(),
                               [&](const ResumeRecord& r) { return SameFolder(r.scanFolder, text); });
    if (record == records_.end()) return kErrFileNotFound;
    record->driveIndex = driveIndex;
    std::rotate(records_.begin(), record, record + 1);
    return SaveLocked();
}

int CScanResumeStore::DeleteScan(const std::filesystem::path& folder) {
    std::lock_guard lock(mutex_);
    return DeleteScanLocked(folder);
}

int CScanResumeStore::DeleteScanLocked(const std::filesystem::path& folder) {
    const std::string text = Utf8FromPath(folder);
    auto record = std::find_if(records_.begin(), records_.end(),
                               [&](const ResumeRecord& r) { return SameFolder(r.scanFolder, text); });
    if (record != records_.end()) records_.erase(record);

    std::error_code ec;
    std::filesystem::path target(WithoutTrailingSeparators(text));
    if (target.empty() || !std::filesystem::exists(std::filesystem::symlink_status(target, ec)))
        return kSuccess;
    // Only a scan folder of this store is ever deleted: a table that was damaged
    // or written by someone else may name any folder of the user's.
    std::filesystem::path canonicalBase = std::filesystem::canonical(base_, ec);
    if (ec) return kErrAccessDenied;
    std::filesystem::path canonicalTarget = std::filesystem::canonical(target, ec);
    if (ec) return kErrAccessDenied;
    if (canonicalTarget.parent_path() != canonicalBase || canonicalTarget == canonicalBase ||
        !std::filesystem::is_directory(std::filesystem::symlink_status(target, ec)))
        return kErrAccessDenied;
    std::filesystem::remove_all(canonicalTarget, ec);
    return ec ? ResultFromErrorCode(ec) : kSuccess;
}

int CScanResumeStore::FindFileInFolder(const std::string& prefix, const std::filesystem::path& folder,
                                       std::string& name) const {
    name.clear();
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = Utf8FromPath(it->path().filename());
        if (!IsLogFileName(entry, prefix)) continue;
        // Only a plain file: never a link that would lead the log's writes elsewhere.
        std::error_code statusError;
        if (!std::filesystem::is_regular_file(it->symlink_status(statusError)) || statusError) continue;
        names.push_back(std::move(entry));
    }
    if (names.empty()) return kErrFileNotFound;
    // Listing order is the file system's; name order makes the answer stable.
    name = *std::min_element(names.begin(), names.end());
    return kSuccess;
}

std::filesystem::path ScanLockFile() { return ScanLogDir() / "scan.lock"; }

bool IsLogFileName(std::string_view name, std::string_view prefix) {
    // PREFIX + range start + "_" + date and time, as the engines name their logs;
    // the companion files end in "_DirInfo" or "_Relation".
    if (prefix.empty() || name.substr(0, prefix.size()) != prefix) return false;
    std::string_view rest = name.substr(prefix.size());
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits >= rest.size() || rest[digits] != '_') return false;
    for (std::string_view companion : {std::string_view("_DirInfo"), std::string_view("_Relation")})
        if (rest.size() >= companion.size() && rest.substr(rest.size() - companion.size()) == companion)
            return false;
    return rest.find('/') == std::string_view::npos;
}

void CScanResumeStore::DecrementScanCounter() {
    std::lock_guard lock(mutex_);
    if (counter_ > 0) --counter_;
}

uint64_t CScanResumeStore::ScanCounter() const {
    std::lock_guard lock(mutex_);
    return counter_;
}

bool CScanResumeStore::IsResuming() const {
    std::lock_guard lock(mutex_);
    return resuming_;
}

std::vector<ResumeRecord> CScanResumeStore::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

}  // namespace sorvane
