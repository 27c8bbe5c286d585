#include "engines/engine_factory.h"

#include <vector>

#include "device/disk_reader.h"
#include "device/volume_start.h"
#include "engines/fast_exfat_recovery.h"
#include "engines/fast_ext_recovery.h"
#include "engines/fast_fat_recovery.h"
#include "engines/fast_ntfs_recovery.h"
#include "engines/professional_recovery.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"

namespace sorvane {
namespace {

constexpr uint32_t kProbeBytes = 16384;

// The engine for a kind and a mode, not yet opened.
std::unique_ptr<IFileRecoveryParse> CreateEngine(VolumeKind kind, bool deep) {
    // Every deep request gets the coordinator, whatever the volume holds:
    // raw carving works even where no file system is recognised.
    if (deep) return std::make_unique<CProfessionalRecovery>();
    return CreateQuickEngine(kind);
}

// The kind of the volume by what of its start can be read, or by the copy of
// its boot sector when the start shows none.
VolumeKind ProbeVolumeKind(DiskReader& probe, uint64_t start, uint64_t sectors, uint32_t sectorSize) {
    VolumeStart head;
    if (sectors == 0) sectors = probe.totalSectors > start ? probe.totalSectors - start : 0;
    static_cast<void>(ReadVolumeStart(probe, start, sectors, sectorSize, kProbeBytes, head));
    return RecogniseVolume(probe, start, sectors, sectorSize, head).kind;
}

}  // namespace

std::unique_ptr<IFileRecoveryParse> CreateQuickEngine(VolumeKind kind) {
    switch (kind) {
        case VolumeKind::kNtfs:
            return std::make_unique<CFastNtfsRecovery>();
        case VolumeKind::kFat:
            return std::make_unique<CFastFatRecovery>();
        case VolumeKind::kExt:
            return std::make_unique<CFastExtRecovery>();
        case VolumeKind::kExfat:
            return std::make_unique<CFastExfatRecovery>();
        case VolumeKind::kUnknown:
            break;
    }
    return nullptr;
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(int driveIndex, uint64_t partitionStart,
                                                         uint64_t partitionSectors, uint16_t letter,
                                                         bool deep) {
    DiskReader probe;
    if (OpenPhysicalDriveReader(probe, driveIndex) != kSuccess) return nullptr;
    FlushVolume(letter);
    const uint32_t sectorSize = DriveSectorSize(probe);
    const VolumeKind kind = ProbeVolumeKind(probe, partitionStart, partitionSectors, sectorSize);
    auto engine = CreateEngine(kind, deep);
    if (!engine) return nullptr;
    // A failed opening is the engine's to report: its scan fails or finds nothing.
    static_cast<void>(engine->OpenPartition(driveIndex, partitionStart, partitionSectors, letter));
    return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngineForImage(const std::filesystem::path& imagePath,
                                                                 uint16_t letter, bool deep) {
    DiskReader probe;
    if (OpenImageReader(imagePath, probe) != kSuccess) return nullptr;
    const VolumeKind kind = ProbeVolumeKind(probe, 0, probe.totalSectors, 512);
    auto engine = CreateEngine(kind, deep);
    if (!engine) return nullptr;
    // A failed opening is the engine's to report: its scan fails or finds nothing.
    static_cast<void>(engine->OpenImage(imagePath, letter));
    return engine;
}

}  // namespace sorvane
