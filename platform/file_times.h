// Setting the times of a file Sorvane wrote, so a recovered file keeps the
// dates it had on the source.
#pragma once

#include <cstdint>
#include <filesystem>

namespace sorvane {

// Sets the last-access and last-write times (seconds since 1970, UTC) of the
// file at `path`. A time below 0 leaves that time as it is. Returns 0 or the
// result code.
int SetFileTimes(const std::filesystem::path& path, int64_t accessedUnix, int64_t writtenUnix);

}  // namespace sorvane
