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
    // One unreadable sector costs only itself; recognition goes on with
    // what came back.
    VolumeStart start;
    s.headLost = !ReadVolumeStart(s.reader, s.start, available, ss, s.head.size(), start);
    s.headUnreadable = start.unreadable;
    // A range shorter than the head is recognised from what it holds.
    s.headResult = available < sectors        ? kErrInvalidParameter
                   : s.headUnreadable.Empty() ? kSuccess
                                              : kErrReadFault;
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    for (const SectorRange& r : s.headUnreadable.Ranges())
        bad.emplace_back(r.first * ss, (r.first + r.count) * ss);
    start.bytes.resize(static_cast<size_t>(std::min<uint64_t>(sectors, available)) * ss);
    s.reader.KeepBytes(s.start * ss, start.bytes, std::move(bad));
    start.bytes.resize(s.head.size());
    s.head = start.bytes;
    s.head.resize(kSourceHeadBytes);
    // The copies of a boot sector are read through the kept bytes, so a
    // bad sector among them is met once.
    const uint64_t rangeSectors = std::min(s.length, available);
    const RecognisedVolume volume = RecogniseVolume(s.reader, s.start, rangeSectors, ss, start);
    s.kind = volume.kind;
    s.backupUsed = volume.backupUsed;
    s.claimedSectors = volume.claimedSectors;
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
