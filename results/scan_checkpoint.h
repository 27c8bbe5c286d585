// The saved state of a running deep scan, so that one killed at any moment
// (a power cut, `kill -9`) can be continued from a few seconds before.
//
// A checkpoint is taken between two chunks of the pass. Every scan log is
// flushed and synced first; the checkpoint then records each log's size (its
// records and folder names) and its folder index, the position of the pass,
// and what the engines hold only in memory. It is written to "checkpoint.tmp",
// synced and renamed over "checkpoint" in the scan folder, so the file on disk
// is always one whole checkpoint. A resumed scan cuts every log back to the
// recorded size (whatever was appended after the checkpoint goes), puts the
// folder index back as it was, and gives the engines their state again: it
// then goes on exactly as the uninterrupted scan went on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results/found_item_record.h"

namespace sorvane {

class CScanLog;

// Builds the bytes of a checkpoint: little-endian integers and length-prefixed byte strings.
class CheckpointWriter {
  public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void Bool(bool v) { U8(v ? 1 : 0); }
    void U32(uint32_t v);
    void U64(uint64_t v);
    void I64(int64_t v) { U64(static_cast<uint64_t>(v)); }
    void Bytes(std::span<const uint8_t> bytes);
    void Text(std::string_view text);
    const std::vector<uint8_t>& Data() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// Reads what a CheckpointWriter wrote. Every read checks the bytes left: after
// the first read past the end every read fails and Ok() is false, so a damaged
// checkpoint is refused rather than trusted.
class CheckpointReader {
  public:
    explicit CheckpointReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool U8(uint8_t& v);
    bool Bool(bool& v);
    bool U32(uint32_t& v);
    bool U64(uint64_t& v);
    bool I64(int64_t& v);
    // A byte string of at most `limit` bytes.
    bool Bytes(std::vector<uint8_t>& out, size_t limit);
    bool Text(std::string& out, size_t limit);
    // A count of items, each at least `minItemBytes` long, that the bytes left can hold.
    bool Count(uint64_t& count, size_t minItemBytes);
    bool Ok() const { return ok_; }
    bool AtEnd() const { return ok_ && at_ == bytes_.size(); }

  private:
    bool Take(size_t n, const uint8_t*& p);
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

// A found item as it lies in the log.
void WriteRecord(CheckpointWriter& w, const FoundItemRecord& record);
bool ReadRecord(CheckpointReader& r, FoundItemRecord& record);

// One scan log as a checkpoint found it.
struct LogCheckpoint {
    std::string name;          // the record file's name inside the scan folder
    uint32_t records = 0;      // whole records
    uint64_t folders = 0;      // folder name entries
    std::string relationText;  // the folder index, as the log writes it
};

// Flushes `log` and syncs its files, then describes it. Returns 0 or the first failure.
int CheckpointLog(CScanLog& log, LogCheckpoint& out);
void WriteLogCheckpoint(CheckpointWriter& w, const LogCheckpoint& log);
bool ReadLogCheckpoint(CheckpointReader& r, LogCheckpoint& out);

// Cuts the log `log.name` in `folder` back to what the checkpoint recorded:
// the record and folder-name files are shortened (never lengthened) and the
// folder index is written again. Only plain files directly in `folder` whose
// names are the log's own are touched; a name with a separator, or a file that
// is a link, is refused. Returns 0, or the result code (87 when the files are
// shorter than the checkpoint says: they are not the ones it describes).
int CutLogBack(const std::filesystem::path& folder, const LogCheckpoint& log);

// Writes `payload` as the checkpoint of the scan in `folder`: "checkpoint.tmp"
// is written, synced and renamed over "checkpoint", then the folder is synced.
// On failure the previous checkpoint stays. Returns 0 or the result code.
int SaveCheckpointFile(const std::filesystem::path& folder, std::span<const uint8_t> payload);
// Reads the checkpoint of the scan in `folder` into `payload`. Returns 0; 2
// when there is none; 87 when it is damaged (wrong mark, length or checksum).
int LoadCheckpointFile(const std::filesystem::path& folder, std::vector<uint8_t>& payload);
// The checks LoadCheckpointFile makes, on the file's bytes. Exposed for the fuzzer.
int ParseCheckpointFile(std::span<const uint8_t> file, std::vector<uint8_t>& payload);
// Removes the checkpoint of the scan in `folder`, if any.
void RemoveCheckpointFile(const std::filesystem::path& folder);

inline constexpr const char* kCheckpointFileName = "checkpoint";

}  // namespace sorvane
