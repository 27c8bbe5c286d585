// The found files a person chose, as every front end lists and recovers them:
// a quick scan's folder by folder from the root, a deep scan's from the merged
// search of its engines. The command line's listing and the window's result
// list both come from here, so they hold the same files.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "engines/file_recovery_parse.h"
#include "results/found_item_record.h"

namespace sorvane {

struct ChosenFile {
    FoundItemRecord record;
    std::string folderPath;  // "a/b/" below the volume root; empty when the folders are lost
};

// What a walk met: how many files it saw, and whether some folder or search
// could not be read (the list is then incomplete).
struct WalkOutcome {
    size_t files = 0;
    bool incomplete = false;
    bool stopped = false;  // the visitor asked to stop
};

// Visits every found file `chosen` accepts. A quick scan is walked from its
// root; a deep scan's merged search lists a carved file only when no
// file-system file starts at its sector. `visit` answers false to stop;
// `unlisted` hears of a folder whose files could not be listed.
WalkOutcome ForEachChosenFile(IFileRecoveryParse& engine, bool deep,
                              const std::function<bool(const FoundItemRecord&)>& chosen,
                              const std::function<bool(const ChosenFile&)>& visit,
                              const std::function<void(const std::string& folderPath)>& unlisted = nullptr);

// True for the engine of a deep scan.
bool IsDeepEngine(const IFileRecoveryParse& engine);

}  // namespace sorvane
