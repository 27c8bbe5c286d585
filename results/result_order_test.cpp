#include "results/result_order.h"

#include <gtest/gtest.h>

#include "results/folder_key.h"

namespace sorvane {
namespace {

FoundItemRecord Item(const char* name, bool folder, uint32_t number = 0) {
    FoundItemRecord r;
    r.SetName(name);
    r.isFolder = folder ? 1 : 0;
    r.recordNumber = number;
    return r;
}

TEST(ResultOrder, FilesFirstThenNamesIgnoringCaseStable) {
    std::vector<FoundItemRecord> list = {Item("a", true), Item("b.txt", false), Item("A.txt", false),
                                         Item("x.jpg", false, 1), Item("X.JPG", false, 2)};
    SortResultList(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].Name(), "A.txt");
    EXPECT_EQ(list[1].Name(), "b.txt");
    EXPECT_EQ(+list[2].recordNumber, 1u) << "equal names keep their order";
    EXPECT_EQ(+list[3].recordNumber, 2u);
    EXPECT_EQ(list[4].Name(), "a");
}

TEST(ResultOrder, LargeListsSortLikeAStableSortByTheOrder) {
    // Names from a small alphabet with case and bytes above 0x7F, so equal keys,
    // shared prefixes and long permutation cycles all occur.
    uint32_t seed = 99;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const char alphabet[] = {'a', 'A', 'b', 'B', '.', '_', '\xC3', '\xA9', 'z'};
    std::vector<FoundItemRecord> list;
    for (uint32_t i = 0; i < 5000; ++i) {
        std::string name;
        for (uint32_t k = next() % 4; k > 0; --k) name += alphabet[(next() >> 16) % sizeof alphabet];
        list.push_back(Item(name.c_str(), (next() >> 8) % 5 == 0, i));
    }
    std::vector<FoundItemRecord> expected = list;
    std::stable_sort(expected.begin(), expected.end(), ResultListLess);
    SortResultList(list);
    ASSERT_EQ(list.size(), expected.size());
    for (size_t i = 0; i < list.size(); ++i) ASSERT_EQ(+list[i].recordNumber, +expected[i].recordNumber) << i;
}

TEST(FolderKeys, LevelGoesInTheHighHalf) {
    EXPECT_EQ(MakeRelationKey(100, 1), 4294967396u);
    EXPECT_EQ(RelationFolderKey(4294967396u), 100u);
    EXPECT_EQ(RelationLevel(4294967396u), 1u);
    EXPECT_EQ(LostFolderName(42), "LostFolder42");
}

}  // namespace
}  // namespace sorvane
