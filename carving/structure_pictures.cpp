// Structural sizes of pictures: JPEG marker walk, PNG and GIF chunk and block
// walks, BMP header fields, TIFF directories and PSD sections.
#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "carving/carved_file_bytes.h"
#include "carving/carved_file_measure.h"
#include "carving/crc32.h"
#include "carving/structure_sizes.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kPictureLimit = 128 * kMiB;

StructureSize Damaged(CarveJob& job) {
    job.verdict = ContentVerdict::kDamaged;
    return std::nullopt;
}

StructureSize Whole(CarveJob& job, uint64_t size) {
    job.verdict = ContentVerdict::kWhole;
    return size;
}

// Offset of the marker that ends the entropy-coded data starting at `at`:
// the first 0xFF that is followed by neither a stuffed zero, a restart marker
// nor another 0xFF. None when the data runs to the end of what can be read.
std::optional<uint64_t> EndOfEntropyData(CarvedFileBytes& bytes, uint64_t at) {
    while (true) {
        ByteView piece = bytes.View(at, CarvedFileBytes::kMaxView);
        if (piece.Size() < 2) return std::nullopt;
        const uint8_t* data = piece.Data();
        size_t n = piece.Size();
        size_t i = 0;
        while (i + 1 < n) {
            const void* hit = std::memchr(data + i, 0xFF, n - 1 - i);
            if (!hit) {
                i = n - 1;
                break;
            }
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
            uint8_t next = data[i + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i += 2;
            } else if (next == 0xFF) {
                i += 1;
            } else {
                return at + i;
            }
        }
        at += i;
    }
}

}  // namespace

StructureSize JpegStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kPictureLimit);
    uint64_t off = 2;
    bool frame = false, scan = false;
    for (int segments = 0; segments < 100000; ++segments) {
        if (!bytes.Has(off, 2)) return Damaged(job);
        if (bytes.U8(off) != 0xFF) return Damaged(job);
        while (bytes.U8(off + 1) == 0xFF) {
            ++off;  // fill bytes before a marker
            if (!bytes.Has(off, 2)) return Damaged(job);
        }
        uint8_t marker = bytes.U8(off + 1);
        if (marker == 0xD9) {
            if (!frame || !scan) return Damaged(job);
            return Whole(job, off + 2);
        }
        if (marker == 0x00 || marker == 0xD8 || (marker >= 0x02 && marker <= 0xBF)) return Damaged(job);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            off += 2;
            continue;
        }
        // After the first scan only the markers that may sit between scans
        // are allowed; anything else is damage in the coded data.
        if (scan && !(marker == 0xDA || marker == 0xC4 || marker == 0xDB || marker == 0xDD ||
                      marker == 0xDC || marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF)))
            return Damaged(job);
        if (!bytes.Has(off + 2, 2)) return Damaged(job);
        uint16_t length = bytes.U16Be(off + 2);
        if (length < 2) return Damaged(job);
        uint64_t segmentEnd = off + 2 + length;
        if (segmentEnd > bytes.Available()) return Damaged(job);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            frame = true;
        if (marker == 0xDA) {
            if (!frame) return Damaged(job);
            scan = true;
            auto next = EndOfEntropyData(bytes, segmentEnd);
            if (!next) return Damaged(job);
            off = *next;
        } else {
            // Segments are skipped by their length, so a thumbnail inside an
            // Exif segment never ends the picture.
            off = segmentEnd;
        }
    }
    return Damaged(job);
}

