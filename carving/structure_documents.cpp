// Structural sizes of documents, archives, stores and fonts: PDF trailers,
// ZIP and 7z end records, RAR block walks, database headers and font table
// directories.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "carving/carved_file_bytes.h"
#include "carving/crc32.h"
#include "carving/deflate_walker.h"
#include "carving/structure_sizes.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;

StructureSize Damaged(CarveJob& job) {
    job.verdict = ContentVerdict::kDamaged;
    return std::nullopt;
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsPdfSpace(uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }

// A decimal number of at most 12 digits at `at`; its end in `end`.
std::optional<uint64_t> ReadNumber(CarvedFileBytes& bytes, uint64_t at, uint64_t& end) {
    ByteView v = bytes.View(at, 13);
    size_t i = 0;
    uint64_t value = 0;
    while (i < v.Size() && i < 12 && IsDigit(v.U8(i))) value = value * 10 + (v.U8(i++) - '0');
    if (i == 0) return std::nullopt;
    end = at + i;
    return value;
}

// True when "<number> <number> obj" starts at `at`.
bool ObjectStartsAt(CarvedFileBytes& bytes, uint64_t at) {
    uint64_t end = 0;
    if (!ReadNumber(bytes, at, end)) return false;
    uint64_t p = end;
    while (p < end + 4 && IsPdfSpace(bytes.U8(p)) && bytes.U8(p) != 0) ++p;
    if (p == end || !ReadNumber(bytes, p, end)) return false;
    p = end;
    uint64_t spaces = p;
    while (p < spaces + 4 && IsPdfSpace(bytes.U8(p)) && bytes.U8(p) != 0) ++p;
    return p > spaces && bytes.Equals(p, "obj", 3);
}

// The offset that "startxref" before the "%%EOF" at `eof` names, when it
// names a cross-reference table or stream inside the first `eof` bytes.
std::optional<uint64_t> CrossReferenceBefore(CarvedFileBytes& bytes, uint64_t eof) {
    uint64_t from = eof > 64 ? eof - 64 : 0;
    auto at = bytes.Find(from, eof, "startxref", 9);
    if (!at) return std::nullopt;
    uint64_t p = *at + 9;
    while (p < eof && IsPdfSpace(bytes.U8(p))) ++p;
    uint64_t end = 0;
    auto offset = ReadNumber(bytes, p, end);
    if (!offset || *offset >= eof) return std::nullopt;
    if (bytes.Equals(*offset, "xref", 4) || ObjectStartsAt(bytes, *offset)) return offset;
    return std::nullopt;
}

// True when the cross-reference table at `xref` lists only objects whose
// offsets hold "<number> <number> obj"; false for a damaged table. A
// cross-reference stream is not looked into.
bool CrossReferenceAgrees(CarvedFileBytes& bytes, uint64_t xref) {
    if (!bytes.Equals(xref, "xref", 4)) return true;
    uint64_t p = xref + 4;
    for (int sections = 0; sections < 10000; ++sections) {
        while (IsPdfSpace(bytes.U8(p)) && bytes.Has(p, 1)) ++p;
        if (bytes.Equals(p, "trailer", 7)) return true;
        uint64_t end = 0;
        auto first = ReadNumber(bytes, p, end);
        if (!first) return false;
        p = end;
        while (bytes.U8(p) == ' ') ++p;
        auto count = ReadNumber(bytes, p, end);
        if (!count || *count > 10000000) return false;
        p = end;
        while (IsPdfSpace(bytes.U8(p)) && bytes.Has(p, 1)) ++p;
        for (uint64_t i = 0; i < *count; ++i, p += 20) {
            ByteView entry = bytes.View(p, 20);
            if (entry.Size() < 18) return false;
            if (entry.U8(17) != 'n') continue;
            uint64_t offset = 0;
            for (size_t d = 0; d < 10; ++d) {
                if (!IsDigit(entry.U8(d))) return false;
                offset = offset * 10 + (entry.U8(d) - '0');
            }
            if (!ObjectStartsAt(bytes, offset)) return false;
        }
    }
    return false;
}

}  // namespace

