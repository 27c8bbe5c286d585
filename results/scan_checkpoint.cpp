#include "results/scan_checkpoint.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/file_handle.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/scan_log.h"

namespace sorvane {
namespace {

// "SVCKPT" and the format's version, then the payload's length and checksum.
constexpr uint8_t kMark[8] = {'S', 'V', 'C', 'K', 'P', 'T', 0, 1};
constexpr size_t kHeaderBytes = sizeof kMark + 8 + 8;
// A checkpoint holds the engines' bounded lists; anything larger is not one we wrote.
constexpr uint64_t kMaxPayloadBytes = 1ull << 30;
constexpr size_t kMaxLogName = 255;

uint64_t Checksum(std::span<const uint8_t> bytes) {
    // FNV-1a: enough to tell a torn or damaged file from a whole one.
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxLogName) return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

// A plain file directly in the folder, or none at all; never a link or a folder.
bool IsPlainFileOrMissing(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec) return status.type() == std::filesystem::file_type::not_found;
    return status.type() == std::filesystem::file_type::not_found ||
           status.type() == std::filesystem::file_type::regular;
}

int ShortenTo(const std::filesystem::path& path, uint64_t bytes) {
    FileHandle file;
    int rc = OpenForWriting(path, WriteMode::kOpenOrCreate, file);
    if (rc != kSuccess) return rc;
    uint64_t size = 0;
    if ((rc = file.Size(size)) != kSuccess) return rc;
    if (size < bytes) return kErrInvalidParameter;
    if (size > bytes && (rc = file.Truncate(bytes)) != kSuccess) return rc;
    return file.Sync();
}

}  // namespace

void CheckpointWriter::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void CheckpointWriter::U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void CheckpointWriter::Bytes(std::span<const uint8_t> bytes) {
    U64(bytes.size());
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void CheckpointWriter::Text(std::string_view text) {
    Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool CheckpointReader::Take(size_t n, const uint8_t*& p) {
    if (!ok_ || bytes_.size() - at_ < n) {
        ok_ = false;
        return false;
    }
    p = bytes_.data() + at_;
    at_ += n;
    return true;
}

bool CheckpointReader::U8(uint8_t& v) {
    const uint8_t* p = nullptr;
    if (!Take(1, p)) return false;
    v = *p;
    return true;
}

bool CheckpointReader::Bool(bool& v) {
    uint8_t b = 0;
    if (!U8(b)) return false;
    if (b > 1) return ok_ = false;
    v = b == 1;
    return true;
}

bool CheckpointReader::U32(uint32_t& v) {
    const uint8_t* p = nullptr;
    if (!Take(4, p)) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return true;
}

bool CheckpointReader::U64(uint64_t& v) {
    const uint8_t* p = nullptr;
    if (!Take(8, p)) return false;
    v = GetU64(p);
    return true;
}

bool CheckpointReader::I64(int64_t& v) {
    uint64_t u = 0;
    if (!U64(u)) return false;
    v = static_cast<int64_t>(u);
    return true;
}

bool CheckpointReader::Bytes(std::vector<uint8_t>& out, size_t limit) {
    uint64_t n = 0;
    if (!U64(n)) return false;
    if (!ok_ || n > limit || n > bytes_.size() - at_) return ok_ = false;
    const uint8_t* p = nullptr;
    if (!Take(static_cast<size_t>(n), p)) return false;
    out.assign(p, p + n);
    return true;
}

bool CheckpointReader::Text(std::string& out, size_t limit) {
    std::vector<uint8_t> bytes;
    if (!Bytes(bytes, limit)) return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
}

bool CheckpointReader::Count(uint64_t& count, size_t minItemBytes) {
    if (!U64(count)) return false;
    const uint64_t left = bytes_.size() - at_;
    if (minItemBytes > 0 && count > left / minItemBytes) return ok_ = false;
    return true;
}

void WriteRecord(CheckpointWriter& w, const FoundItemRecord& record) {
    w.Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&record), sizeof record));
}

bool ReadRecord(CheckpointReader& r, FoundItemRecord& record) {
    std::vector<uint8_t> bytes;
    if (!r.Bytes(bytes, sizeof record) || bytes.size() != sizeof record) return false;
    std::memcpy(&record, bytes.data(), sizeof record);
    record.name[kNameFieldSize - 1] = '\0';
    return true;
}

int CheckpointLog(CScanLog& log, LogCheckpoint& out) {
    int rc = log.Flush();
    const int synced = log.Sync();
    if (rc == kSuccess) rc = synced;
    out.name = Utf8FromPath(log.RecordPath().filename());
    out.records = log.Count();
    out.folders = log.Folders().size();
    out.relationText = CScanLog::FormatRelationText(log.Children());
    return rc;
}

