// How long a carved file is, type by type. Most types are measured by reading
// the sectors after the first one until a footer, another file, a sector of
// file-system metadata or the type's limit; a few take their length from a
// header field.
#include <algorithm>
#include <cstring>
#include <optional>

#include "carving/carved_file_bytes.h"
#include "carving/carved_file_measure.h"
#include "carving/file_signature.h"
#include "carving/size_finders.h"
#include "carving/structure_sizes.h"
#include "device/byte_search.h"
#include "device/byte_view.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;

// A footer that ends at `end` (an offset from a sector boundary of `data`) is
// taken only when it ends its sector or nothing but zeros follows it there, so
// that the same bytes inside the file's body do not cut it short.
bool PassesZeroTail(uint32_t ss, const uint8_t* data, size_t length, size_t end) {
    if (ss == 0 || end % ss == 0) return true;
    size_t sectorEnd = std::min(length, (end / ss + 1) * size_t{ss});
    for (size_t i = end; i < sectorEnd; ++i)
        if (data[i] != 0) return false;
    return true;
}

// End offset of the first occurrence of `pattern` in `data`; with
// `zeroTail`, occurrences that fail the zero-tail rule are passed over.
std::optional<size_t> FirstFooterEnd(uint32_t ss, const uint8_t* data, size_t length, const void* pattern,
                                     size_t patternLength, bool zeroTail) {
    size_t from = 0;
    while (from < length) {
        auto hit = FindBytes(length - from, data + from, pattern, patternLength);
        if (!hit) return std::nullopt;
        size_t end = from + *hit + patternLength;
        if (!zeroTail || PassesZeroTail(ss, data, length, end)) return end;
        from += *hit + 1;
    }
    return std::nullopt;
}

// What a type's footer search makes of one chunk of the continuation walk.
struct ChunkAnswer {
    enum Kind { kGoOn, kStop, kEnd } kind = kGoOn;
    uint64_t end = 0;  // kEnd: the file's size in bytes
    static ChunkAnswer GoOn() { return {}; }
    static ChunkAnswer Stop() { return {kStop, 0}; }
    static ChunkAnswer End(uint64_t size) { return {kEnd, size}; }
};

struct NoFooter {
    ChunkAnswer operator()(const uint8_t*, size_t, uint64_t) const { return ChunkAnswer::GoOn(); }
};

// Reads the sectors after the file's first one, in chunks of at most 64 KiB
// into the scratch buffer, reporting progress after every read. The file ends
// at the first boundary, at a footer accepted by `footer`, at the limit (bytes
// after the first sector), at a failed read, or when the progress callback
// answers non-zero. Returns the size reached in bytes.
template <class Footer>
uint64_t ContinuationWalk(CarveJob& job, uint64_t limit, Footer&& footer, bool ignoreMpeg = false) {
    CarveJob& ctx = job;
    uint32_t ss = ctx.sectorSize;
    if (ss == 0) return 0;
    uint64_t size = ss;
    if (!ctx.reader || !ctx.reader->IsOpen() || ss > kMaxCarveChunk) return size;
    uint8_t* scratch = job.Scratch();
    uint64_t budget = limit / ss;
    uint64_t walked = 0;
    const uint32_t perChunk = static_cast<uint32_t>(kMaxCarveChunk / ss);
    while (budget > 0) {
        uint64_t first = ctx.startSector + 1 + walked;
        uint64_t diskSectors = ctx.reader->totalSectors;
        if (first >= diskSectors) break;
        // The last chunk before the end of the disk holds what is left, so a
        // file that ends near the end of the disk is still measured.
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>({budget, perChunk, diskSectors - first}));
        uint32_t got = 0;
        bool readFailed = ReadSectors(n, *ctx.reader, scratch, first, ss, &got) != 0;
        if (readFailed) {
            if (got == 0) break;
            n = got;  // what the disk delivered is still measured; the walk ends after it
        }
        uint64_t bytesBefore = size;
        if (ctx.scanProgress) {
            uint64_t soFar = ctx.sectorsDone + walked + n;
            uint64_t percent = ctx.totalSectors ? soFar * 100 / ctx.totalSectors + 10 : 10;
            ctx.callbackStatus =
                ctx.scanProgress(ctx.userData, static_cast<int>(std::min<uint64_t>(percent, 1000)),
                                 ctx.weight, ctx.remainingSeconds, soFar, ctx.totalSectors, ctx.foundCount);
            if (ctx.callbackStatus != 0) break;
        }
        size_t chunkLength = size_t{n} * ss;
        bool boundary = FindNextFileStart(job, scratch, chunkLength, size, ignoreMpeg);
        // A footer before the boundary belongs to this file and wins; only when
        // there is none may one past the boundary end it (the boundary was then
        // data of the file that looked like a file start). Searching the whole
        // chunk first would hand this file the footer of the file that follows,
        // and a "last footer" search would always do so.
        ChunkAnswer answer;
        if (boundary) {
            answer = footer(scratch, static_cast<size_t>(size - bytesBefore), bytesBefore);
            if (answer.kind == ChunkAnswer::kEnd) return answer.end;
        }
        answer = footer(scratch, chunkLength, bytesBefore);
        if (answer.kind == ChunkAnswer::kEnd) return answer.end;
        if (boundary) break;
        size += chunkLength;
        walked += n;
        budget -= n;
        if (answer.kind == ChunkAnswer::kStop || readFailed) break;
    }
    return size;
}