StructureSize PdfStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kGiB);
    // Every "%%EOF" whose "startxref" names a real cross-reference ends a
    // revision; the file ends after the last revision, with its line end.
    // Incremental updates and linearized files carry several; the search goes
    // on past a revision only while an object or a cross-reference follows it.
    std::optional<uint64_t> end;
    uint64_t lastXref = 0;
    uint64_t from = 5;
    while (auto eof = bytes.Find(from, bytes.Available(), "%%EOF", 5)) {
        from = *eof + 5;
        auto xref = CrossReferenceBefore(bytes, *eof);
        if (!xref) continue;
        uint64_t after = *eof + 5;
        if (bytes.U8(after) == '\r') ++after;
        if (bytes.U8(after) == '\n') ++after;
        end = after;
        lastXref = *xref;
        uint64_t next = after;
        while (next < after + 64 &&
               (bytes.U8(next) == ' ' || bytes.U8(next) == '\r' || bytes.U8(next) == '\n'))
            ++next;
        if (!(ObjectStartsAt(bytes, next) || bytes.Equals(next, "xref", 4) || bytes.Equals(next, "%", 1)))
            break;
        from = next;
    }
    if (!end) {
        if (bytes.Cancelled()) return std::nullopt;
        return Damaged(job);
    }
    job.verdict = CrossReferenceAgrees(bytes, lastXref) ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
    return end;
}

StructureSize ZipStructureSize(CarveJob& job) {
    static constexpr uint8_t kEnd[4] = {0x50, 0x4B, 0x05, 0x06};
    static constexpr uint8_t kCentral[4] = {0x50, 0x4B, 0x01, 0x02};
    static constexpr uint8_t kLocal[4] = {0x50, 0x4B, 0x03, 0x04};
    static constexpr uint8_t kZip64Locator[4] = {0x50, 0x4B, 0x06, 0x07};
    CarvedFileBytes bytes(job, 4 * kGiB);
    // The end record whose central directory ends right before it, counted
    // from this file's first byte, is this archive's own: the end record of
    // an archive stored inside it counts from elsewhere.
    uint64_t from = 30;
    while (auto at = bytes.Find(from, bytes.Available(), kEnd, 4)) {
        from = *at + 1;
        if (!bytes.Has(*at, 22)) break;
        uint64_t entries = bytes.U16(*at + 10);
        uint64_t directorySize = bytes.U32(*at + 12), directoryOffset = bytes.U32(*at + 16);
        uint64_t comment = bytes.U16(*at + 20);
        bool zip64 = directoryOffset == 0xFFFFFFFF || directorySize == 0xFFFFFFFF || entries == 0xFFFF;
        if (zip64) {
            if (*at < 20 || !bytes.Equals(*at - 20, kZip64Locator, 4)) continue;
            uint64_t record = bytes.U64(*at - 20 + 8);
            if (record >= *at || !bytes.Equals(record, "PK\x06\x06", 4)) continue;
            entries = bytes.U64(record + 32);
            directorySize = bytes.U64(record + 40);
            directoryOffset = bytes.U64(record + 48);
            if (directoryOffset + directorySize != record) continue;
        } else if (directoryOffset + directorySize != *at) {
            continue;
        }
        if (entries > 0 && !bytes.Equals(directoryOffset, kCentral, 4)) continue;
        uint64_t end = *at + 22 + comment;
        if (end > bytes.Available()) return Damaged(job);

        // Every entry's local header must be where the directory says, and
        // stored entries must match their CRC-32.
        bool whole = true;
        uint64_t p = directoryOffset;
        for (uint64_t e = 0; e < entries && whole; ++e) {
            if (!bytes.Equals(p, kCentral, 4)) {
                whole = false;
                break;
            }
            uint16_t method = bytes.U16(p + 10);
            uint32_t crc = bytes.U32(p + 16);
            uint64_t packed = bytes.U32(p + 20);
            uint64_t nameLength = bytes.U16(p + 28), extra = bytes.U16(p + 30), note = bytes.U16(p + 32);
            uint64_t local = bytes.U32(p + 42);
            p += 46 + nameLength + extra + note;
            if (local == 0xFFFFFFFF || packed == 0xFFFFFFFF) continue;  // zip64 fields: not followed
            if (!bytes.Equals(local, kLocal, 4) || bytes.U16(local + 26) != nameLength) {
                whole = false;
                break;
            }
            if (method != 0) continue;
            uint64_t data = local + 30 + nameLength + bytes.U16(local + 28);
            uint32_t sum = 0;
            for (uint64_t q = data, stop = data + packed; q < stop;) {
                ByteView piece = bytes.View(
                    q, static_cast<size_t>(std::min<uint64_t>(stop - q, CarvedFileBytes::kMaxView)));
                if (piece.Size() == 0) break;
                sum = Crc32(sum, piece.Data(), piece.Size());
                q += piece.Size();
            }
            if (sum != crc) whole = false;
        }
        job.verdict = whole ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
        return end;
    }
    if (bytes.Cancelled()) return std::nullopt;
    return Damaged(job);
}

