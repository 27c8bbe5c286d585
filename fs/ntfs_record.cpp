#include "fs/ntfs_record.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace sorvane {
namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// File-name lengths are in UTF-16 units; 255 is the most NTFS allows.
constexpr size_t kMaxNameUnits = 255;

}  // namespace

bool ParseNtfsBootSector(ByteView sector, NtfsGeometry& geometry) {
    if (!sector.Has(0, 512) || !sector.Equals(3, "NTFS    ")) return false;
    uint32_t bytesPerSector = sector.U16(11);
    if (bytesPerSector == 0) bytesPerSector = 512;
    if (!IsPowerOfTwo(bytesPerSector) || bytesPerSector < 256 || bytesPerSector > 4096) return false;

    uint8_t spc = sector.U8(13);
    uint64_t sectorsPerCluster = spc <= 0x80 ? spc : (uint64_t{1} << std::min<uint32_t>(256u - spc, 31u));
    if (sectorsPerCluster == 0 || !IsPowerOfTwo(sectorsPerCluster)) return false;
    uint64_t clusterBytes = sectorsPerCluster * bytesPerSector;
    if (clusterBytes > (uint64_t{1} << 31)) return false;

    geometry.bytesPerSector = bytesPerSector;
    geometry.sectorsPerCluster = static_cast<uint32_t>(sectorsPerCluster);
    geometry.clusterBytes = clusterBytes;
    geometry.totalSectors = sector.U64(40);
    geometry.mftCluster = sector.U64(48);

    // The record size byte: positive counts clusters, negative is a power of two in bytes.
    int8_t recordField = static_cast<int8_t>(sector.U8(64));
    uint64_t recordSize = 0;
    if (recordField > 0) {
        recordSize = static_cast<uint64_t>(recordField) * clusterBytes;
    } else if (recordField < 0 && recordField >= -31) {
        recordSize = uint64_t{1} << (-recordField);
    }
    if (!IsPowerOfTwo(recordSize) || recordSize < 256 || recordSize > 65536 || recordSize < bytesPerSector)
        recordSize = bytesPerSector == 512 ? 1024 : bytesPerSector;
    geometry.recordSize = static_cast<uint32_t>(recordSize);
    return true;
}

bool ApplyFixups(uint8_t* record, size_t recordSize) {
    ByteView view(record, recordSize);
    if (view.U32(0) != kNtfsFileMagic) return false;
    size_t usaOffset = view.U16(4);
    size_t usaCount = view.U16(6);
    if (usaCount < 2 || usaOffset < 8 || !view.Has(usaOffset, usaCount * 2)) return false;
    size_t strides = usaCount - 1;
    size_t stride = recordSize / strides;
    if (stride < 256 || stride * strides != recordSize) return false;
    for (size_t i = 1; i <= strides; ++i) {
        size_t tail = i * stride - 2;
        record[tail] = record[usaOffset + 2 * i];
        record[tail + 1] = record[usaOffset + 2 * i + 1];
    }
    return true;
}

bool ParseRecordHeader(ByteView record, NtfsRecordHeader& header) {
    if (record.U32(0) != kNtfsFileMagic || !record.Has(0, 48)) return false;
    header.sequence = record.U16(16);
    header.firstAttribute = record.U16(20);
    header.flags = record.U16(22);
    header.bytesInUse = record.U32(24);
    header.baseReference = record.U64(32);
    header.ownNumber = record.U32(44);
    if (header.bytesInUse > record.Size()) header.bytesInUse = static_cast<uint32_t>(record.Size());
    return header.firstAttribute >= 24 && header.firstAttribute < header.bytesInUse;
}

NtfsAttributeWalker::NtfsAttributeWalker(ByteView record, const NtfsRecordHeader& header)
    : record_(record), position_(header.firstAttribute), limit_(header.bytesInUse) {
    if (limit_ > record_.Size()) limit_ = record_.Size();
    remaining_ = static_cast<int>(limit_ / 16) + 1;
}

