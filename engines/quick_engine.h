// The quick engine for a kind of volume: the one the engine selection hands
// out for a quick scan, and the one the deep scan runs first.
#pragma once

#include <memory>

#include "device/boot_sector.h"
#include "engines/file_recovery_parse.h"

namespace sorvane {

// The quick engine for a kind of volume, not yet opened; none for an unknown kind.
std::unique_ptr<IFileRecoveryParse> CreateQuickEngine(VolumeKind kind);

}  // namespace sorvane
