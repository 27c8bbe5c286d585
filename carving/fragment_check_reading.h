// Small readers the fragment checks share: fixed-size fields, a CRC-32 over
// a range and a cursor over bytes, each through however the source pieces its views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "carving/crc32.h"
#include "carving/file_byte_source.h"

namespace sorvane::fragment_reading {

// `n` (at most 8) bytes at `offset` into `out`; false past the end or on a failed read.
inline bool Bytes(FileByteSource& file, uint64_t offset, size_t n, uint8_t* out) {
    size_t got = 0;
    while (got < n) {
        const ByteView piece = file.View(offset + got, n - got);
        if (piece.Size() == 0) return false;
        for (size_t i = 0; i < piece.Size() && got < n; ++i) out[got++] = piece.U8(i);
    }
    return true;
}

inline std::optional<uint32_t> U32Be(FileByteSource& file, uint64_t offset) {
    uint8_t b[4];
    if (!Bytes(file, offset, 4, b)) return std::nullopt;
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

inline std::optional<uint32_t> U32Le(FileByteSource& file, uint64_t offset) {
    uint8_t b[4];
    if (!Bytes(file, offset, 4, b)) return std::nullopt;
    return (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
}

inline std::optional<uint16_t> U16Le(FileByteSource& file, uint64_t offset) {
    uint8_t b[2];
    if (!Bytes(file, offset, 2, b)) return std::nullopt;
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

// CRC-32 of `length` bytes at `offset`; none when they cannot all be read.
inline std::optional<uint32_t> RangeCrc(FileByteSource& file, uint64_t offset, uint64_t length) {
    uint32_t crc = 0;
    for (uint64_t at = offset, stop = offset + length; at < stop;) {
        const ByteView piece = file.View(at, static_cast<size_t>(std::min<uint64_t>(stop - at, 1u << 20)));
        if (piece.Size() == 0) return std::nullopt;
        crc = Crc32(crc, piece.Data(), piece.Size());
        at += piece.Size();
    }
    return crc;
}

inline constexpr size_t kCursorWindow = 65536;

// Bytes read one by one from a position on, through windows of the source.
class ByteCursor {
  public:
    explicit ByteCursor(FileByteSource& file) : file_(file) {}

    uint64_t Pos() const { return pos_; }
    void Seek(uint64_t pos) {
        pos_ = pos;
        if (pos_ < viewAt_ || pos_ >= viewAt_ + view_.Size()) view_ = {};
    }
    // The byte at the position, moving past it; none at the end or on a failed read.
    std::optional<uint8_t> Next() {
        std::optional<uint8_t> b = Peek();
        if (b) ++pos_;
        return b;
    }
    std::optional<uint8_t> Peek() {
        if (pos_ < viewAt_ || pos_ >= viewAt_ + view_.Size()) {
            view_ = file_.View(pos_, kCursorWindow);
            viewAt_ = pos_;
            if (view_.Size() == 0) return std::nullopt;
        }
        return view_.U8(static_cast<size_t>(pos_ - viewAt_));
    }
    std::optional<uint16_t> U16Be() {
        const std::optional<uint8_t> hi = Next(), lo = Next();
        if (!hi || !lo) return std::nullopt;
        return static_cast<uint16_t>((*hi << 8) | *lo);
    }

  private:
    FileByteSource& file_;
    ByteView view_;
    uint64_t viewAt_ = 0;
    uint64_t pos_ = 0;
};

// The bytes [start, start + length) of another source, as a file of their own
// (a picture held in a document).
class RangeSource final : public FileByteSource {
  public:
    RangeSource(FileByteSource& file, uint64_t start, uint64_t length)
        : file_(file), start_(start), length_(length) {}
    ByteView View(uint64_t offset, size_t length) override {
        if (offset >= length_) return {};
        return file_.View(start_ + offset, static_cast<size_t>(std::min<uint64_t>(length, length_ - offset)));
    }
    uint64_t Length() const override { return length_; }

  private:
    FileByteSource& file_;
    uint64_t start_, length_;
};

}  // namespace sorvane::fragment_reading
