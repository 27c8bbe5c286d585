#include "carving/file_signature.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "carving/size_finders.h"
#include "carving/structure_sizes.h"
#include "device/byte_view.h"

namespace sorvane {
namespace {

constexpr FileTypeCode kNo = kTypeNotRecognised;

// ---- plain magic-number recognisers --------------------------------------

FileTypeCode RecogniseMp3(const CarveJob&, const uint8_t* b, size_t n) {
    // The ID3v2 header is 10 bytes; all of them are tested.
    if (n < 10 || !ByteView(b, n).Equals(0, "ID3")) return kNo;
    if (b[3] == 0xFF || b[4] == 0xFF || (b[5] & 0x1F) != 0) return kNo;
    for (int i = 6; i <= 9; ++i)
        if (b[i] >= 0x80) return kNo;
    return kTypeMp3;
}

FileTypeCode RecogniseWav(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 16 && ByteView(b, n).Equals(0, "RIFF") && ByteView(b, n).Equals(8, "WAVE") &&
                   ByteView(b, n).Equals(12, "fmt ")
               ? kTypeWav
               : kNo;
}

constexpr uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
FileTypeCode RecogniseWmv(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 24 && ByteView(b, n).Equals(0, kAsfHeaderGuid, 16) ? kTypeWmv : kNo;
}

FileTypeCode RecogniseMid(const CarveJob&, const uint8_t* b, size_t n) {
    // "MTrk" at 14 ends at byte 18.
    return n >= 18 && ByteView(b, n).Equals(0, "MThd") && ByteView(b, n).U32Be(4) == 6 &&
                   ByteView(b, n).Equals(14, "MTrk")
               ? kTypeMid
               : kNo;
}

FileTypeCode RecogniseApe(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 4 && ByteView(b, n).Equals(0, "MAC ") ? kTypeApe : kNo;
}

FileTypeCode RecogniseMp2(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {0xFF, 0xFD, 0xE4, 0x00};
    return n >= 4 && ByteView(b, n).Equals(0, kMagic, 4) ? kTypeMp2 : kNo;
}

FileTypeCode RecogniseMmf(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 4 && ByteView(b, n).Equals(0, "MMMD") ? kTypeMmf : kNo;
}

FileTypeCode RecogniseRar(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    return n >= 7 && ByteView(b, n).Equals(0, kMagic, 7) ? kTypeRar : kNo;
}

constexpr uint8_t kZipLocalHeader[4] = {0x50, 0x4B, 0x03, 0x04};
FileTypeCode RecogniseZip(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 48 && ByteView(b, n).Equals(0, kZipLocalHeader, 4) ? kTypeZip : kNo;
}

FileTypeCode RecogniseGz(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 16 || b[0] != 0x1F || b[1] != 0x8B || b[2] != 0x08) return kNo;
    if (b[3] != 0 && b[3] != 8) return kNo;
    if (b[8] != 2 && b[8] != 4) return kNo;
    return b[9] <= 13 || b[9] == 255 ? kTypeGz : kNo;
}

FileTypeCode Recognise7z(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[5] = {0x37, 0x7A, 0xBC, 0xAF, 0x27};
    return n >= 5 && ByteView(b, n).Equals(0, kMagic, 5) ? kType7z : kNo;
}

FileTypeCode RecogniseCab(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 36 && ByteView(b, n).Equals(0, "MSCF") ? kTypeCab : kNo;
}

FileTypeCode RecogniseDb(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 16 && ByteView(b, n).Equals(0, "SQLite format 3", 16) ? kTypeDb
                                                                      : kNo;  // the text and its zero byte
}

FileTypeCode RecognisePst(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 16 && ByteView(b, n).Equals(0, "!BDN") && ByteView(b, n).Equals(8, "SM") ? kTypePst : kNo;
}

FileTypeCode RecogniseDbx(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {0xCF, 0xAD, 0x12, 0xFE};
    return n >= 16 && ByteView(b, n).Equals(0, kMagic, 4) ? kTypeDbx : kNo;
}

FileTypeCode RecogniseGho(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {0xFE, 0xEF, 0x00, 0x00};
    return n >= 4 && ByteView(b, n).Equals(0, kMagic, 4) ? kTypeGho : kNo;
}

FileTypeCode RecognisePdf(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 5 && ByteView(b, n).Equals(0, "%PDF-") ? kTypePdf : kNo;
}

FileTypeCode RecognisePe(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 512 || b[0] != 'M' || b[1] != 'Z') return kNo;
    ByteView v(b, n);
    uint32_t h = v.U32(60);
    if (h > 488 || !v.Equals(h, "PE\0\0", 4)) return kNo;
    uint16_t flags = v.U16(h + 22);
    if (!(flags & 0x0002)) return kNo;
    if (flags & 0x1000) return kTypeSys;
    if (flags & 0x2000) return kTypeDll;
    return kTypeExe;
}

FileTypeCode RecogniseJpg(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 16 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return kNo;
    if (b[3] == 0xE0 && ByteView(b, n).Equals(6, "JFIF")) return kTypeJpg;
    if (b[3] == 0xE1 && ByteView(b, n).Equals(6, "Exif")) return kTypeJpg;
    return kNo;
}

FileTypeCode RecogniseGif(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 8 || !ByteView(b, n).Equals(0, "GIF")) return kNo;
    auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
    return digit(b[3]) && digit(b[4]) && b[5] >= 'a' && b[5] <= 'z' ? kTypeGif : kNo;
}