StructureSize GzipStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 4 * kGiB);
    uint64_t off = 0;
    bool whole = true;
    int members = 0;
    while (members < 1000) {
        // A member that starts on a sector of its own is a file of its own.
        if (members > 0 && off % job.sectorSize == 0) break;
        ByteView h = bytes.View(off, 10);
        if (h.Size() < 10 || h.U8(0) != 0x1F || h.U8(1) != 0x8B || h.U8(2) != 8 || (h.U8(3) & 0xE0)) break;
        uint8_t flags = h.U8(3);
        uint64_t p = off + 10;
        if (flags & 4) p += 2 + uint64_t{bytes.U16(p)};   // extra field
        for (uint8_t text : {uint8_t{8}, uint8_t{16}}) {  // name, comment: zero-terminated
            if (!(flags & text)) continue;
            static constexpr uint8_t kZero[1] = {0};
            auto end = bytes.Find(p, p + 65536, kZero, 1);
            if (!end) return Damaged(job);
            p = *end + 1;
        }
        if (flags & 2) p += 2;  // header CRC
        auto stream = WalkDeflate(bytes, p, 64 * kGiB);
        if (!stream) {
            if (bytes.Cancelled()) return std::nullopt;
            if (members == 0) return Damaged(job);
            break;
        }
        if (!bytes.Has(stream->end, 8)) return Damaged(job);
        if (bytes.U32(stream->end) != stream->crc ||
            bytes.U32(stream->end + 4) != static_cast<uint32_t>(stream->outputBytes))
            whole = false;
        off = stream->end + 8;
        ++members;
    }
    if (members == 0) return std::nullopt;
    job.verdict = whole ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
    return off;
}

StructureSize CompressedFlashStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 256 * kMiB);
    ByteView h = bytes.View(0, 10);
    if (h.Size() < 10 || !h.Equals(0, "CWS")) return std::nullopt;
    // A zlib stream: method 8, a header check that divides by 31, no preset
    // dictionary; then deflate and an Adler-32.
    uint8_t method = h.U8(8), flags = h.U8(9);
    const uint32_t statedLength = h.U32(4);  // read now: the view moves with the walk
    if ((method & 0x0F) != 8 || ((method << 8) | flags) % 31 != 0 || (flags & 0x20)) return Damaged(job);
    auto stream = WalkDeflate(bytes, 10, 256 * kMiB);
    if (!stream) return bytes.Cancelled() ? std::nullopt : Damaged(job);
    uint64_t end = stream->end + 4;
    if (end > bytes.Available()) return Damaged(job);
    // The header states the length of the whole file once uncompressed.
    job.verdict = stream->outputBytes + 8 == statedLength ? ContentVerdict::kWhole : ContentVerdict::kDamaged;
    return end;
}

StructureSize SevenZipStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 4 * kGiB);
    ByteView start = bytes.View(0, 32);
    if (start.Size() < 32) return std::nullopt;
    if (Crc32(0, start.Data() + 12, 20) != start.U32(8)) return std::nullopt;
    uint64_t offset = start.U64(12), length = start.U64(20);
    if (offset > 4 * kGiB || length == 0 || length > kGiB) return std::nullopt;
    uint64_t end = 32 + offset + length;
    if (end > bytes.Available()) return Damaged(job);
    uint8_t kind = bytes.U8(32 + offset);
    if (kind != 0x01 && kind != 0x17) return Damaged(job);  // a header or an encoded header
    return end;
}

