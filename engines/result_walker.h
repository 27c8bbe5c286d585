// Walks an engine's results folder by folder from the root, the way every
// caller browses them: the command line's listing, the tests, the window.
// Only one folder's children are held at a time, so memory does not grow with
// the number of files, and a folder tree that loops (a damaged disk can file a
// folder inside itself) is listed once per level, not forever.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engines/file_recovery_parse.h"

namespace sorvane {

struct WalkedItem {
    FoundItemRecord record;
    std::string folderPath;  // "a/b/": the names of the folders above it, each followed by '/'
    uint32_t level = 0;      // 0 for the root's children
};

// Answers true to go on, false to stop the walk.
using WalkVisitor = std::function<bool(const WalkedItem&)>;
// Told of a folder whose children could not all be listed: its path ("" for
// the root, else "a/b/") and the listing's result code.
using WalkFailure = std::function<void(const std::string& folderPath, int result)>;

// Calls `visit` for every record the engine lists, folders and files, breadth
// first; the children of one folder come in the engine's order. Returns 0, or
// the first listing failure: the walk goes on past it, so what could be read
// is still visited, and `failed` (when given) hears of every failure.
[[nodiscard]] int WalkResults(IFileRecoveryParse& engine, const WalkVisitor& visit,
                              const WalkFailure& failed = nullptr);

// The same below `folder`, whose children ListChildren files under `level`:
// its subfolders and files, with folder paths relative to it ("" for its own
// children) and WalkedItem::level counted on from `level`.
[[nodiscard]] int WalkFolder(IFileRecoveryParse& engine, const FoundItemRecord& folder, uint32_t level,
                             const WalkVisitor& visit, const WalkFailure& failed = nullptr);

// The same for files only.
[[nodiscard]] int WalkFiles(IFileRecoveryParse& engine, const WalkVisitor& visit,
                            const WalkFailure& failed = nullptr);

}  // namespace sorvane