FileTypeCode RecognisePng(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    return n >= 8 && ByteView(b, n).Equals(0, kMagic, 8) ? kTypePng : kNo;
}

FileTypeCode RecogniseBmp(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 40 || b[0] != 'B' || (b[1] != 'M' && b[1] != 'A')) return kNo;
    ByteView v(b, n);
    return v.U16(6) == 0 && v.U16(8) == 0 && v.U32(14) == 40 ? kTypeBmp : kNo;
}

FileTypeCode RecogniseTif(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kBig[4] = {0x4D, 0x4D, 0x00, 0x2A}, kLittle[4] = {0x49, 0x49, 0x2A, 0x00};
    return n >= 4 && (ByteView(b, n).Equals(0, kBig, 4) || ByteView(b, n).Equals(0, kLittle, 4)) ? kTypeTif
                                                                                                 : kNo;
}

FileTypeCode RecognisePsd(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 40 && ByteView(b, n).Equals(0, "8BPS") ? kTypePsd : kNo;
}

FileTypeCode RecogniseAvi(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 16 && ByteView(b, n).Equals(0, "RIFF") && ByteView(b, n).Equals(8, "AVI ") &&
                   ByteView(b, n).Equals(12, "LIST")
               ? kTypeAvi
               : kNo;
}

FileTypeCode RecogniseRmvb(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 4 && ByteView(b, n).Equals(0, ".RMF") ? kTypeRmvb : kNo;
}

FileTypeCode Recognise3gp(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 32 && ByteView(b, n).Equals(4, "ftyp") && ByteView(b, n).Equals(8, "3gp") ? kType3gp : kNo;
}

FileTypeCode RecogniseMp4(const CarveJob&, const uint8_t* b, size_t n) {
    return n >= 32 && ByteView(b, n).Equals(4, "ftyp") &&
                   (ByteView(b, n).Equals(8, "iso") || ByteView(b, n).Equals(8, "mp42"))
               ? kTypeMp4
               : kNo;
}

FileTypeCode RecogniseMov(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 16) return kNo;
    return ByteView(b, n).Equals(0, "moov") ||
                   (ByteView(b, n).Equals(4, "ftyp") && ByteView(b, n).Equals(8, "qt  "))
               ? kTypeMov
               : kNo;
}

FileTypeCode RecogniseFlv(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {'F', 'L', 'V', 0x01}, kHeaderLength[4] = {0, 0, 0, 9};
    return n >= 16 && ByteView(b, n).Equals(0, kMagic, 4) && ByteView(b, n).Equals(5, kHeaderLength, 4)
               ? kTypeFlv
               : kNo;
}

FileTypeCode RecogniseSwf(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 8) return kNo;
    if (ByteView(b, n).Equals(0, "CWS") && b[3] >= 6 && b[3] <= 15) return kTypeSwf;
    if (ByteView(b, n).Equals(0, "FWS") && b[3] < 6) return kTypeSwf;
    return kNo;
}

FileTypeCode RecogniseMpeg(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 16 || b[0] != 0 || b[1] != 0 || b[2] != 1) return kNo;
    uint8_t second;
    if (b[3] == 0xBA)
        second = 0xBB;  // pack header, then a system header
    else if (b[3] == 0xB3)
        second = 0xB8;  // sequence header, then a group of pictures
    else
        return kNo;
    size_t window = std::min<size_t>(n, 32);
    for (size_t i = 0; i + 4 <= window; ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == second) return kTypeMpeg;
    return kNo;
}

FileTypeCode RecogniseMkv(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {0x1A, 0x45, 0xDF, 0xA3};
    return n >= 16 && ByteView(b, n).Equals(0, kMagic, 4) ? kTypeMkv : kNo;
}

constexpr uint8_t kCompoundMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

FileTypeCode RecogniseFla(const CarveJob&, const uint8_t* b, size_t n) {
    // Only the short form of the compound-file magic: a full compound-file
    // header belongs to the office rows. The fla row stands before them in the
    // table, so without this every office document would be taken for fla.
    if (n < 16 || !ByteView(b, n).Equals(0, kCompoundMagic, 4)) return kNo;
    return ByteView(b, n).Equals(4, kCompoundMagic + 4, 4) ? kNo : kTypeFla;
}

FileTypeCode RecogniseTtf(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kVersion[4] = {0x00, 0x01, 0x00, 0x00};
    if (n < 16 || !ByteView(b, n).Equals(0, kVersion, 4)) return kNo;
    ByteView v(b, n);
    uint32_t tables = v.U16Be(4);
    if (tables == 0 || v.U16Be(6) == 0 || v.U16Be(8) == 0 || v.U16Be(10) == 0) return kNo;
    size_t directoryEnd = 12 + 16 * size_t{tables};
    if (directoryEnd + 4 > n) return kNo;
    return ByteView(b, n).Equals(directoryEnd, kVersion, 4) ? kTypeTtf : kNo;
}

FileTypeCode RecogniseIco(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[4] = {0x00, 0x00, 0x01, 0x00};
    if (n < 16 || !ByteView(b, n).Equals(0, kMagic, 4)) return kNo;
    ByteView v(b, n);
    uint32_t count = v.U16(4);
    if (count == 0 || 6 + 16 * size_t{count} > n) return kNo;
    uint64_t runningEnd = 6 + 16 * uint64_t{count};
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = 6 + 16 * size_t{i};
        if (v.U8(entry + 3) != 0 || v.U32(entry + 12) != runningEnd) return kNo;
        runningEnd += v.U32(entry + 8);
    }
    return kTypeIco;
}

