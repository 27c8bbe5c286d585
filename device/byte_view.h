// Bounds-checked reads over bytes that came from a disk, little-endian by
// default and big-endian in the Be forms. Every parser reads through these
// instead of casting pointers: an offset taken from a damaged record yields 0
// (or false from Equals), never a read past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace sorvane {

class ByteView {
  public:
    ByteView() = default;
    ByteView(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    ByteView(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    bool Has(size_t offset, size_t length) const { return offset <= size_ && length <= size_ - offset; }

    uint8_t U8(size_t off) const { return Has(off, 1) ? data_[off] : 0; }
    uint16_t U16(size_t off) const { return static_cast<uint16_t>(Get(off, 2)); }
    uint32_t U32(size_t off) const { return static_cast<uint32_t>(Get(off, 4)); }
    uint64_t U64(size_t off) const { return Get(off, 8); }
    // Little-endian unsigned value of `width` bytes (1 to 8); 0 when out of bounds.
    uint64_t Get(size_t off, size_t width) const {
        if (width == 0 || width > 8 || !Has(off, width)) return 0;
        uint64_t v = 0;
        for (size_t i = width; i-- > 0;) v = (v << 8) | data_[off + i];
        return v;
    }
    uint16_t U16Be(size_t off) const { return static_cast<uint16_t>(GetBe(off, 2)); }
    uint32_t U24Be(size_t off) const { return static_cast<uint32_t>(GetBe(off, 3)); }
    uint32_t U32Be(size_t off) const { return static_cast<uint32_t>(GetBe(off, 4)); }
    uint64_t U64Be(size_t off) const { return GetBe(off, 8); }
    // Big-endian unsigned value of `width` bytes (1 to 8); 0 when out of bounds.
    uint64_t GetBe(size_t off, size_t width) const {
        if (width == 0 || width > 8 || !Has(off, width)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) v = (v << 8) | data_[off + i];
        return v;
    }
    // Sign-extended little-endian value of `width` bytes (1 to 8).
    int64_t GetSigned(size_t off, size_t width) const {
        uint64_t v = Get(off, width);
        if (width == 0 || width >= 8) return static_cast<int64_t>(v);
        uint64_t sign = uint64_t{1} << (width * 8 - 1);
        return static_cast<int64_t>((v ^ sign) - sign);
    }
    // True when the bytes at `off` equal `text` exactly.
    bool Equals(size_t off, std::string_view text) const {
        return Has(off, text.size()) && std::memcmp(data_ + off, text.data(), text.size()) == 0;
    }
    bool Equals(size_t off, const void* bytes, size_t length) const {
        return Has(off, length) && std::memcmp(data_ + off, bytes, length) == 0;
    }
    ByteView Sub(size_t off, size_t length) const {
        if (!Has(off, 0)) return {};
        if (length > size_ - off) length = size_ - off;
        return {data_ + off, length};
    }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace sorvane
