// Where Sorvane keeps its per-user state and finds its shipped files.
#pragma once

#include <filesystem>

namespace sorvane {

// SORVANE_DATA_DIR when set; else $XDG_DATA_HOME/Sorvane (default ~/.local/share/Sorvane).
std::filesystem::path SorvaneDataDir();
// <data>/ScanLog: scan folders, the resume table and preview files live here.
std::filesystem::path ScanLogDir();
// The folder of the running executable.
std::filesystem::path ProgramDir();

}  // namespace sorvane