FileTypeCode RecogniseMts(const CarveJob& job, const uint8_t* b, size_t n) {
    static constexpr uint8_t kPattern[8] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
    if (n < 16 || !ByteView(b, n).Equals(8, kPattern, 8)) return kNo;
    return ByteView(b, n).U32(0) == 0 || !job.inMts ? kTypeMts : kNo;
}

FileTypeCode RecogniseMxf(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kPartitionKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                                  0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
    return n >= 16 && ByteView(b, n).Equals(0, kPartitionKey, 16) ? kTypeMxf : kNo;
}

// ---- recognisers that look beyond the sector -----------------------------

bool Utf16NameStartsWith(const uint8_t* name, size_t nameBytes, const char* text) {
    size_t count = std::strlen(text);
    if (count * 2 > nameBytes) return false;
    for (size_t i = 0; i < count; ++i) {
        uint16_t unit = static_cast<uint16_t>(name[2 * i] | (name[2 * i + 1] << 8));
        uint16_t want = static_cast<uint8_t>(text[i]);
        auto lower = [](uint16_t c) -> uint16_t { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(unit) != lower(want)) return false;
    }
    return true;
}

// Tells Word, Excel and PowerPoint documents from other compound files by
// their first stream sector, the root entry's class identifier, or the names
// of the streams in the first directory sector.
FileTypeCode CompoundFileSubType(const CarveJob& job, const uint8_t* header, size_t n) {
    static constexpr size_t kSectorBuffer = 4096;
    const CarveJob& ctx = job;
    uint32_t ss = ctx.sectorSize;
    if (ss < 128 || ss > kSectorBuffer) return kTypeOle;
    std::array<uint8_t, kSectorBuffer> sector{};
    if (!ctx.ReadWhole(ctx.currentSector + 1, 1, sector.data())) return kTypeOle;
    ByteView first(sector.data(), ss);
    if (first.U16(0) == 0xA5EC) return kTypeDoc;  // a Word file information block
    if (first.U16(0) == 0x0809 && first.U16(2) == 0x0010 && first.U16(4) == 0x0600)
        return kTypeXls;  // BIFF8 BOF

    uint32_t directorySector = ByteView(header, n).U32(48);
    sector.fill(0);
    if (!ctx.ReadWhole(ctx.currentSector + 1 + directorySector, 1, sector.data())) return kTypeOle;
    static constexpr uint8_t kWordClass[16] = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr uint8_t kExcelClassTail[12] = {0x00, 0x00, 0x00, 0x00, 0xC0, 0x00,
                                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr uint8_t kExcel5[4] = {0x10, 0x08, 0x02, 0x00}, kExcel8[4] = {0x20, 0x08, 0x02, 0x00};
    static constexpr uint8_t kPowerPointClass[16] = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                                     0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};
    ByteView rootClass(sector.data() + 80, 16);
    if (rootClass.Equals(0, kWordClass, 16)) return kTypeDoc;
    if ((rootClass.Equals(0, kExcel8, 4) || rootClass.Equals(0, kExcel5, 4)) &&
        rootClass.Equals(4, kExcelClassTail, 12))
        return kTypeXls;
    if (rootClass.Equals(0, kPowerPointClass, 16)) return kTypePpt;

    for (size_t entry = 0; entry + 128 <= ss; entry += 128) {
        const uint8_t* name = sector.data() + entry;
        if (Utf16NameStartsWith(name, 64, "WordDocument")) return kTypeDoc;
        if (Utf16NameStartsWith(name, 64, "Workbook")) return kTypeXls;
        if (Utf16NameStartsWith(name, 64, "PowerPoint Document")) return kTypePpt;
    }
    return kTypeOle;
}

FileTypeCode RecogniseCompoundFile(const CarveJob& job, const uint8_t* b, size_t n) {
    if (n < 8 || !ByteView(b, n).Equals(0, kCompoundMagic, 8)) return kNo;
    return CompoundFileSubType(job, b, n);
}

bool NameStartsWithIgnoringCase(const uint8_t* name, size_t available, const char* prefix) {
    size_t count = std::strlen(prefix);
    if (available < count) return false;
    for (size_t i = 0; i < count; ++i) {
        uint8_t c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
        if (c != static_cast<uint8_t>(prefix[i])) return false;
    }
    return true;
}

