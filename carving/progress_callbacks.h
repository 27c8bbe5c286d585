// Callback contracts between long operations (carving, searches of a scan
// log, image copies, the engines) and whoever shows their progress.
// A callback returns 0 to go on; any other answer stops the operation, which
// returns that answer unchanged (kCancelCode when the user cancelled).
#pragma once

#include <cstdint>
#include <filesystem>

namespace sorvane {

inline constexpr int kCancelCode = -9527;

// percent: this engine's own progress; the receiver shows percent x weight / 100.
// remainingSeconds is -1 while unknown. The counters may all be 0; they are
// shown only when total is non-zero.
using ScanProgressCallback = int (*)(void* userData, int percent, int weight, int64_t remainingSeconds,
                                     uint64_t processed, uint64_t total, uint64_t found);

// Called during a copy with errorCode 0, and once with percent 100 and the
// error when copying an item fails.
using CopyProgressCallback = int (*)(void* userData, int percent, int scale, int errorCode,
                                     const std::filesystem::path& destination);

using SearchProgressCallback = int (*)(void* userData, int percent, int reserved);

// Preview extraction progress; an error of 1 or more is reported once with percent 100.
using PreviewProgressCallback = int (*)(void* userData, int percent, int errorCode);

}  // namespace sorvane
