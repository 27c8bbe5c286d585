// Opening a file the way drives are opened (around the system's cache, read
// in whole aligned sectors), so that the aligned read path can be tested on an
// ordinary file.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/file_handle.h"

namespace sorvane {

[[nodiscard]] int OpenReadOnlyUnbuffered(const std::filesystem::path& path, uint32_t sectorSize,
                                         FileHandle& handle);

}  // namespace sorvane