StructureSize RarStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 4 * kGiB);
    static constexpr uint8_t kFive[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    if (bytes.Equals(0, kFive, 8)) {
        // Blocks: CRC-32, header size, then type, flags, and the sizes the
        // flags announce, all as variable-length integers.
        auto vint = [&](uint64_t& at, uint64_t& value) {
            value = 0;
            for (int shift = 0; shift < 64; shift += 7) {
                if (!bytes.Has(at, 1)) return false;
                uint8_t b = bytes.U8(at++);
                value |= uint64_t{b & 0x7Fu} << shift;
                if (!(b & 0x80)) return true;
            }
            return false;
        };
        uint64_t off = 8;
        for (int blocks = 0; blocks < 1000000; ++blocks) {
            uint64_t p = off + 4, headerSize = 0, type = 0, flags = 0, extra = 0, data = 0;
            if (!vint(p, headerSize) || headerSize == 0 || headerSize > 2 * kMiB) return Damaged(job);
            uint64_t headerStart = p;
            if (!vint(p, type) || !vint(p, flags)) return Damaged(job);
            if ((flags & 1) && !vint(p, extra)) return Damaged(job);
            if ((flags & 2) && !vint(p, data)) return Damaged(job);
            ByteView header = bytes.View(off + 4, static_cast<size_t>(headerStart - off - 4 + headerSize));
            if (header.Size() != headerStart - off - 4 + headerSize) return Damaged(job);
            if (Crc32(0, header.Data(), header.Size()) != bytes.U32(off)) return Damaged(job);
            if (type < 1 || type > 5) return Damaged(job);
            off = headerStart + headerSize + data;
            if (off > bytes.Available()) return Damaged(job);
            if (type == 5) return off;
        }
        return Damaged(job);
    }
    // Version 4: a marker block, then blocks of CRC, type, flags, header size,
    // and a data size when flag 0x8000 is set; 0x7B ends the archive.
    uint64_t off = 7;
    for (int blocks = 0; blocks < 1000000; ++blocks) {
        if (!bytes.Has(off, 7)) return Damaged(job);
        uint8_t type = bytes.U8(off + 2);
        uint16_t flags = bytes.U16(off + 3);
        uint64_t size = bytes.U16(off + 5);
        if (type < 0x72 || type > 0x7B || size < 7) return Damaged(job);
        if (flags & 0x8000) {
            uint64_t data = bytes.U32(off + 7);
            if (type == 0x74 && (flags & 0x100)) data |= uint64_t{bytes.U32(off + 32)} << 32;
            size += data;
        }
        off += size;
        if (off > bytes.Available()) return Damaged(job);
        if (type == 0x7B) return off;
    }
    return Damaged(job);
}

StructureSize SqliteStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 64 * kGiB);
    ByteView h = bytes.View(0, 100);
    if (h.Size() < 100) return std::nullopt;
    uint64_t pageSize = h.U16Be(16);
    if (pageSize == 1) pageSize = 65536;
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1))) return std::nullopt;
    uint64_t pages = h.U32Be(28);
    // The page count is valid only while the change counter and the
    // version-valid-for number agree.
    if (pages == 0 || h.U32Be(24) != h.U32Be(92)) return std::nullopt;
    uint64_t size = pageSize * pages;
    if (size > bytes.Available()) return Damaged(job);
    // Every page after the first begins with a b-tree page type, or with a
    // page number (overflow and free-list pages) or a pointer-map entry type:
    // never anything else. Pages past a cut rarely do.
    for (uint64_t page = 1; page < pages; ++page) {
        if (pageSize * page == (uint64_t{1} << 30)) continue;  // the lock-byte page holds nothing
        uint8_t kind = bytes.U8(pageSize * page);
        if (!(kind <= 5 || kind == 10 || kind == 13)) return Damaged(job);
        if (bytes.Cancelled()) return std::nullopt;
    }
    return size;
}

// Where a personal store's allocation-map pages are and how they are marked.
constexpr uint64_t kPstFirstMapPage = 0x4400;
constexpr uint64_t kPstMapInterval = 496 * 8 * 64;  // the bytes one map page covers
constexpr uint8_t kPstMapPageType = 0x84;

StructureSize PstStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 64 * kGiB);
    ByteView h = bytes.View(0, 0xC8);
    if (h.Size() < 0xC8) return std::nullopt;
    uint16_t version = h.U16(10);
    uint64_t size, lastMap;
    if (version == 14 || version == 15) {
        size = h.U32(0xA8);
        lastMap = h.U32(0xAC);
    } else if (version >= 23) {
        size = h.U64(0xB8);
        lastMap = h.U64(0xC0);
    } else {
        return std::nullopt;
    }
    if (size < 0x4400 || size % 512 != 0) return std::nullopt;
    if (size > bytes.Available()) return Damaged(job);
    // Allocation-map pages sit at fixed places through the whole store, each
    // ending in a trailer that names its page type twice: a store cut short
    // and overwritten (by random bytes, zeros or another file) loses them.
    const uint64_t trailer = version >= 23 ? 512 - 16 : 512 - 12;
    // The header names the last one; when it names no map page, every place one must be is checked.
    const bool lastKnown = lastMap >= kPstFirstMapPage && lastMap + 512 <= size &&
                           (lastMap - kPstFirstMapPage) % kPstMapInterval == 0;
    const uint64_t mapsEnd = lastKnown ? lastMap + 512 : size;
    for (uint64_t page = kPstFirstMapPage; page + 512 <= mapsEnd; page += kPstMapInterval) {
        ByteView t = bytes.View(page + trailer, 4);
        if (t.Size() < 4) return Damaged(job);
        if (t.U8(0) != kPstMapPageType || t.U8(1) != kPstMapPageType || t.U16(2) != 0) return Damaged(job);
    }
    return size;
}

