#include "engines/quick_engine.h"

#include "engines/fast_exfat_recovery.h"
#include "engines/fast_ext_recovery.h"
#include "engines/fast_fat_recovery.h"
#include "engines/fast_ntfs_recovery.h"

namespace sorvane {

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

}  // namespace sorvane