// The size the file's structure gives when it checks out, else the walk's.
template <class Walk>
uint64_t StructureOrWalk(CarveJob& job, StructureSize structure, Walk&& walk) {
    if (structure) return *structure;
    if (job.callbackStatus != 0) return job.sectorSize;  // stopped while the structure was read
    return walk();
}

uint64_t WalkWithoutFooter(CarveJob& job, uint64_t limit) { return ContinuationWalk(job, limit, NoFooter{}); }

// A footer searched first in the file's first sector, then in every chunk;
// the first accepted one ends the file.
uint64_t FooterSize(CarveJob& job, const uint8_t* buffer, size_t length, uint64_t limit, const void* pattern,
                    size_t patternLength) {
    if (auto end = FirstFooterEnd(job.sectorSize, buffer, length, pattern, patternLength, true)) return *end;
    return ContinuationWalk(job, limit, [&](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto end = FirstFooterEnd(job.sectorSize, chunk, n, pattern, patternLength, true))
            return ChunkAnswer::End(before + *end);
        return ChunkAnswer::GoOn();
    });
}

// Reads the first 64 KiB of the file (fewer near the end of the disk) into the
// scratch buffer for a header too long for one sector. Returns the bytes read, 0 on failure.
size_t ReadFileHead(CarveJob& job) {
    CarveJob& ctx = job;
    uint32_t ss = ctx.sectorSize;
    if (!ctx.reader || !ctx.reader->IsOpen() || ss == 0 || ss > kMaxCarveChunk) return 0;
    if (ctx.startSector >= ctx.reader->totalSectors) return 0;
    uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>(kMaxCarveChunk / ss, ctx.reader->totalSectors - ctx.startSector));
    uint32_t got = 0;
    // The sectors that could be read are measured; a failed read leaves fewer.
    static_cast<void>(ReadSectors(n, *ctx.reader, job.Scratch(), ctx.startSector, ss, &got));
    return size_t{got} * ss;
}

}  // namespace