StructureSize FontStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 256 * kMiB);
    uint32_t tables = bytes.U16Be(4);
    if (tables == 0 || tables > 256) return std::nullopt;
    uint64_t directoryEnd = 12 + 16 * uint64_t{tables};
    uint64_t end = directoryEnd;
    for (uint32_t t = 0; t < tables; ++t) {
        uint64_t record = 12 + 16 * uint64_t{t};
        ByteView entry = bytes.View(record, 16);
        if (entry.Size() < 16) return Damaged(job);
        for (size_t i = 0; i < 4; ++i)
            if (entry.U8(i) < 0x20 || entry.U8(i) > 0x7E) return std::nullopt;
        uint64_t offset = entry.U32Be(8), length = entry.U32Be(12);
        if (offset < directoryEnd) return std::nullopt;
        end = std::max(end, offset + length);
    }
    // Every table is padded to a multiple of four bytes, the last one too.
    end = (end + 3) / 4 * 4;
    if (end > bytes.Available()) return Damaged(job);
    // Each table's checksum is the sum of its big-endian 32-bit words (the
    // head table's with its adjustment field taken as zero).
    for (uint32_t t = 0; t < tables; ++t) {
        uint64_t record = 12 + 16 * uint64_t{t};
        bool head = bytes.Equals(record, "head", 4);
        uint32_t expected = bytes.U32Be(record + 4);
        uint64_t offset = bytes.U32Be(record + 8), length = bytes.U32Be(record + 12);
        uint32_t sum = 0;
        for (uint64_t at = 0; at < length; at += 4) {
            if (head && at == 8) continue;
            ByteView word = bytes.View(offset + at, 4);
            uint32_t value = 0;
            for (size_t i = 0; i < 4; ++i) value = (value << 8) | (at + i < length ? word.U8(i) : 0);
            sum += value;
        }
        if (bytes.Cancelled()) return std::nullopt;
        if (sum != expected) return Damaged(job);
    }
    job.verdict = ContentVerdict::kWhole;
    return end;
}

StructureSize CabinetStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 4 * kGiB);
    ByteView h = bytes.View(0, 40);
    if (h.Size() < 36 || !h.Equals(0, "MSCF") || h.U32(4) != 0 || h.U8(24) != 3 || h.U8(25) != 1)
        return std::nullopt;
    const uint64_t size = h.U32(8);
    const uint32_t folders = h.U16(26), flags = h.U16(30);
    if (size < 36 || folders == 0 || h.U32(16) >= size || (flags & ~0x0007u) != 0) return std::nullopt;
    if (size > bytes.Available()) return Damaged(job);
    // Reserved areas in the header, every folder entry and every data block.
    uint64_t at = 36;
    uint32_t folderReserve = 0, dataReserve = 0;
    if (flags & 0x0004) {
        folderReserve = h.U8(38);
        dataReserve = h.U8(39);
        at = 40 + uint64_t{h.U16(36)};
    }
    // The names of the previous and next cabinet of a set, each a cabinet and a disk name.
    const int names = (flags & 0x0001 ? 2 : 0) + (flags & 0x0002 ? 2 : 0);
    for (int n = 0; n < names; ++n) {
        static constexpr uint8_t kZero = 0;
        auto end = bytes.Find(at, std::min<uint64_t>(at + 256, size), &kZero, 1);
        if (!end) return std::nullopt;
        at = *end + 1;
    }
    // Each folder's data blocks lie one after another from its first; the
    // last block of the last folder ends the cabinet.
    uint64_t end = 0;
    for (uint32_t f = 0; f < folders; ++f) {
        const uint64_t entry = at + f * (8 + uint64_t{folderReserve});
        if (entry + 8 > size) return std::nullopt;
        uint64_t block = bytes.U32(entry);
        const uint32_t blocks = bytes.U16(entry + 4);
        if (block >= size) return std::nullopt;
        for (uint32_t b = 0; b < blocks; ++b) {
            if (!bytes.Has(block, 8)) return Damaged(job);
            const uint32_t packed = bytes.U16(block + 4), unpacked = bytes.U16(block + 6);
            // A block unpacks to at most 32 KiB; only a folder's last one to less.
            if (packed == 0 || unpacked == 0 || unpacked > 32768) return Damaged(job);
            block += 8 + uint64_t{dataReserve} + packed;
            if (block > size) return Damaged(job);
        }
        end = std::max(end, block);
    }
    if (end != size) return Damaged(job);
    return size;
}

}  // namespace sorvane