// Looks at the entry names of a ZIP archive in its first 20 sectors for the
// folders that Word, Excel and PowerPoint documents keep their parts in.
FileTypeCode OfficeOpenXmlSubType(const CarveJob& ctx) {
    static constexpr int kMaxBlocks = 5;
    static constexpr uint32_t kSectorsPerBlock = 4;
    static constexpr uint8_t kEndOfDirectory[4] = {0x50, 0x4B, 0x05, 0x06};
    uint32_t ss = ctx.sectorSize;
    if (ss == 0 || !ctx.reader || !ctx.reader->IsOpen()) return kNo;
    std::vector<uint8_t> block(4 + size_t{kSectorsPerBlock} * ss, 0);
    for (int blockIndex = 0; blockIndex < kMaxBlocks; ++blockIndex) {
        uint64_t sector = ctx.currentSector + uint64_t{kSectorsPerBlock} * blockIndex;
        uint64_t total = ctx.reader->totalSectors;
        if (sector >= total) return kNo;
        // Near the end of the disk the block holds what is left.
        uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kSectorsPerBlock, total - sector));
        if (!ctx.ReadWhole(sector, count, block.data() + 4)) return kNo;
        size_t length = 4 + size_t{count} * ss;
        const uint8_t* data = block.data();
        size_t limit = length;
        bool endFound = false;
        for (size_t i = 0; i + 4 <= length; ++i) {
            if (std::memcmp(data + i, kEndOfDirectory, 4) == 0) {
                limit = i;
                endFound = true;
                break;
            }
        }
        for (size_t i = 0; i + 4 <= limit; ++i) {
            if (data[i] != 0x50 || data[i + 1] != 0x4B) continue;
            size_t nameOffset;
            if (data[i + 2] == 0x03 && data[i + 3] == 0x04)
                nameOffset = i + 30;
            else if (data[i + 2] == 0x01 && data[i + 3] == 0x02)
                nameOffset = i + 46;
            else
                continue;
            if (nameOffset >= length) continue;
            const uint8_t* name = data + nameOffset;
            size_t available = length - nameOffset;
            if (NameStartsWithIgnoringCase(name, available, "word")) return kTypeDocx;
            if (NameStartsWithIgnoringCase(name, available, "ppt")) return kTypePptx;
            if (NameStartsWithIgnoringCase(name, available, "xl")) return kTypeXlsx;
        }
        // Names after the end of the central directory belong to something else.
        if (endFound) return kNo;
        std::memcpy(block.data(), data + length - 4, 4);
    }
    return kNo;
}

FileTypeCode RecogniseOfficeOpenXml(const CarveJob& job, const uint8_t* b, size_t n) {
    if (n < 31) return kNo;
    bool zip = ByteView(b, n).Equals(0, kZipLocalHeader, 4);
    if (!zip && !(n >= 50 && ByteView(b, n).Equals(31, "[Content_Types].xml"))) return kNo;
    return OfficeOpenXmlSubType(job);
}

// A transport stream: 188-byte packets that each begin with 0x47, not a
// continuation of a stream that was already found.
FileTypeCode RecogniseTs(const CarveJob& job, const uint8_t* b, size_t n) {
    static constexpr size_t kPacket = 188;
    if (n < kPacket || b[0] != 0x47 || (b[1] == 0 && b[2] == 0 && b[3] == 0)) return kNo;
    // Only the stream's first 4096 bytes are its to show: the buffer may run
    // on past a short stream's end into whatever follows it.
    for (size_t off = kPacket; off < std::min<size_t>(n, 4096); off += kPacket)
        if (b[off] != 0x47) return kNo;
    const CarveJob& ctx = job;
    uint32_t ss = ctx.sectorSize;
    if (ss == 0 || ss > 4096 || 4096 % ss != 0) return kNo;
    std::array<uint8_t, 4096> probe{};
    if (!ctx.ReadWhole(ctx.currentSector, 4096 / ss, probe.data())) return kNo;
    for (size_t off = 0; off <= 3948; off += kPacket)
        if (probe[off] != 0x47) return kNo;
    if (ctx.inTransportStream) {
        if (ctx.currentSector > 0) {
            if (!ctx.ReadWhole(ctx.currentSector - 1, 1, probe.data())) return kNo;
            // The packet grid runs on from the sector before only when every
            // packet start there holds the sync byte: one 0x47 among other
            // data is chance.
            bool gridRunsOn = true;
            for (size_t back = kPacket; back <= ss; back += kPacket)
                gridRunsOn = gridRunsOn && probe[ss - back] == 0x47;
            if (gridRunsOn) return kNo;
        }
        for (const TsRange& range : ctx.tsRanges)
            if (range.firstSector <= ctx.startSector && ctx.startSector <= range.lastSector) return kNo;
    }
    return kTypeTs;
}

// ---- recognisers added after the first table ------------------------------

// A gzip member written at any compression level: the deflate method, no
// reserved flag bits, an extra-flags byte a compressor writes, a known system.
FileTypeCode RecogniseGzAnyLevel(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 16 || b[0] != 0x1F || b[1] != 0x8B || b[2] != 0x08 || (b[3] & 0xE0) != 0) return kNo;
    if (b[8] != 0 && b[8] != 2 && b[8] != 4) return kNo;
    return b[9] <= 13 || b[9] == 255 ? kTypeGz : kNo;
}

// A font by its table directory, whatever table comes first: the search
// fields that follow from the table count, and tags in ascending order.
FileTypeCode RecogniseFontDirectory(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 28) return kNo;
    ByteView v(b, n);
    static constexpr uint8_t kTrueType[4] = {0x00, 0x01, 0x00, 0x00};
    if (!v.Equals(0, kTrueType, 4) && !v.Equals(0, "OTTO") && !v.Equals(0, "true")) return kNo;
    uint32_t tables = v.U16Be(4);
    if (tables == 0 || tables > 64) return kNo;
    uint32_t power = 1, log = 0;
    while (power * 2 <= tables) {
        power *= 2;
        ++log;
    }
    if (v.U16Be(6) != 16 * power || v.U16Be(8) != log || v.U16Be(10) != 16 * tables - 16 * power) return kNo;
    uint32_t previous = 0;
    for (size_t record = 12; record + 16 <= n && record < 12 + 16 * size_t{tables}; record += 16) {
        uint32_t tag = v.U32Be(record);
        for (size_t i = 0; i < 4; ++i)
            if (v.U8(record + i) < 0x20 || v.U8(record + i) > 0x7E) return kNo;
        if (tag <= previous) return kNo;
        previous = tag;
    }
    return kTypeTtf;
}