std::optional<uint64_t> StructureSizeOfType(FileTypeCode code, CarveJob& job, const uint8_t* buffer,
                                            size_t length) {
    switch (code) {
        case kTypeJpg:
            return JpegStructureSize(job);
        case kTypePng:
            return PngStructureSize(job);
        case kTypeGif:
            return GifStructureSize(job);
        case kTypeBmp:
            return BmpStructureSize(job, buffer, length);
        case kTypeTif:
            return TiffStructureSize(job);
        case kTypePsd:
            return PsdStructureSize(job);
        case kTypeMp4:
        case kTypeMov:
        case kType3gp:
        case kType3g2:
        case kTypeM4a:
            return IsoMediaStructureSize(job);
        case kTypeMkv:
            return MatroskaStructureSize(job);
        case kTypeFlv:
            return FlvStructureSize(job);
        case kTypeRmvb:
            return RealMediaStructureSize(job);
        case kTypeMxf:
            return MxfStructureSize(job);
        case kTypeMp3:
        case kTypeMp2:
            return MpegAudioStructureSize(job);
        case kTypeMmf:
            return SmafStructureSize(job);
        case kTypePdf:
            return PdfStructureSize(job);
        case kTypeZip:
        case kTypeDocx:
        case kTypeXlsx:
        case kTypePptx:
            return ZipStructureSize(job);
        case kType7z:
            return SevenZipStructureSize(job);
        case kTypeRar:
            return RarStructureSize(job);
        case kTypeGz:
            return GzipStructureSize(job);
        case kTypeDb:
            return SqliteStructureSize(job);
        case kTypePst:
            return PstStructureSize(job);
        case kTypeTtf:
            return FontStructureSize(job);
        case kTypeWmv:
            return AsfStructureSize(job);
        case kTypeMpeg:
            return length >= 4 && buffer[3] == 0xB3 ? ElementaryVideoStructureSize(job)
                                                    : MpegProgramStructureSize(job);
        case kTypeCab:
            return CabinetStructureSize(job);
        default:
            return std::nullopt;
    }
}

// ---- pictures ----------------------------------------------------------------

uint64_t FindJpgSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    if (auto size = JpegStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    static constexpr uint8_t kEnd[2] = {0xFF, 0xD9};
    static constexpr uint64_t kLimit = 128 * kMiB;
    if (auto end = FirstFooterEnd(job.sectorSize, buffer, length, kEnd, 2, true)) return *end;
    // An end-of-image marker in a later chunk replaces an earlier one: embedded
    // thumbnails end with the same marker.
    std::optional<uint64_t> candidate;
    uint64_t size = ContinuationWalk(job, kLimit, [&](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto end = FirstFooterEnd(job.sectorSize, chunk, n, kEnd, 2, true)) candidate = before + *end;
        return ChunkAnswer::GoOn();
    });
    return candidate && *candidate < size ? *candidate : size;
}

uint64_t FindGifSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    static constexpr uint8_t kTrailer[2] = {0x00, 0x3B};
    if (auto size = GifStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    return FooterSize(job, buffer, length, 128 * kMiB, kTrailer, 2);
}

uint64_t FindPngSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    static constexpr uint8_t kIend[8] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (auto size = PngStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    return FooterSize(job, buffer, length, 128 * kMiB, kIend, 8);
}

uint64_t FindTifSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, TiffStructureSize(job), [&] { return WalkWithoutFooter(job, 128 * kMiB); });
}

uint64_t FindPsdSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, PsdStructureSize(job), [&] { return WalkWithoutFooter(job, 128 * kMiB); });
}

uint64_t FindBmpSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    // The size field is trusted only when the header's dimensions fit in it.
    return StructureOrWalk(job, BmpStructureSize(job, buffer, length),
                           [&] { return WalkWithoutFooter(job, 128 * kMiB); });
}

uint64_t FindIcoSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    ByteView v(buffer, length);
    uint32_t count = v.U16(4);
    if (count == 0) return 0;
    size_t last = 6 + 16 * size_t{count - 1};
    if (!v.Has(last, 16)) {
        size_t got = ReadFileHead(job);
        if (got == 0) return job.sectorSize;
        v = ByteView(job.Scratch(), got);
    }
    return uint64_t{v.U32(last + 12)} + v.U32(last + 8);
}

// ---- audio and video -----------------------------------------------------------

uint64_t FindAviSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    return length >= 16 ? uint64_t{ByteView(buffer, length).U32(4)} + 8 : job.sectorSize;
}

uint64_t FindWavSize(CarveJob&, const uint8_t* buffer, size_t length) {
    return uint64_t{ByteView(buffer, length).U32(4)} + 8;
}

uint64_t FindRmvbSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = RealMediaStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    static constexpr uint8_t kIndex[20] = {'I', 'N', 'D', 'X', 0, 0,    0, 0x14, 0, 0,
                                           0,   0,   0,   0,   0, 0x02, 0, 0,    0, 0};
    return ContinuationWalk(job, 6 * kGiB, [&job](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto end = FirstFooterEnd(job.sectorSize, chunk, n, kIndex, 20, false))
            return ChunkAnswer::End(before + *end);
        return ChunkAnswer::GoOn();
    });
}

