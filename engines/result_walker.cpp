#include "engines/result_walker.h"

#include <deque>
#include <set>
#include <tuple>
#include <utility>

namespace sorvane {

namespace {

struct PendingFolder {
    bool root = true;
    FoundItemRecord folder;
    uint32_t level = 0;
    std::string path;
};

int Walk(IFileRecoveryParse& engine, PendingFolder start, const WalkVisitor& visit,
         const WalkFailure& failed) {
    std::deque<PendingFolder> queue;
    // (engine, key, level) of the folders queued so far: the coordinator shows
    // several engines' folders side by side, and their keys may coincide.
    std::set<std::tuple<uint32_t, uint32_t, uint32_t>> listed;
    if (!start.root)
        listed.emplace(static_cast<uint32_t>(start.folder.engineCode),
                       static_cast<uint32_t>(start.folder.key), start.level);
    queue.push_back(std::move(start));
    int firstFailure = 0;
    while (!queue.empty()) {
        PendingFolder p = std::move(queue.front());
        queue.pop_front();
        FoundItemList children;
        int rc = engine.ListChildren(p.root ? nullptr : &p.folder, p.level, children);
        if (rc != 0 && firstFailure == 0) firstFailure = rc;
        if (rc != 0 && failed) failed(p.path, rc);
        for (const FoundItemRecord& child : children) {
            if (!visit(WalkedItem{child, p.path, p.level})) return firstFailure;
            // Fields of the packed record are copied, never bound to references.
            const auto id = std::make_tuple(static_cast<uint32_t>(child.engineCode),
                                            static_cast<uint32_t>(child.key), p.level + 1);
            if (child.IsFolder() && listed.insert(id).second)
                queue.push_back({false, child, p.level + 1, p.path + child.Name() + "/"});
        }
    }
    return firstFailure;
}

}  // namespace

int WalkResults(IFileRecoveryParse& engine, const WalkVisitor& visit, const WalkFailure& failed) {
    return Walk(engine, PendingFolder{}, visit, failed);
}

int WalkFolder(IFileRecoveryParse& engine, const FoundItemRecord& folder, uint32_t level,
               const WalkVisitor& visit, const WalkFailure& failed) {
    return Walk(engine, PendingFolder{false, folder, level, ""}, visit, failed);
}

int WalkFiles(IFileRecoveryParse& engine, const WalkVisitor& visit, const WalkFailure& failed) {
    return WalkResults(
        engine, [&](const WalkedItem& item) { return item.record.IsFolder() || visit(item); }, failed);
}

}  // namespace sorvane