FileTypeCode RecogniseRar5(const CarveJob&, const uint8_t* b, size_t n) {
    static constexpr uint8_t kMagic[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    return n >= 8 && ByteView(b, n).Equals(0, kMagic, 8) ? kTypeRar : kNo;
}

// ISO media files told apart by their major brand: audio-only MPEG-4 and the
// second generation of the mobile-phone format.
FileTypeCode RecogniseIsoBrand(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 32) return kNo;
    ByteView v(b, n);
    if (!v.Equals(4, "ftyp")) return kNo;
    if (v.Equals(8, "M4A ") || v.Equals(8, "M4B ") || v.Equals(8, "M4P ")) return kTypeM4a;
    if (v.Equals(8, "3g2")) return kType3g2;
    return kNo;
}

// A transport stream of 192-byte packets (a 4-byte time stamp before each
// 188-byte packet), not a continuation of one already found.
FileTypeCode RecogniseM2ts(const CarveJob& job, const uint8_t* b, size_t n) {
    static constexpr size_t kPacket = 192;
    if (n < 2 * kPacket || b[4] != 0x47) return kNo;
    // As for 188-byte packets, only the first 4096 bytes are looked at.
    for (size_t off = 4 + kPacket; off < std::min<size_t>(n, 4096); off += kPacket)
        if (b[off] != 0x47) return kNo;
    uint32_t ss = job.sectorSize;
    if (ss == 0 || ss > 4096 || 4096 % ss != 0) return kNo;
    std::array<uint8_t, 4096> probe{};
    if (!job.ReadWhole(job.currentSector, 4096 / ss, probe.data())) return kNo;
    for (size_t off = 4; off < 4096; off += kPacket)
        if (probe[off] != 0x47) return kNo;
    if (job.inTransportStream) {
        if (job.currentSector > 0) {
            if (!job.ReadWhole(job.currentSector - 1, 1, probe.data())) return kNo;
            bool gridRunsOn = true;  // as for 188-byte packets
            for (size_t back = kPacket; back <= ss; back += kPacket)
                gridRunsOn = gridRunsOn && probe[ss - back + 4] == 0x47;
            if (gridRunsOn) return kNo;
        }
        for (const TsRange& range : job.tsRanges)
            if (range.firstSector <= job.startSector && job.startSector <= range.lastSector) return kNo;
    }
    return kTypeM2ts;
}

// MPEG audio layer II: three frames in a row whose headers agree and whose
// lengths lead from one to the next.
FileTypeCode RecogniseMpegLayer2(const CarveJob& job, const uint8_t* b, size_t n) {
    if (n < 4 || b[0] != 0xFF || (b[1] & 0xE6) != 0xE4) return kNo;
    ByteView v(b, n);
    uint32_t first = v.U32Be(0);
    uint32_t length = MpegAudioFrameLength(first);
    if (length == 0) return kNo;
    uint32_t ss = job.sectorSize;
    if (ss == 0 || ss > 4096 || 4096 % ss != 0) return kNo;
    std::array<uint8_t, 4096> probe{};
    if (!job.ReadWhole(job.currentSector, 4096 / ss, probe.data())) return kNo;
    ByteView p(probe.data(), probe.size());
    size_t at = 0;
    for (int frame = 0; frame < 3; ++frame) {
        uint32_t header = p.U32Be(at);
        uint32_t frameLength = MpegAudioFrameLength(header);
        if (frameLength == 0 || (header & 0xFFFE0C00) != (first & 0xFFFE0C00) || !p.Has(at, 4)) return kNo;
        at += frameLength;
    }
    return kTypeMp2;
}

// A picture with the larger headers of later versions.
FileTypeCode RecogniseBmpLaterHeader(const CarveJob&, const uint8_t* b, size_t n) {
    if (n < 54 || b[0] != 'B' || b[1] != 'M') return kNo;
    ByteView v(b, n);
    uint32_t header = v.U32(14);
    if (header != 52 && header != 56 && header != 108 && header != 124) return kNo;
    return v.U16(6) == 0 && v.U16(8) == 0 && v.U16(26) == 1 && v.U32(10) >= 14 + header ? kTypeBmp : kNo;
}

// ---- fast dispatch ---------------------------------------------------------

// The first bytes a recogniser can say yes to; empty means any first byte.
// Those that take any first byte name instead the bytes at other offsets of
// which one must hold for a yes (at most two): most sectors then skip them
// without a call.
struct ByteAt {
    uint8_t offset;
    uint8_t value;
};
struct LeadingBytes {
    SignatureRecogniser recognise;
    std::initializer_list<uint8_t> bytes;
    std::initializer_list<ByteAt> oneOf = {};
};