uint64_t FindMkvSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, MatroskaStructureSize(job),
                           [&] { return WalkWithoutFooter(job, 64 * kGiB); });
}

uint64_t FindMp4Size(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = IsoMediaStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    static constexpr char kText[] = "freeIsoMedia File Produced";
    return ContinuationWalk(job, 6 * kGiB, [](const uint8_t* chunk, size_t n, uint64_t before) {
        auto hit = FindBytes(n, chunk, kText, sizeof kText - 1);
        if (!hit) return ChunkAnswer::GoOn();
        size_t end = *hit + sizeof kText - 1;
        while (end < n && chunk[end] != 0) ++end;
        return ChunkAnswer::End(before + end);
    });
}

uint64_t FindGzSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, GzipStructureSize(job), [&] { return WalkWithoutFooter(job, 6 * kGiB); });
}

uint64_t FindSwfSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    ByteView v(buffer, length);
    if (v.U8(0) != 'F') {
        // A compressed file's length field counts the bytes after inflating:
        // only running its stream tells where it ends.
        if (auto size = CompressedFlashStructureSize(job)) return *size;
        return job.sectorSize;
    }
    return std::min<uint64_t>(v.U32(4), 256 * kMiB);
}

uint64_t FindIsoMediaSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, IsoMediaStructureSize(job), [&] { return WalkWithoutFooter(job, 6 * kGiB); });
}

uint64_t FindFlvSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, FlvStructureSize(job), [&] { return WalkWithoutFooter(job, 6 * kGiB); });
}

uint64_t FindMxfSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, MxfStructureSize(job), [&] { return WalkWithoutFooter(job, 6 * kGiB); });
}

uint64_t FindShortMediaSize(CarveJob& job, const uint8_t*, size_t) {
    return WalkWithoutFooter(job, 256 * kMiB);
}

uint64_t FindMp2Size(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, MpegAudioStructureSize(job),
                           [&] { return WalkWithoutFooter(job, 256 * kMiB); });
}

uint64_t FindMmfSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, SmafStructureSize(job), [&] { return WalkWithoutFooter(job, 256 * kMiB); });
}

uint64_t FindMpegSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    static constexpr uint8_t kSequenceEnd[4] = {0x00, 0x00, 0x01, 0xB7};
    static constexpr uint8_t kProgramEnd[4] = {0x00, 0x00, 0x01, 0xB9};
    const uint8_t* endCode = length >= 4 && buffer[3] == 0xB3 ? kSequenceEnd : kProgramEnd;
    StructureSize packs;
    if (endCode == kSequenceEnd) {
        if (auto size = ElementaryVideoStructureSize(job)) return *size;
        if (job.callbackStatus != 0) return job.sectorSize;
    } else {
        packs = MpegProgramStructureSize(job);
        if (packs && job.verdict == ContentVerdict::kWhole) return *packs;  // ended by its end code
        if (job.callbackStatus != 0) return job.sectorSize;
    }
    // Packs that stop without an end code: an end code further on (past
    // bytes that are no pack) still ends the stream; without one the stream
    // ends where its packs do.
    bool footer = false;
    uint64_t walked = ContinuationWalk(
        job, 6 * kGiB,
        [&](const uint8_t* chunk, size_t n, uint64_t before) {
            if (auto end = FirstFooterEnd(job.sectorSize, chunk, n, endCode, 4, true)) {
                footer = true;
                return ChunkAnswer::End(before + *end);
            }
            return ChunkAnswer::GoOn();
        },
        /*ignoreMpeg=*/true);
    return packs && !footer ? *packs : walked;
}

uint64_t FindMp3Size(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = MpegAudioStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    // An ID3 version 1 tag is "TAG" and 125 more bytes at the very end.
    std::optional<uint64_t> candidate;
    uint64_t size = ContinuationWalk(job, 2 * kGiB, [&](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto hit = FindBytes(n, chunk, "TAG", 3)) candidate = before + *hit + 128;
        return ChunkAnswer::GoOn();
    });
    return candidate && *candidate < size ? *candidate : size;
}