StructureSize PngStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kPictureLimit);
    uint64_t off = 8;
    bool crcsAgree = true;
    for (uint32_t chunks = 0; chunks < 1000000; ++chunks) {
        if (!bytes.Has(off, 8)) return Damaged(job);
        uint32_t length = bytes.U32Be(off);
        ByteView type = bytes.View(off + 4, 4);
        for (size_t i = 0; i < 4; ++i) {
            uint8_t c = type.U8(i);
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return Damaged(job);
        }
        if (chunks == 0 && (!type.Equals(0, "IHDR") || length != 13)) return std::nullopt;
        if (length > 0x7FFFFFFF) return Damaged(job);
        bool end = type.Equals(0, "IEND");
        uint64_t chunkEnd = off + 12 + uint64_t{length};
        if (chunkEnd > bytes.Available()) return Damaged(job);
        // The CRC covers the type and the data.
        uint32_t crc = 0;
        for (uint64_t at = off + 4, stop = off + 8 + length; at < stop;) {
            ByteView piece =
                bytes.View(at, static_cast<size_t>(std::min<uint64_t>(stop - at, CarvedFileBytes::kMaxView)));
            if (piece.Size() == 0) return Damaged(job);
            crc = Crc32(crc, piece.Data(), piece.Size());
            at += piece.Size();
        }
        if (crc != bytes.U32Be(off + 8 + length)) crcsAgree = false;
        off = chunkEnd;
        if (end) {
            job.verdict = crcsAgree ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
            return off;
        }
    }
    return Damaged(job);
}

StructureSize GifStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kPictureLimit);
    if (!bytes.Has(0, 13)) return Damaged(job);
    uint8_t flags = bytes.U8(10);
    uint64_t off = 13 + (flags & 0x80 ? 3u << ((flags & 7) + 1) : 0u);
    auto skipSubBlocks = [&]() {
        while (true) {
            if (!bytes.Has(off, 1)) return false;
            uint8_t n = bytes.U8(off);
            off += 1 + uint64_t{n};
            if (n == 0) return true;
        }
    };
    bool image = false;
    while (true) {
        if (!bytes.Has(off, 1)) return Damaged(job);
        uint8_t block = bytes.U8(off);
        if (block == 0x3B) {
            if (!image) return Damaged(job);
            return Whole(job, off + 1);
        }
        if (block == 0x2C) {
            if (!bytes.Has(off, 11)) return Damaged(job);
            uint8_t local = bytes.U8(off + 9);
            off += 10 + (local & 0x80 ? 3u << ((local & 7) + 1) : 0u);
            uint8_t codeSize = bytes.U8(off);
            if (codeSize < 1 || codeSize > 12) return Damaged(job);
            ++off;
            if (!skipSubBlocks()) return Damaged(job);
            image = true;
        } else if (block == 0x21) {
            off += 2;
            if (!skipSubBlocks()) return Damaged(job);
        } else {
            return Damaged(job);
        }
    }
}

StructureSize BmpStructureSize(CarveJob& job, const uint8_t* first, size_t length) {
    ByteView v(first, length);
    uint64_t size = v.U32(2);
    uint32_t header = v.U32(14);
    uint64_t dataOffset = v.U32(10);
    static constexpr uint32_t kHeaders[] = {12, 40, 52, 56, 64, 108, 124};
    if (std::find(std::begin(kHeaders), std::end(kHeaders), header) == std::end(kHeaders))
        return std::nullopt;
    if (size > kPictureLimit || dataOffset < 14 + header || dataOffset > size) return std::nullopt;
    uint64_t width, height, bits;
    uint32_t compression = 0;
    if (header == 12) {
        width = v.U16(18);
        height = v.U16(20);
        bits = v.U16(24);
    } else {
        int32_t w = static_cast<int32_t>(v.U32(18)), h = static_cast<int32_t>(v.U32(22));
        if (w <= 0 || h == 0 || v.U16(26) != 1) return std::nullopt;
        width = static_cast<uint64_t>(w);
        height = h < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(h)) : static_cast<uint64_t>(h);
        bits = v.U16(28);
        compression = v.U32(30);
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
    if (compression == 0 || compression == 3 || compression == 6) {
        uint64_t pixels = (width * bits + 31) / 32 * 4 * height;
        if (dataOffset + pixels > size) return std::nullopt;
    } else {
        uint64_t imageBytes = v.U32(34);
        if (imageBytes == 0 || dataOffset + imageBytes > size) return std::nullopt;
    }
    CarvedFileBytes bytes(job, kPictureLimit);
    if (bytes.Available() < size) return Damaged(job);
    // Pixels can be any bytes, so only another file starting inside the
    // size shows that the rest of the picture was overwritten.
    if (FirstForeignSector(job, bytes, job.sectorSize, size)) return Damaged(job);
    return size;
}

