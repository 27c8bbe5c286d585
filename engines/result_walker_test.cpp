// The results walker over a small engine held in memory: a tree with a folder
// that cannot be listed and a folder filed inside itself.
#include "engines/result_walker.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/result_codes.h"
#include "tests/testkit/null_engine.h"

namespace sorvane {
namespace {

FoundItemRecord Item(const char* name, bool folder, uint32_t key = 0) {
    FoundItemRecord r;
    r.SetName(name);
    r.isFolder = folder ? 1 : 0;
    r.key = key;
    return r;
}

// Lists by (folder key, level); the root is key 0 at level 0. Listing a key
// named in `failing` lists its first child only and answers the code given.
class TreeEngine : public testkit::NullEngine {
  public:
    std::map<std::pair<uint32_t, uint32_t>, FoundItemList> lists;
    std::map<uint32_t, int> failing;

    EngineStatus ListChildren(const FoundItemRecord* folder, uint32_t level, FoundItemList& out) override {
        const uint32_t key = folder ? uint32_t{folder->key} : 0;
        auto it = lists.find({key, level});
        if (it == lists.end()) return 0;
        if (auto f = failing.find(key); f != failing.end()) {
            if (!it->second.empty()) out.push_back(it->second.front());
            return f->second;
        }
        out.insert(out.end(), it->second.begin(), it->second.end());
        return 0;
    }
};

// root: a.txt, docs/ (b.txt, c.txt: listing fails after b.txt), loop/ (d.txt, loop/ again)
TreeEngine Tree() {
    TreeEngine e;
    e.lists[{0, 0}] = {Item("a.txt", false), Item("docs", true, 10), Item("loop", true, 20)};
    e.lists[{10, 1}] = {Item("b.txt", false), Item("c.txt", false)};
    e.lists[{20, 1}] = {Item("d.txt", false), Item("loop", true, 20)};
    e.lists[{20, 2}] = {Item("e.txt", false)};
    e.failing[10] = kErrReadFault;
    return e;
}

TEST(ResultWalker, GoesPastAFailedFolderAndSaysWhichFailedFirst) {
    TreeEngine engine = Tree();
    std::vector<std::string> files;
    std::vector<std::pair<std::string, int>> failures;
    const int rc = WalkFiles(
        engine,
        [&](const WalkedItem& item) {
            files.push_back(item.folderPath + item.record.Name() + "@" + std::to_string(item.level));
            return true;
        },
        [&](const std::string& path, int result) { failures.emplace_back(path, result); });
    EXPECT_EQ(rc, kErrReadFault);
    EXPECT_EQ(failures, (std::vector<std::pair<std::string, int>>{{"docs/", kErrReadFault}}));
    // What the failed folder did list is still visited; the folder filed in
    // itself is listed again at the level below, where its list is filed.
    EXPECT_EQ(files,
              (std::vector<std::string>{"a.txt@0", "docs/b.txt@1", "loop/d.txt@1", "loop/loop/e.txt@2"}));
}

TEST(ResultWalker, StopsWhenTheVisitorSaysSo) {
    TreeEngine engine = Tree();
    engine.failing.clear();
    int visited = 0;
    EXPECT_EQ(WalkResults(engine, [&](const WalkedItem&) { return ++visited < 2; }), 0);
    EXPECT_EQ(visited, 2);
}

}  // namespace
}  // namespace sorvane
