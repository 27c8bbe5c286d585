// Process-wide steps of the window program that are not windows themselves.
#pragma once

#include <filesystem>

namespace sorvane::app {

// Creates the empty first-use marker "Used" in Sorvane's data folder (and the
// folder) unless it exists; an existing marker is never touched. True when the
// marker exists afterwards.
bool EnsureFirstUseMarker();
std::filesystem::path FirstUseMarkerPath();

// Shutdown: ends the media players a preview started and deletes the
// temporary preview media file and any preview picture left behind.
void RunShutdownSteps();

// The helper programs ended at shutdown, beside the program: "Player", "Player1".
inline constexpr const char* kMediaPlayers[] = {"Player", "Player1"};

// The folder of the preview's helper programs ("tool", "Extract", "Player",
// "Player1"): beside the program in a build tree, and in an installed copy
// <prefix>/libexec/sorvane, found from the program's own place, so their
// generic names are never put on everyone's PATH.
// `programDir` is the folder of the window program (ProgramDir() unless testing an install).
std::filesystem::path HelperProgramDir(const std::filesystem::path& programDir);
std::filesystem::path HelperProgramDir();

}  // namespace sorvane::app