namespace {

// Bytes of one value of a TIFF field type; 0 for an unknown type.
uint32_t TiffTypeSize(uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

StructureSize TiffStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kPictureLimit);
    if (!bytes.Has(0, 8)) return std::nullopt;
    const bool little = bytes.U8(0) == 'I';
    auto u16 = [&](uint64_t at) { return little ? bytes.U16(at) : bytes.U16Be(at); };
    auto u32 = [&](uint64_t at) { return little ? bytes.U32(at) : bytes.U32Be(at); };
    const uint64_t available = bytes.Available();
    uint64_t end = 8;
    bool cut = false;
    auto extend = [&](uint64_t at, uint64_t length) {
        if (at + length > available) cut = true;
        end = std::max(end, at + length);
    };
    // The values of an array field (SHORT or LONG), inline or at their offset.
    auto values = [&](uint64_t entry, std::vector<uint64_t>& out) {
        uint16_t type = u16(entry + 2);
        uint64_t count = u32(entry + 4);
        uint32_t width = type == 3 ? 2 : (type == 4 || type == 13) ? 4 : 0;
        if (width == 0 || count > (1u << 20)) return false;
        uint64_t at = count * width <= 4 ? entry + 8 : u32(entry + 8);
        if (at + count * width > available) return false;
        out.resize(static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i) out[i] = width == 2 ? u16(at + 2 * i) : u32(at + 4 * i);
        return true;
    };

    std::vector<uint64_t> pending{u32(4)};
    std::unordered_set<uint64_t> seen;
    std::vector<uint64_t> offsets, counts, list;
    int directories = 0;
    while (!pending.empty()) {
        uint64_t ifd = pending.back();
        pending.pop_back();
        if (ifd == 0) continue;
        if (ifd < 8 || !seen.insert(ifd).second) return std::nullopt;
        if (++directories > 4096) return std::nullopt;
        if (!bytes.Has(ifd, 2)) return Damaged(job);
        uint32_t entries = u16(ifd);
        if (entries == 0) return std::nullopt;
        uint64_t ifdEnd = ifd + 2 + 12 * uint64_t{entries} + 4;
        if (ifdEnd > available) return Damaged(job);
        extend(ifd, ifdEnd - ifd);
        std::vector<uint64_t> stripOffsets, stripCounts, tileOffsets, tileCounts;
        uint64_t jpegAt = 0, jpegLength = 0;
        for (uint32_t e = 0; e < entries; ++e) {
            uint64_t entry = ifd + 2 + 12 * uint64_t{e};
            uint16_t tag = u16(entry), type = u16(entry + 2);
            uint64_t count = u32(entry + 4);
            uint32_t typeSize = TiffTypeSize(type);
            if (typeSize == 0) return std::nullopt;
            uint64_t valueBytes = count * typeSize;
            if (valueBytes > kPictureLimit) return std::nullopt;
            if (valueBytes > 4) extend(u32(entry + 8), valueBytes);
            switch (tag) {
                case 273:
                    if (!values(entry, stripOffsets)) return std::nullopt;
                    break;
                case 279:
                    if (!values(entry, stripCounts)) return std::nullopt;
                    break;
                case 324:
                    if (!values(entry, tileOffsets)) return std::nullopt;
                    break;
                case 325:
                    if (!values(entry, tileCounts)) return std::nullopt;
                    break;
                case 513:
                    jpegAt = u32(entry + 8);
                    break;
                case 514:
                    jpegLength = u32(entry + 8);
                    break;
                case 330:
                case 34665:
                case 34853:
                case 40965:  // sub-directories, Exif, GPS, interoperability
                    if (!values(entry, list)) return std::nullopt;
                    pending.insert(pending.end(), list.begin(), list.end());
                    break;
                default:
                    break;
            }
        }
        if (stripOffsets.size() != stripCounts.size() || tileOffsets.size() != tileCounts.size())
            return std::nullopt;
        for (size_t i = 0; i < stripOffsets.size(); ++i) extend(stripOffsets[i], stripCounts[i]);
        for (size_t i = 0; i < tileOffsets.size(); ++i) extend(tileOffsets[i], tileCounts[i]);
        if (jpegAt && jpegLength) extend(jpegAt, jpegLength);
        pending.push_back(u32(ifdEnd - 4));
    }
    if (cut || end > available) return Damaged(job);
    return end;
}