uint64_t FindMidSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    // A MIDI file is its 14-byte header and a chain of "MTrk" chunks, each 8
    // bytes plus its length. The chain is followed from the header on, through
    // the first sector and then the walked chunks, so tracks in the first
    // sector count and "MTrk" bytes inside track data do not.
    ByteView v(buffer, length);
    uint32_t tracks = length >= 12 ? v.U16Be(10) : 0;
    uint64_t next = 14;
    bool broken = false;
    auto follow = [&](const uint8_t* data, size_t n, uint64_t base) {
        while (tracks > 0 && !broken && next >= base && next - base + 8 <= n) {
            const uint8_t* at = data + (next - base);
            if (std::memcmp(at, "MTrk", 4) != 0) {
                broken = true;
                break;
            }
            next += 8 + uint64_t{ByteView(at, 8).U32Be(4)};
            --tracks;
        }
    };
    follow(buffer, length, 0);
    if (tracks == 0 && !broken && next <= length) return next;
    uint64_t size = ContinuationWalk(job, 8 * kMiB, [&](const uint8_t* chunk, size_t n, uint64_t before) {
        follow(chunk, n, before);
        if (tracks == 0 && !broken && next <= before + n) return ChunkAnswer::Stop();
        return ChunkAnswer::GoOn();
    });
    return tracks == 0 && !broken ? std::min(size, next) : size;
}

uint64_t FindApeSize(CarveJob& job, const uint8_t*, size_t) {
    static constexpr uint8_t kTag[10] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
    return ContinuationWalk(job, 2 * kGiB, [](const uint8_t* chunk, size_t n, uint64_t before) {
        auto first = FindBytes(n, chunk, kTag, 10);
        if (!first) return ChunkAnswer::GoOn();
        size_t from = *first + 1;
        if (auto second = FindBytes(n - from, chunk + from, kTag, 10))
            return ChunkAnswer::End(before + from + *second + 32);
        return ChunkAnswer::End(before + n);
    });
}

uint64_t FindWmvSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    if (auto size = AsfStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    if (job.verdict == ContentVerdict::kDamaged) return WalkWithoutFooter(job, 256 * kMiB);
    // Without a structure that checks out, the file properties' size field.
    static constexpr uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    uint32_t ss = job.sectorSize;
    if (length <= 30) return ss;
    auto hit = FindBytes(length - 30, buffer + 30, kFileProperties, 16);
    if (!hit) return ss;
    ByteView v(buffer, length);
    size_t object = 30 + *hit;
    if (!v.Has(object + 88, 4)) return ss;
    if (v.U32(object + 88) & 1) return ss;  // a broadcast file does not know its size
    uint64_t size = v.U64(object + 40);
    return size >> 32 ? 256 * kMiB : std::min<uint64_t>(size, 256 * kMiB);
}

uint64_t FindTsSize(CarveJob& job, const uint8_t*, size_t) {
    // Packets run every 188 bytes from the file's first byte; the first one
    // that does not begin with 0x47 ends the stream. Sectors inside it that
    // look like other files' starts (its payload is other formats' data) do
    // not.
    static constexpr uint64_t kPacket = 188;
    CarvedFileBytes bytes(job, 64 * kGiB);
    uint64_t end = 0;
    while (end + kPacket <= bytes.Available() && bytes.U8(end) == 0x47) end += kPacket;
    if (end == 0 || bytes.Cancelled()) return job.sectorSize;
    uint32_t ss = job.sectorSize;
    job.tsRanges.push_back({job.startSector, job.startSector + (end + ss - 1) / ss - 1});
    return end;
}

uint64_t FindM2tsSize(CarveJob& job, const uint8_t*, size_t) {
    // Packets of 192 bytes, each a time stamp and a packet that begins with
    // 0x47, run from the file's first byte to the first that does not.
    static constexpr uint64_t kPacket = 192;
    CarvedFileBytes bytes(job, 64 * kGiB);
    uint64_t end = 0;
    while (end + kPacket <= bytes.Available() && bytes.U8(end + 4) == 0x47) end += kPacket;
    if (end == 0 || bytes.Cancelled()) return job.sectorSize;
    uint32_t ss = job.sectorSize;
    job.tsRanges.push_back({job.startSector, job.startSector + (end + ss - 1) / ss - 1});
    return end;
}