const LeadingBytes kLeadingBytes[] = {
    {RecogniseMpeg, {0x00}},
    {RecogniseMp4, {}, {{4, 'f'}}},  // "ftyp" at 4
    {RecogniseRmvb, {'.'}},
    {RecogniseWmv, {0x30}},
    {RecogniseSwf, {'C', 'F'}},
    {RecogniseAvi, {'R'}},
    {RecogniseFlv, {'F'}},
    {Recognise3gp, {}, {{4, 'f'}}},
    {RecogniseMkv, {0x1A}},
    {RecogniseTs, {0x47}},
    {RecogniseMts, {}, {{10, 0xB0}}},
    {RecogniseMxf, {0x06}},
    {RecogniseMp3, {'I'}},
    {RecogniseMid, {'M'}},
    {RecogniseApe, {'M'}},
    {RecogniseWav, {'R'}},
    {RecogniseMov, {}, {{0, 'm'}, {4, 'f'}}},  // "moov" at 0 or "ftyp" at 4
    {RecogniseMp2, {0xFF}},
    {RecogniseMmf, {'M'}},
    {RecogniseFla, {0xD0}},
    {RecogniseGif, {'G'}},
    {RecogniseBmp, {'B'}},
    {RecogniseJpg, {0xFF}},
    {RecognisePng, {0x89}},
    {RecognisePsd, {'8'}},
    {RecogniseTif, {'M', 'I'}},
    {RecogniseIco, {0x00}},
    {RecogniseCompoundFile, {0xD0}},
    {RecogniseOfficeOpenXml, {}, {{0, 'P'}, {31, '['}}},  // a local header or "[Content_Types].xml"
    {RecognisePdf, {'%'}},
    {RecogniseGz, {0x1F}},
    {Recognise7z, {'7'}},
    {RecogniseZip, {'P'}},
    {RecogniseRar, {'R'}},
    {RecogniseCab, {'M'}},
    {RecognisePe, {'M'}},
    {RecogniseGho, {0xFE}},
    {RecogniseDb, {'S'}},
    {RecogniseDbx, {0xCF}},
    {RecognisePst, {'!'}},
    {RecogniseTtf, {0x00}},
    {RecogniseGzAnyLevel, {0x1F}},
    {RecogniseFontDirectory, {0x00, 'O', 't'}},
    {RecogniseRar5, {'R'}},
    {RecogniseIsoBrand, {}, {{4, 'f'}}},
    {RecogniseM2ts, {}, {{4, 0x47}}},  // the first packet's sync byte
    {RecogniseMpegLayer2, {0xFF}},
    {RecogniseBmpLaterHeader, {'B'}},
};

// Per first byte, the distinct recognisers that can say yes to it, in the
// order of their first table row, each with the bytes of which one must hold
// (none: always asked). A recogniser that said no in an earlier row says no
// again (it depends only on the sector, the disk and the context), so calling
// each once, and skipping those that cannot say yes to the sector, gives the
// same first answer as walking the whole table.
class Dispatch {
  public:
    struct Candidate {
        SignatureRecogniser recognise;
        uint8_t guards = 0;  // how many of `oneOf` are set
        ByteAt oneOf[2] = {};
        // False only when the recogniser is sure to say no to the sector.
        bool MaySayYes(const uint8_t* buffer, size_t length) const {
            if (guards == 0) return true;
            for (uint8_t g = 0; g < guards; ++g)
                if (oneOf[g].offset < length && buffer[oneOf[g].offset] == oneOf[g].value) return true;
            return false;
        }
    };

    Dispatch() {
        std::vector<SignatureRecogniser> distinct;
        for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
            SignatureRecogniser fn = FileSignatureTable[r].recognise;
            if (std::find(distinct.begin(), distinct.end(), fn) == distinct.end()) distinct.push_back(fn);
        }
        for (int b = 0; b < 256; ++b) {
            begin_[b] = static_cast<uint16_t>(list_.size());
            for (SignatureRecogniser fn : distinct)
                if (CanStartWith(fn, static_cast<uint8_t>(b))) list_.push_back(CandidateOf(fn));
            end_[b] = static_cast<uint16_t>(list_.size());
            // The screen of this first byte: asked whatever follows, or the
            // distinct guard bytes of its candidates, each once.
            screenBegin_[b] = static_cast<uint16_t>(screen_.size());
            for (auto it = Begin(static_cast<uint8_t>(b)); it != End(static_cast<uint8_t>(b)); ++it) {
                if (it->guards == 0) always_[b] = true;
                for (uint8_t g = 0; g < it->guards; ++g)
                    if (std::none_of(screen_.begin() + screenBegin_[b], screen_.end(), [&](const ByteAt& at) {
                            return at.offset == it->oneOf[g].offset && at.value == it->oneOf[g].value;
                        }))
                        screen_.push_back(it->oneOf[g]);
            }
            screenEnd_[b] = static_cast<uint16_t>(screen_.size());
        }
    }
    const Candidate* Begin(uint8_t b) const { return list_.data() + begin_[b]; }
    const Candidate* End(uint8_t b) const { return list_.data() + end_[b]; }
    // False only when no candidate of the sector's first byte may say yes.
    bool AnyMaySayYes(const uint8_t* buffer, size_t length) const {
        const uint8_t b = buffer[0];
        if (always_[b]) return true;
        for (uint16_t i = screenBegin_[b]; i < screenEnd_[b]; ++i)
            if (screen_[i].offset < length && buffer[screen_[i].offset] == screen_[i].value) return true;
        return false;
    }

  private:
    static const LeadingBytes* EntryOf(SignatureRecogniser fn) {
        for (const LeadingBytes& entry : kLeadingBytes)
            if (entry.recognise == fn) return &entry;
        return nullptr;
    }
    static bool CanStartWith(SignatureRecogniser fn, uint8_t b) {
        const LeadingBytes* entry = EntryOf(fn);
        if (!entry || entry->bytes.size() == 0) return true;  // a recogniser without an entry is always asked
        return std::find(entry->bytes.begin(), entry->bytes.end(), b) != entry->bytes.end();
    }
    static Candidate CandidateOf(SignatureRecogniser fn) {
        Candidate candidate{fn};
        if (const LeadingBytes* entry = EntryOf(fn); entry && entry->oneOf.size() <= 2)
            for (const ByteAt& at : entry->oneOf) candidate.oneOf[candidate.guards++] = at;
        return candidate;
    }
    std::vector<Candidate> list_;
    std::array<uint16_t, 256> begin_{}, end_{};
    std::vector<ByteAt> screen_;
    std::array<uint16_t, 256> screenBegin_{}, screenEnd_{};
    std::array<bool, 256> always_{};
};

