// Engine selection: which recovery engine reads a scan source. The source
// (opened once by whoever starts the scan) has already read and recognised
// the first 16384 bytes of its range (sector by sector when the medium fails,
// by a backup copy of the boot sector when the main one is lost); the factory
// creates the matching engine and opens it on the source. The caller owns the
// engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "device/scan_source.h"
#include "engines/file_recovery_parse.h"
#include "engines/quick_engine.h"

namespace sorvane {

// The engine for `source`. Deep mode: the deep scan coordinator, whatever the
// range holds. Quick mode: the quick engine of the volume's file system, none
// for an unknown one. The engine is returned even when its own opening failed; that shows
// later as a scan that fails or finds nothing.
std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(const ScanSource& source, bool deep);

// Tools' and tests' shorthands: each opens a source of its own for the one
// engine it makes or opens. None (or the result code) when the open fails.
std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(int driveIndex, uint64_t partitionStart,
                                                         uint64_t partitionSectors, uint16_t letter,
                                                         bool deep);
std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngineForImage(const std::filesystem::path& imagePath,
                                                                 uint16_t letter, bool deep);
// The source of an image file of one volume; one that is not open when the file cannot be.
ScanSource ImageSource(const std::filesystem::path& imagePath, uint16_t letter);
// Opens `engine` on a source of its own: drive `driveIndex` (start and length
// in sectors), or an image file of one volume.
[[nodiscard]] int OpenOnDrive(IFileRecoveryParse& engine, int driveIndex, uint64_t start, uint64_t length,
                              uint16_t letter);
[[nodiscard]] int OpenOnImage(IFileRecoveryParse& engine, const std::filesystem::path& imagePath,
                              uint16_t letter);

}  // namespace sorvane