StructureSize PsdStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 4 * kPictureLimit);
    if (!bytes.Has(0, 26)) return std::nullopt;
    uint16_t version = bytes.U16Be(4);
    uint64_t channels = bytes.U16Be(12), height = bytes.U32Be(14), width = bytes.U32Be(18);
    uint64_t depth = bytes.U16Be(22);
    if ((version != 1 && version != 2) || channels == 0 || channels > 56 || height == 0 || width == 0)
        return std::nullopt;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return std::nullopt;
    uint64_t off = 26;
    off += 4 + uint64_t{bytes.U32Be(off)};                                 // colour mode data
    off += 4 + uint64_t{bytes.U32Be(off)};                                 // image resources
    uint64_t layers = version == 1 ? bytes.U32Be(off) : bytes.U64Be(off);  // layers and masks
    if (layers > bytes.Available()) return Damaged(job);
    off += (version == 1 ? 4 : 8) + layers;
    if (off + 2 > bytes.Available()) return Damaged(job);
    uint16_t compression = bytes.U16Be(off);
    off += 2;
    uint64_t rows = channels * height;
    const uint64_t rowBytes = (width * depth + 7) / 8;
    const uint64_t imageStart = off;
    if (compression == 0) {
        off += rows * rowBytes;
        if (off > bytes.Available()) return Damaged(job);
        // Raw pixels can be any bytes: only another file starting inside
        // them shows that the rest was overwritten.
        if (FirstForeignSector(job, bytes, imageStart, off)) return Damaged(job);
        return off;
    }
    if (compression != 1) return std::nullopt;
    // Run-length data: a table of the packed length of every row first.
    uint32_t entry = version == 1 ? 2 : 4;
    if (rows > (1u << 24) || off + rows * entry > bytes.Available()) return Damaged(job);
    std::vector<uint64_t> packed(static_cast<size_t>(rows));
    uint64_t total = 0;
    for (uint64_t r = 0; r < rows; ++r) {
        packed[r] = entry == 2 ? bytes.U16Be(off + 2 * r) : bytes.U32Be(off + 4 * r);
        total += packed[r];
    }
    off += rows * entry;
    const uint64_t end = off + total;
    if (end > bytes.Available()) return Damaged(job);
    // Every row must unpack to exactly its width from exactly its packed
    // length: bytes that replaced the end of the file (random or zeros) do
    // not, the rows are read in order, so this costs one pass.
    for (uint64_t r = 0; r < rows; ++r) {
        uint64_t used = 0, produced = 0;
        while (used < packed[r]) {
            if (!bytes.Has(off + used, 1)) return Damaged(job);
            const int8_t n = static_cast<int8_t>(bytes.U8(off + used));
            ++used;
            if (n >= 0) {
                used += static_cast<uint64_t>(n) + 1;
                produced += static_cast<uint64_t>(n) + 1;
            } else if (n != -128) {
                used += 1;
                produced += static_cast<uint64_t>(1 - n);
            }
        }
        if (used != packed[r] || produced != rowBytes) return Damaged(job);
        off += packed[r];
    }
    return end;
}

}  // namespace sorvane