const Dispatch& TheDispatch() {
    static const Dispatch dispatch;
    return dispatch;
}

}  // namespace

// clang-format off
const FileSignatureRow FileSignatureTable[kFileSignatureRowCount + 1] = {
    {"mpeg", kTypeMpeg, RecogniseMpeg, FindMpegSize},
    {"mpg", kTypeMpeg, RecogniseMpeg, FindMpegSize},
    {"vob", kTypeMpeg, RecogniseMpeg, FindMpegSize},
    {"mp4", kTypeMp4, RecogniseMp4, FindMp4Size},
    {"rmvb", kTypeRmvb, RecogniseRmvb, FindRmvbSize},
    {"rm", kTypeRmvb, RecogniseRmvb, FindRmvbSize},
    {"wmv", kTypeWmv, RecogniseWmv, FindWmvSize},
    {"asf", kTypeWmv, RecogniseWmv, FindWmvSize},
    {"wma", kTypeWmv, RecogniseWmv, FindWmvSize},
    {"swf", kTypeSwf, RecogniseSwf, FindSwfSize},
    {"avi", kTypeAvi, RecogniseAvi, FindAviSize},
    {"flv", kTypeFlv, RecogniseFlv, FindFlvSize},
    {"3gp", kType3gp, Recognise3gp, FindIsoMediaSize},
    {"mkv", kTypeMkv, RecogniseMkv, FindMkvSize},
    {"ts", kTypeTs, RecogniseTs, FindTsSize},
    {"mts", kTypeMts, RecogniseMts, FindM2tsSize},
    {"mxf", kTypeMxf, RecogniseMxf, FindMxfSize},
    {"mp3", kTypeMp3, RecogniseMp3, FindMp3Size},
    {"mid", kTypeMid, RecogniseMid, FindMidSize},
    {"ape", kTypeApe, RecogniseApe, FindApeSize},
    {"wav", kTypeWav, RecogniseWav, FindWavSize},
    {"mov", kTypeMov, RecogniseMov, FindIsoMediaSize},
    {"mp2", kTypeMp2, RecogniseMp2, FindMp2Size},
    {"mmf", kTypeMmf, RecogniseMmf, FindMmfSize},
    {"fla", kTypeFla, RecogniseFla, FindShortMediaSize},
    {"gif", kTypeGif, RecogniseGif, FindGifSize},
    {"bmp", kTypeBmp, RecogniseBmp, FindBmpSize},
    {"dib", kTypeBmp, RecogniseBmp, FindBmpSize},
    {"jpg", kTypeJpg, RecogniseJpg, FindJpgSize},
    {"jpeg", kTypeJpg, RecogniseJpg, FindJpgSize},
    {"jpe", kTypeJpg, RecogniseJpg, FindJpgSize},
    {"jfif", kTypeJpg, RecogniseJpg, FindJpgSize},
    {"png", kTypePng, RecognisePng, FindPngSize},
    {"psd", kTypePsd, RecognisePsd, FindPsdSize},
    {"tif", kTypeTif, RecogniseTif, FindTifSize},
    {"tiff", kTypeTif, RecogniseTif, FindTifSize},
    {"ico", kTypeIco, RecogniseIco, FindIcoSize},
    {"doc", kTypeDoc, RecogniseCompoundFile, FindCompoundFileSize},
    {"dot", kTypeDoc, RecogniseCompoundFile, FindCompoundFileSize},
    {"wps", kTypeDoc, RecogniseCompoundFile, FindCompoundFileSize},
    {"wpt", kTypeDoc, RecogniseCompoundFile, FindCompoundFileSize},
    {"xls", kTypeXls, RecogniseCompoundFile, FindCompoundFileSize},
    {"xlt", kTypeXls, RecogniseCompoundFile, FindCompoundFileSize},
    {"xla", kTypeXls, RecogniseCompoundFile, FindCompoundFileSize},
    {"et", kTypeXls, RecogniseCompoundFile, FindCompoundFileSize},
    {"ett", kTypeXls, RecogniseCompoundFile, FindCompoundFileSize},
    {"ppt", kTypePpt, RecogniseCompoundFile, FindCompoundFileSize},
    {"pot", kTypePpt, RecogniseCompoundFile, FindCompoundFileSize},
    {"pps", kTypePpt, RecogniseCompoundFile, FindCompoundFileSize},
    {"dps", kTypePpt, RecogniseCompoundFile, FindCompoundFileSize},
    {"dpt", kTypePpt, RecogniseCompoundFile, FindCompoundFileSize},
    {"ole", kTypeOle, RecogniseCompoundFile, FindCompoundFileSize},
    {"docx", kTypeDocx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"docm", kTypeDocx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"dotm", kTypeDocx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"dotx", kTypeDocx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xlsx", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xlsb", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xlsm", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xlsx", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xlam", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xltx", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"xltm", kTypeXlsx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"pptx", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"pptm", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"potx", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"potm", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"ppsx", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"ppsm", kTypePptx, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"mso07", kTypeMso07, RecogniseOfficeOpenXml, FindOfficeOpenXmlSize},
    {"pdf", kTypePdf, RecognisePdf, FindPdfSize},
    {"gz", kTypeGz, RecogniseGz, FindGzSize},
    {"gzip", kTypeGz, RecogniseGz, FindGzSize},
    {"7z", kType7z, Recognise7z, Find7zSize},
    {"zip", kTypeZip, RecogniseZip, FindZipSize},
    {"rar", kTypeRar, RecogniseRar, FindRarSize},
    {"cab", kTypeCab, RecogniseCab, FindCabSize},
    {"exe", kTypeExe, RecognisePe, nullptr},
    {"dll", kTypeDll, RecognisePe, nullptr},
    {"sys", kTypeSys, RecognisePe, nullptr},
    {"gho", kTypeGho, RecogniseGho, nullptr},
    {"db", kTypeDb, RecogniseDb, FindDbSize},
    {"dbx", kTypeDbx, RecogniseDbx, FindMailStoreSize},
    {"pst", kTypePst, RecognisePst, FindPstSize},
    {"fla", kTypeFla, RecogniseFla, FindShortMediaSize},
    {"ttf", kTypeTtf, RecogniseTtf, FindTtfSize},
    {"ico", kTypeIco, RecogniseIco, FindIcoSize},
    {"gz", kTypeGz, RecogniseGzAnyLevel, FindGzSize},
    {"ttf", kTypeTtf, RecogniseFontDirectory, FindTtfSize},
    {"otf", kTypeTtf, RecogniseFontDirectory, FindTtfSize},
    {"rar", kTypeRar, RecogniseRar5, FindRarSize},
    {"m4a", kTypeM4a, RecogniseIsoBrand, FindIsoMediaSize},
    {"m4b", kTypeM4a, RecogniseIsoBrand, FindIsoMediaSize},
    {"3g2", kType3g2, RecogniseIsoBrand, FindIsoMediaSize},
    {"m2ts", kTypeM2ts, RecogniseM2ts, FindM2tsSize},
    {"mp2", kTypeMp2, RecogniseMpegLayer2, FindMp2Size},
    {"bmp", kTypeBmp, RecogniseBmpLaterHeader, FindBmpSize},
    {nullptr, kTypeNotRecognised, nullptr, nullptr},
};
// clang-format on

