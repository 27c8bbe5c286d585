#include "results/kept_scans.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <system_error>

#include "device/disk_reader.h"
#include "platform/drive_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/scan_checkpoint.h"
#include "results/target_fingerprint.h"

namespace sorvane {
namespace {

// The number a scan folder is named by; false for any other name.
bool FolderNumber(const std::filesystem::path& folder, uint64_t& number) {
    std::string name = Utf8FromPath(folder);
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    name = Utf8FromPath(PathFromUtf8(name).filename());
    if (name.empty() || name.size() > 19 || name.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoull(name);
    return true;
}

// Reads the head of the scan's checkpoint: whether it finished and its sector size.
void ReadCheckpointHead(const std::filesystem::path& folder, KeptScan& scan) {
    std::vector<uint8_t> bytes;
    if (LoadCheckpointFile(folder, bytes) != 0) return;
    CheckpointReader r(bytes);
    uint32_t driveIndex = 0, sectorSize = 0;
    uint64_t rangeStart = 0, rangeLength = 0;
    bool finished = false;
    if (!r.U32(driveIndex) || !r.U64(rangeStart) || !r.U64(rangeLength) || !r.U32(sectorSize) ||
        !r.Bool(finished))
        return;
    scan.finished = finished;
    scan.sectorSize = sectorSize;
}

int64_t LastWrite(const std::filesystem::path& folder) {
    std::error_code ec;
    auto time = std::filesystem::last_write_time(folder / kCheckpointFileName, ec);
    if (ec) time = std::filesystem::last_write_time(folder, ec);
    if (ec) return 0;
    const auto system = std::chrono::file_clock::to_sys(time);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

}  // namespace

std::string KeptScan::TargetName() const {
    if (image) return imagePath;
    return "disk " + std::to_string(driveIndex) + ", sectors " + std::to_string(rangeStart) + "+" +
           std::to_string(rangeLength);
}

std::vector<KeptScan> ListKeptScans(CScanResumeStore& store) {
    std::vector<KeptScan> scans;
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::weakly_canonical(store.BaseFolder(), ec);
    if (ec) return scans;
    for (const ResumeRecord& record : store.Records()) {
        KeptScan scan;
        const std::filesystem::path folder = PathFromUtf8(record.scanFolder);
        if (!FolderNumber(folder, scan.id)) continue;
        // The table may be damaged or written by someone else: only the
        // store's own numbered folders are listed, read or offered for deletion.
        const std::filesystem::path own = base / std::to_string(scan.id);
        const std::filesystem::path real = std::filesystem::weakly_canonical(folder, ec);
        if (ec || real != own || std::filesystem::is_symlink(std::filesystem::symlink_status(folder, ec)) ||
            !std::filesystem::is_directory(own, ec))
            continue;
        scan.folder = own;
        scan.image = !record.imagePath.empty();
        scan.imagePath = record.imagePath;
        scan.driveIndex = record.driveIndex;
        scan.rangeStart = record.rangeStart;
        scan.rangeLength = record.rangeLength;
        scan.filesFound = record.filesFound;
        ReadCheckpointHead(own, scan);
        scan.when = LastWrite(own);
        scans.push_back(std::move(scan));
    }
    std::sort(scans.begin(), scans.end(), [](const KeptScan& a, const KeptScan& b) {
        return a.when != b.when ? a.when > b.when : a.id > b.id;
    });
    return scans;
}

bool FindKeptScan(CScanResumeStore& store, uint64_t id, KeptScan& out) {
    for (KeptScan& scan : ListKeptScans(store)) {
        if (scan.id != id) continue;
        out = std::move(scan);
        return true;
    }
    return false;
}

KeptTarget CheckKeptImage(const KeptScan& scan) {
    if (!scan.image) return KeptTarget::kUnknown;
    const std::filesystem::path path = PathFromUtf8(scan.imagePath);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return KeptTarget::kAbsent;
    uint64_t kept = 0;
    if (scan.sectorSize == 0 || !LoadTargetFingerprint(scan.folder, kept)) return KeptTarget::kUnknown;
    std::ifstream image(path, std::ios::binary);
    if (!image) return KeptTarget::kAbsent;
    const uint64_t start = scan.rangeStart * scan.sectorSize;
    const uint64_t bytes = scan.rangeLength * scan.sectorSize;
    const uint64_t size = std::filesystem::file_size(path, ec);
    if (ec || start > size || bytes > size - start) return KeptTarget::kOther;
    ByteSource read = [&image, start](uint64_t offset, uint8_t* buffer, size_t length) {
        image.clear();
        image.seekg(static_cast<std::streamoff>(start + offset));
        image.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
        return image.gcount() == static_cast<std::streamsize>(length);
    };
    return TargetFingerprint(read, bytes, scan.sectorSize) == kept ? KeptTarget::kSame : KeptTarget::kOther;
}

KeptTarget CheckKeptPartition(const KeptScan& scan, int& driveIndex) {
    uint64_t kept = 0;
    if (scan.image || scan.sectorSize == 0 || !LoadTargetFingerprint(scan.folder, kept))
        return KeptTarget::kUnknown;
    std::vector<int> drives;
    for (const DriveInfo& drive : DriveTable::Instance().Drives()) {
        if (drive.index == static_cast<int>(scan.driveIndex))
            drives.insert(drives.begin(), drive.index);
        else
            drives.push_back(drive.index);
    }
    const uint32_t ss = scan.sectorSize;
    for (const int index : drives) {
        DiskReader reader;
        if (OpenPhysicalDriveReader(reader, index) != 0 || DriveSectorSize(reader) != ss) continue;
        if (scan.rangeStart > reader.totalSectors || scan.rangeLength > reader.totalSectors - scan.rangeStart)
            continue;
        // Read as the deep scan read it when it kept the fingerprint: whole
        // sectors of the drive from the range's start, a short read a failure.
        ByteSource read = [&reader, &scan, ss](uint64_t offset, uint8_t* buffer, size_t length) {
            if (offset % ss != 0 || length % ss != 0) return false;
            uint32_t got = 0;
            return ReadSectors(static_cast<uint32_t>(length / ss), reader, buffer,
                               scan.rangeStart + offset / ss, ss, &got) == 0 &&
                   got == length / ss;
        };
        if (TargetFingerprint(read, scan.rangeLength * ss, ss) != kept) continue;
        driveIndex = index;
        return KeptTarget::kSame;
    }
    return KeptTarget::kAbsent;
}

int MoveKeptScanToDrive(CScanResumeStore& store, const KeptScan& scan, uint32_t driveIndex) {
    std::vector<uint8_t> bytes;
    if (int rc = LoadCheckpointFile(scan.folder, bytes); rc != 0) return rc;
    // The checkpoint begins with the drive number; the deep scan continues
    // only a checkpoint of the drive it opened.
    if (bytes.size() < 4) return kErrInvalidParameter;
    const std::vector<uint8_t> before = bytes;
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(driveIndex >> (8 * i));
    if (int rc = SaveCheckpointFile(scan.folder, bytes); rc != 0) return rc;
    const int rc = store.MoveToDrive(scan.folder, driveIndex);
    if (rc != 0) static_cast<void>(SaveCheckpointFile(scan.folder, before));
    return rc;
}

int DeleteKeptScan(CScanResumeStore& store, uint64_t id) {
    for (const ResumeRecord& record : store.Records()) {
        uint64_t number = 0;
        const std::filesystem::path folder = PathFromUtf8(record.scanFolder);
        if (!FolderNumber(folder, number) || number != id) continue;
        // The store deletes only a folder directly inside its own, whatever the
        // record says; a record naming another folder is dropped all the same.
        const int rc = store.DeleteScan(folder);
        const int saved = store.Save();
        return rc != 0 ? rc : saved;
    }
    return 2;
}

}  // namespace sorvane
