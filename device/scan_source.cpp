#include "device/scan_source.h"

#include <algorithm>

#include "platform/result_codes.h"
#include "platform/volume_registry.h"

namespace sorvane {
namespace {

// Reads and recognises the head of the range once; the reader keeps the
// bytes, so later reads of them by any engine cost no input/output.
void ReadHead(ScanSource& s) {
    const uint32_t ss = s.sectorSize;
    const uint32_t sectors = (kSourceHeadBytes + ss - 1) / ss;
    s.head.assign(static_cast<size_t>(sectors) * ss, 0);
    s.headUnreadable = BadSectorMap();
    const uint64_t available = s.start < s.reader.totalSectors ? s.reader.totalSectors - s.start : 0;
    if (available < sectors) {
        s.headResult = kErrInvalidParameter;
        s.head.resize(kSourceHeadBytes);
        return;
    }
    s.headResult = ReadSectorsSalvaging(sectors, s.reader, s.head.data(), s.start, ss, s.headUnreadable);
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    for (const SectorRange& r : s.headUnreadable.Ranges())
        bad.emplace_back(r.first * ss, (r.first + r.count) * ss);
    s.reader.KeepBytes(s.start * ss, s.head, std::move(bad));
    s.head.resize(kSourceHeadBytes);
    s.kind = ClassifyVolume(s.head.data(), s.head.size());
}

}  // namespace

int OpenDriveSource(int driveIndex, uint64_t start, uint64_t length, uint16_t letter, ScanSource& out) {
    out = ScanSource();
    int rc = OpenPhysicalDriveReader(out.reader, driveIndex);
    if (rc != kSuccess) return rc;
    out.driveIndex = driveIndex;
    out.letter = letter;
    // A mounted volume's cache is written out first, so that what the raw
    // reads see is current.
    FlushVolume(letter);
    out.sectorSize = DriveSectorSize(out.reader);
    out.start = start;
    const uint64_t available = start < out.reader.totalSectors ? out.reader.totalSectors - start : 0;
    out.length = length == 0 ? available : length;
    ReadHead(out);
    return kSuccess;
}

int OpenImageSource(const std::filesystem::path& imagePath, uint16_t letter, ScanSource& out) {
    out = ScanSource();
    int rc = OpenImageReader(imagePath, out.reader);
    if (rc != kSuccess) return rc;
    out.imagePath = imagePath;
    out.letter = letter;
    out.sectorSize = 512;
    out.length = out.reader.totalSectors;
    ReadHead(out);
    return kSuccess;
}

}  // namespace sorvane