bool NtfsAttributeWalker::Next(NtfsAttribute& a) {
    if (remaining_-- <= 0) return false;
    if (position_ + 8 > limit_) return false;
    uint32_t type = record_.U32(position_);
    if (type == kNtfsAttributeEnd || type == 0) return false;
    uint32_t length = record_.U32(position_ + 4);
    if (length < 24 || (length & 7) != 0 || length > limit_ - position_) return false;

    ByteView bytes = record_.Sub(position_, length);
    a = NtfsAttribute{};
    a.type = type;
    a.length = length;
    a.bytes = bytes;
    a.nonResident = bytes.U8(8) != 0;
    a.nameLength = bytes.U8(9);
    size_t nameOffset = bytes.U16(10);
    a.flags = bytes.U16(12);
    if (a.nameLength != 0 && !bytes.Has(nameOffset, size_t{a.nameLength} * 2)) return false;
    if (a.nonResident) {
        if (length < 64) return false;
        a.firstVcn = bytes.U64(16);
        a.lastVcn = bytes.U64(24);
        size_t runListOffset = bytes.U16(32);
        a.compressionUnitShift = bytes.U8(34);
        a.allocatedSize = bytes.U64(40);
        a.realSize = bytes.U64(48);
        a.initializedSize = bytes.U64(56);
        if (runListOffset < 64 || runListOffset > length) return false;
        a.runList = bytes.Sub(runListOffset, length - runListOffset);
    } else {
        uint32_t valueLength = bytes.U32(16);
        size_t valueOffset = bytes.U16(20);
        if (!bytes.Has(valueOffset, valueLength)) return false;
        a.value = bytes.Sub(valueOffset, valueLength);
    }
    position_ += length;
    return true;
}

bool ParseFileName(ByteView value, NtfsFileName& out) {
    if (!value.Has(0, 66)) return false;
    size_t units = value.U8(64);
    if (units == 0 || units > kMaxNameUnits || !value.Has(66, units * 2)) return false;
    out.parentReference = value.U64(0);
    out.created = value.U64(8);
    out.written = value.U64(16);
    out.mftChanged = value.U64(24);
    out.accessed = value.U64(32);
    out.realSize = value.U64(48);
    out.nameSpace = value.U8(65);
    out.name = Utf16LeBytesToUtf8(value.Data() + 66, units);
    return true;
}

bool ParseStandardInformation(ByteView value, NtfsStandardTimes& out) {
    if (!value.Has(0, 32)) return false;
    out.created = value.U64(0);
    out.written = value.U64(8);
    out.mftChanged = value.U64(16);
    out.accessed = value.U64(24);
    return true;
}

void ParseAttributeList(ByteView list, std::vector<NtfsAttributeListEntry>& entries) {
    size_t pos = 0;
    while (list.Has(pos, 26)) {
        uint32_t type = list.U32(pos);
        size_t length = list.U16(pos + 4);
        if (type == 0 || type == kNtfsAttributeEnd || length < 26 || !list.Has(pos, length)) return;
        NtfsAttributeListEntry entry;
        entry.type = type;
        entry.nameLength = list.U8(pos + 6);
        entry.firstVcn = list.U64(pos + 8);
        entry.reference = list.U64(pos + 16);
        entries.push_back(entry);
        pos += length;
    }
}

bool SummarizeRecord(ByteView record, NtfsFileSummary& summary) {
    summary = NtfsFileSummary{};
    if (!ParseRecordHeader(record, summary.header)) return false;
    NtfsAttributeWalker walker(record, summary.header);
    NtfsAttribute a;
    while (walker.Next(a)) {
        switch (a.type) {
            case kNtfsStandardInformation:
                if (!a.nonResident && !summary.hasStandardTimes)
                    summary.hasStandardTimes = ParseStandardInformation(a.value, summary.times);
                break;
            case kNtfsAttributeList:
                if (!summary.hasAttributeList) {
                    summary.hasAttributeList = true;
                    summary.attributeList = a;
                }
                break;
            case kNtfsFileName: {
                if (a.nonResident) break;
                NtfsFileName name;
                if (!ParseFileName(a.value, name)) break;
                // The DOS 8.3 alias only stands in until the long (Win32 or POSIX) name is met;
                // among long names a Win32 name replaces a POSIX one.
                bool better =
                    !summary.hasName ||
                    (summary.fileName.nameSpace == kNtfsDosName && name.nameSpace != kNtfsDosName) ||
                    (summary.fileName.nameSpace == kNtfsPosixName && name.nameSpace == kNtfsWin32Name);
                if (better) {
                    summary.fileName = std::move(name);
                    summary.hasName = true;
                }
                break;
            }
            case kNtfsData:
                // The unnamed stream; pieces of a long run list start at later VCNs.
                if (a.nameLength != 0) break;
                if (!summary.hasData || (summary.data.nonResident && summary.data.firstVcn != 0 &&
                                         a.nonResident && a.firstVcn == 0)) {
                    summary.data = a;
                    summary.hasData = true;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

uint64_t SummaryFileSize(const NtfsFileSummary& summary) {
    if (summary.hasData) {
        if (!summary.data.nonResident) return summary.data.value.Size();
        if (summary.data.firstVcn == 0) return summary.data.realSize;
    }
    return summary.hasName ? summary.fileName.realSize : 0;
}

}  // namespace sorvane