void WriteLogCheckpoint(CheckpointWriter& w, const LogCheckpoint& log) {
    w.Text(log.name);
    w.U32(log.records);
    w.U64(log.folders);
    w.Text(log.relationText);
}

bool ReadLogCheckpoint(CheckpointReader& r, LogCheckpoint& out) {
    return r.Text(out.name, kMaxLogName) && r.U32(out.records) && r.U64(out.folders) &&
           r.Text(out.relationText, static_cast<size_t>(kMaxPayloadBytes)) && IsPlainName(out.name);
}

int CutLogBack(const std::filesystem::path& folder, const LogCheckpoint& log) {
    if (!IsPlainName(log.name)) return kErrInvalidName;
    const std::filesystem::path records = folder / PathFromUtf8(log.name);
    const std::filesystem::path relation = folder / PathFromUtf8(log.name + "_Relation");
    const std::filesystem::path names = folder / PathFromUtf8(log.name + "_DirInfo");
    for (const auto& path : {records, relation, names})
        if (!IsPlainFileOrMissing(path)) return kErrAccessDenied;
    int rc = ShortenTo(records, uint64_t{log.records} * sizeof(FoundItemRecord));
    if (rc != kSuccess) return rc;
    if ((rc = ShortenTo(names, log.folders * kDirInfoEntrySize)) != kSuccess) return rc;
    // The index is rewritten whole by every flush, so it is put back whole.
    FileHandle file;
    if ((rc = OpenForWriting(relation, WriteMode::kCreateOrTruncate, file)) != kSuccess) return rc;
    if ((rc = file.Write(log.relationText.data(), log.relationText.size())) != kSuccess) return rc;
    return file.Sync();
}

int SaveCheckpointFile(const std::filesystem::path& folder, std::span<const uint8_t> payload) {
    std::vector<uint8_t> header(kHeaderBytes);
    std::memcpy(header.data(), kMark, sizeof kMark);
    PutU64(header.data() + sizeof kMark, payload.size());
    PutU64(header.data() + sizeof kMark + 8, Checksum(payload));
    const std::filesystem::path temporary = folder / "checkpoint.tmp";
    const std::filesystem::path final = folder / kCheckpointFileName;
    std::error_code ec;
    if (!IsPlainFileOrMissing(temporary) || !IsPlainFileOrMissing(final)) return kErrAccessDenied;
    FileHandle file;
    int rc = OpenForWriting(temporary, WriteMode::kCreateOrTruncate, file);
    if (rc == kSuccess) rc = file.Write(header.data(), header.size());
    if (rc == kSuccess) rc = file.Write(payload.data(), payload.size());
    // On the disk before it replaces the previous checkpoint, or a power cut
    // could leave an empty one in its place.
    if (rc == kSuccess) rc = file.Sync();
    file.Close();
    if (rc == kSuccess) {
        std::filesystem::rename(temporary, final, ec);
        if (ec) rc = ResultFromErrorCode(ec);
    }
    if (rc != kSuccess) {
        std::filesystem::remove(temporary, ec);
        return rc;
    }
    return SyncFolder(folder);
}

int ParseCheckpointFile(std::span<const uint8_t> file, std::vector<uint8_t>& payload) {
    payload.clear();
    if (file.size() < kHeaderBytes || std::memcmp(file.data(), kMark, sizeof kMark) != 0)
        return kErrInvalidParameter;
    const uint64_t length = GetU64(file.data() + sizeof kMark);
    if (length != file.size() - kHeaderBytes) return kErrInvalidParameter;
    std::span<const uint8_t> body = file.subspan(kHeaderBytes);
    if (Checksum(body) != GetU64(file.data() + sizeof kMark + 8)) return kErrInvalidParameter;
    payload.assign(body.begin(), body.end());
    return kSuccess;
}

int LoadCheckpointFile(const std::filesystem::path& folder, std::vector<uint8_t>& payload) {
    payload.clear();
    const std::filesystem::path path = folder / kCheckpointFileName;
    if (!IsPlainFileOrMissing(path)) return kErrAccessDenied;
    FileHandle file;
    if (OpenReadOnly(path, file) != kSuccess) return kErrFileNotFound;
    uint64_t size = 0;
    int rc = file.Size(size);
    if (rc != kSuccess) return rc;
    if (size > kMaxPayloadBytes + kHeaderBytes) return kErrInvalidParameter;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t got = 0;
    if ((rc = file.ReadAt(0, bytes.data(), bytes.size(), got)) != kSuccess) return rc;
    bytes.resize(got);
    return ParseCheckpointFile(bytes, payload);
}

void RemoveCheckpointFile(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const char* name : {kCheckpointFileName, "checkpoint.tmp"}) {
        const std::filesystem::path path = folder / name;
        if (IsPlainFileOrMissing(path)) std::filesystem::remove(path, ec);
    }
}

}  // namespace sorvane
