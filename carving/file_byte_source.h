// Bytes of one file by offset from its first byte, however they are held: in
// memory, or on the disk being scanned. Readers of a file's own structure
// (metadata, zip entries, deflate streams) read through it, so the same code
// serves a carved file on a disk, a test's file and a fuzzer's input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "device/byte_view.h"

namespace sorvane {

class FileByteSource {
  public:
    virtual ~FileByteSource() = default;
    // Bytes from `offset` on, at most `length` of them; shorter where the file
    // ends or a read fails, empty past the end. Valid until the next call.
    virtual ByteView View(uint64_t offset, size_t length) = 0;
    // The file's length in bytes as far as it can be read.
    virtual uint64_t Length() const = 0;
};

// A file held in memory (tests, fuzzers, a decompressed entry).
class MemoryByteSource final : public FileByteSource {
  public:
    explicit MemoryByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    ByteView View(uint64_t offset, size_t length) override {
        if (offset >= bytes_.size()) return {};
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
        return ByteView(bytes_.data() + offset, n);
    }
    uint64_t Length() const override { return bytes_.size(); }

  private:
    std::span<const uint8_t> bytes_;
};

// Copies `length` bytes at `offset` of `file` into `out` (replaced), however
// the source pieces them. False, with `out` holding what could be read, when
// the file ends or a read fails first.
inline bool ReadSourceBytes(FileByteSource& file, uint64_t offset, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    while (out.size() < length) {
        const ByteView piece = file.View(offset + out.size(), length - out.size());
        if (piece.Size() == 0) return false;
        out.insert(out.end(), piece.Data(), piece.Data() + piece.Size());
    }
    return true;
}

}  // namespace sorvane