const FileSignatureRow* FirstRowOfCode(FileTypeCode code) {
    for (size_t r = 0; r < kFileSignatureRowCount; ++r)
        if (FileSignatureTable[r].code == code) return &FileSignatureTable[r];
    return nullptr;
}

const FileSignatureRow* FindRowByExtension(std::string_view extension) {
    for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
        std::string_view ext = FileSignatureTable[r].extension;
        if (ext.size() != extension.size()) continue;
        bool same = true;
        for (size_t i = 0; i < ext.size() && same; ++i) {
            char c = extension[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            same = c == ext[i];
        }
        if (same) return &FileSignatureTable[r];
    }
    return nullptr;
}

bool MatchesExtension(const uint8_t* buffer, size_t length, std::string_view extension, DiskReader* reader,
                      uint32_t sectorSize, uint64_t startSector) {
    const FileSignatureRow* row = FindRowByExtension(extension);
    if (!row) return true;
    if (!buffer) return false;
    // A job of its own: the content check of a file found by name must
    // neither see nor disturb the state of a deep scan's carving.
    CarveJob job;
    job.sectorSize = sectorSize;
    job.reader = reader;
    job.startSector = startSector;
    job.currentSector = startSector;
    return row->recognise(job, buffer, length) == row->code;
}

FileTypeCode RecogniseSector(const CarveJob& job, const uint8_t* buffer, size_t length) {
    if (!buffer || length == 0) return kNo;
    const Dispatch& dispatch = TheDispatch();
    for (auto it = dispatch.Begin(buffer[0]), end = dispatch.End(buffer[0]); it != end; ++it) {
        if (!it->MaySayYes(buffer, length)) continue;
        FileTypeCode code = it->recognise(job, buffer, length);
        if (code != kNo) return code;
    }
    return kNo;
}

bool AnyRecogniserMaySayYes(const uint8_t* buffer, size_t length) {
    static const Dispatch& dispatch = TheDispatch();
    return buffer && length > 0 && dispatch.AnyMaySayYes(buffer, length);
}

FileTypeCode RecogniseSectorInTableOrder(const CarveJob& job, const uint8_t* buffer, size_t length) {
    if (!buffer) return kNo;
    for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
        FileTypeCode code = FileSignatureTable[r].recognise(job, buffer, length);
        if (code != kNo) return code;
    }
    return kNo;
}

bool AnyRecogniserAccepts(const CarveJob& job, const uint8_t* buffer, size_t length, bool ignoreMpeg) {
    if (!buffer || length == 0) return false;
    const Dispatch& dispatch = TheDispatch();
    for (auto it = dispatch.Begin(buffer[0]), end = dispatch.End(buffer[0]); it != end; ++it) {
        if (!it->MaySayYes(buffer, length)) continue;
        FileTypeCode code = it->recognise(job, buffer, length);
        if (code != kNo && !(ignoreMpeg && code == kTypeMpeg)) return true;
    }
    return false;
}

}  // namespace sorvane