// ---- documents -------------------------------------------------------------------

uint64_t FindPdfSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = PdfStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    return ContinuationWalk(job, kGiB, [](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto hit = FindBytesReverse(n, 5, chunk, "%%EOF")) return ChunkAnswer::End(before + *hit + 5);
        if (auto hit = FindBytesReverse(n, 7, chunk, "trailer")) return ChunkAnswer::End(before + *hit + 7);
        return ChunkAnswer::GoOn();
    });
}

uint64_t CompoundFileSizeFromAllocationTable(CarveJob& job, const uint8_t* header, size_t length) {
    static constexpr uint64_t kMaxSize = 134217727;
    static constexpr uint32_t kHeaderEntries = 109;  // allocation-sector numbers held in the header
    static constexpr uint32_t kFree = 0xFFFFFFFF;
    ByteView h(header, length);
    if (length < 512) return 0;
    uint32_t shift = h.U16(30);
    if (shift != 9 && shift != 12) return 0;
    uint64_t f = h.U32(44);  // allocation sectors
    uint64_t d = h.U32(72);  // extra allocation-index sectors
    uint32_t k = shift - 2;
    uint64_t limit = (uint64_t{0xFFFFFFFA} >> k) + 1;
    if (f > limit || h.U32(64) > limit) return 0;
    if (d > limit / ((uint64_t{1} << k) - 1) + 1) return 0;
    if (d != 0 && f <= 108) return 0;
    if (f == 0 || (d == 0 && f > kHeaderEntries)) return 0;

    // The file's sectors are (1 << shift) bytes and sector n starts after the
    // header at byte (n + 1) << shift. Each allocation or index sector holds
    // (1 << shift) / 4 entries.
    CarveJob& ctx = job;
    uint32_t ss = ctx.sectorSize;
    const uint32_t fileSector = uint32_t{1} << shift;
    const uint32_t entries = fileSector / 4;
    if (ss == 0 || fileSector % ss != 0 || fileSector > kMaxCarveChunk) return 0;
    const uint32_t diskPerFileSector = fileSector / ss;
    std::vector<uint8_t> sector(fileSector);
    auto readFileSector = [&](uint64_t number) {
        return ctx.ReadWhole(ctx.startSector + (number + 1) * diskPerFileSector, diskPerFileSector,
                             sector.data());
    };

    uint64_t last;
    if (d == 0) {
        last = h.U32(76 + 4 * (f - 1));
    } else {
        uint64_t index = h.U32(68);
        last = kFree;
        for (uint64_t i = 1; i <= d; ++i) {
            if (index >= 0xFFFFFFFC || !readFileSector(index)) return 0;
            ByteView s(sector.data(), fileSector);
            if (i == d) {
                uint64_t r = (f - kHeaderEntries) % (entries - 1);
                last = r == 0 ? s.U32(4 * (entries - 2)) : s.U32(4 * (r - 1));
            } else {
                index = s.U32(4 * (entries - 1));
            }
        }
    }
    if (last >= 0xFFFFFFFA || !readFileSector(last)) return 0;
    ByteView s(sector.data(), fileSector);
    uint64_t freeAtEnd = 0;
    while (freeAtEnd < entries && s.U32(4 * (entries - 1 - freeAtEnd)) == kFree) ++freeAtEnd;
    uint64_t size = (f * entries + 1 - freeAtEnd) * fileSector;
    return std::min(size, kMaxSize);
}

uint64_t FindCompoundFileSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    if (uint64_t size = CompoundFileSizeFromAllocationTable(job, buffer, length)) return size;
    static constexpr uint8_t kPropertyHeader[6] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
    static constexpr uint8_t kWordName[26] = {'M', 'i', 'c', 'r', 'o',  's',  'o',  'f', 't',
                                              ' ', 'O', 'f', 'f', 'i',  'c',  'e',  ' ', 'W',
                                              'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
    uint32_t ss = job.sectorSize;
    return ContinuationWalk(job, 134217727, [ss](const uint8_t* chunk, size_t n, uint64_t before) {
        if (!FindBytes(n, chunk, kPropertyHeader, 6)) return ChunkAnswer::GoOn();
        auto name = FindBytes(n, chunk, kWordName, 26);
        if (!name) return ChunkAnswer::GoOn();
        uint64_t end = before + *name + 26;
        return ChunkAnswer::End((end + ss - 1) / ss * ss);
    });
}

uint64_t FindOfficeOpenXmlSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = ZipStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    return ContinuationWalk(job, 134217727, [](const uint8_t* chunk, size_t n, uint64_t before) {
        static constexpr uint8_t kEnd[4] = {0x50, 0x4B, 0x05, 0x06};
        if (auto hit = FindBytesReverse(n, 4, chunk, kEnd)) return ChunkAnswer::End(before + *hit + 22);
        return ChunkAnswer::GoOn();
    });
}

// ---- archives and stores -------------------------------------------------------

uint64_t FindZipSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = ZipStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    return ContinuationWalk(job, 4 * kGiB, [](const uint8_t* chunk, size_t n, uint64_t before) {
        static constexpr uint8_t kEnd[4] = {0x50, 0x4B, 0x05, 0x06};
        if (auto hit = FindBytesReverse(n, 4, chunk, kEnd)) return ChunkAnswer::End(before + *hit + 22);
        return ChunkAnswer::GoOn();
    });
}

uint64_t FindRarSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = RarStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    static constexpr uint8_t kEndOfArchive[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
    return ContinuationWalk(job, 4 * kGiB, [&job](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto end = FirstFooterEnd(job.sectorSize, chunk, n, kEndOfArchive, 7, true))
            return ChunkAnswer::End(before + *end);
        return ChunkAnswer::GoOn();
    });
}

uint64_t FindCabSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    if (auto size = CabinetStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    if (job.verdict == ContentVerdict::kDamaged) return WalkWithoutFooter(job, kGiB);
    if (length < 36) return job.sectorSize;
    return std::min<uint64_t>(ByteView(buffer, length).U32(8), kGiB);
}

uint64_t Find7zSize(CarveJob& job, const uint8_t*, size_t) {
    if (auto size = SevenZipStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    static constexpr uint8_t kHeaderCoder[12] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                                                 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
    return ContinuationWalk(job, 4 * kGiB, [](const uint8_t* chunk, size_t n, uint64_t before) {
        if (auto hit = FindBytesReverse(n, 12, chunk, kHeaderCoder))
            return ChunkAnswer::End(before + *hit + 27);
        return ChunkAnswer::GoOn();
    });
}

uint64_t FindMailStoreSize(CarveJob& job, const uint8_t*, size_t) { return WalkWithoutFooter(job, 2 * kGiB); }

uint64_t FindPstSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, PstStructureSize(job), [&] { return WalkWithoutFooter(job, 2 * kGiB); });
}

uint64_t FindDbSize(CarveJob& job, const uint8_t*, size_t) {
    return StructureOrWalk(job, SqliteStructureSize(job), [&] { return WalkWithoutFooter(job, 4 * kGiB); });
}

uint64_t FindTtfSize(CarveJob& job, const uint8_t* buffer, size_t length) {
    if (auto size = FontStructureSize(job)) return *size;
    if (job.callbackStatus != 0) return job.sectorSize;
    if (length < 6) return 0;
    uint32_t tables = ByteView(buffer, length).U16Be(4);
    if (tables == 0) return 0;
    size_t directoryEnd = 12 + 16 * size_t{tables};
    const uint8_t* directory = buffer;
    size_t available = length;
    if (directoryEnd > length) {
        available = ReadFileHead(job);
        if (available == 0) return job.sectorSize;
        directory = job.Scratch();
    }
    uint64_t end = 0;
    for (size_t record = 12; record + 16 <= std::min(directoryEnd, available); record += 16)
        end = std::max<uint64_t>(end, uint64_t{ByteView(directory, available).U32Be(record + 8)} +
                                          ByteView(directory, available).U32Be(record + 12));
    return end;
}

}  // namespace sorvane
