// The input of a metadata fuzzer as a file. Its first byte chooses how the
// source pieces its views (as a disk's window does at its edges), so the
// readers' handling of short views is fuzzed along with the bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "carving/file_byte_source.h"
#include "carving/file_metadata.h"

namespace sorvane::fuzzing {

class PiecedSource final : public FileByteSource {
  public:
    PiecedSource(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
    ByteView View(uint64_t offset, size_t length) override {
        if (offset >= size_) return {};
        const size_t n = static_cast<size_t>(std::min<uint64_t>({length, piece_, size_ - offset}));
        return ByteView(data_ + offset, n);
    }
    uint64_t Length() const override { return size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t piece_;
};

// Runs `read` over the input; what it read must be within the readers' bounds.
template <class Read>
int FuzzMetadataReader(const uint8_t* data, size_t size, Read read) {
    if (size == 0) return 0;
    const size_t piece = data[0] & 0x80 ? 1 + (data[0] & 0x7F) : 32768;
    PiecedSource source(data + 1, size - 1, piece);
    FileMetadata m;
    read(source, m);
    // Texts are cut where they are read, and times are never outside the clocks' range.
    if (m.title.size() > 4096 || m.artist.size() > 4096 || m.make.size() > 4096 || m.model.size() > 4096)
        std::abort();
    if (m.hasTime && (m.wallClock < 315532800 || m.wallClock >= 4102444800)) std::abort();
    return 0;
}

}  // namespace sorvane::fuzzing
