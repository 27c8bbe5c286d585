// Engine selection: which recovery engine reads a partition or an image. The
// factory reads the first 16384 bytes of the volume (sector by sector when the
// medium fails; unreadable sectors read as zeros), recognises its file system,
// by a backup copy of the boot sector when the main one is lost, creates the
// matching engine and opens it. The caller owns the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "device/boot_sector.h"
#include "engines/file_recovery_parse.h"

namespace sorvane {

// The engine for a partition of drive `driveIndex` (start and length in the
// drive's sectors). Quick mode: the quick engine of the volume's file system,
// none for an unknown one. Returns none when the drive cannot be opened. The engine is returned even when
// its own opening failed; that shows later as a scan that fails or finds nothing.
std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(int driveIndex, uint64_t partitionStart,
                                                         uint64_t partitionSectors, uint16_t letter,
                                                         bool deep);
// The same for an image file of one volume.
std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngineForImage(const std::filesystem::path& imagePath,
                                                                 uint16_t letter, bool deep);

// The quick engine for a kind of volume, not yet opened; none for an unknown kind.
std::unique_ptr<IFileRecoveryParse> CreateQuickEngine(VolumeKind kind);

}  // namespace sorvane
