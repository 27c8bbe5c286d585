// The rules by which two engines' records are taken for the same folder or
// file, on records alone (the deep scan tests run them on images).
#include "engines/found_folder_merge.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

FoundItemRecord Record(EngineCode engine, bool folder, uint32_t key, const std::string& name,
                       uint64_t size = 0) {
    FoundItemRecord r;
    r.engineCode = static_cast<uint32_t>(engine);
    r.isFolder = folder ? 1 : 0;
    r.key = key;
    r.size = size;
    r.SetName(name);
    return r;
}

TEST(FoundFolderMergeTest, AFolderIsTheSameWhereItsClusterOrFileRecordIs) {
    const auto names = QuickFolderNames({Record(EngineCode::kQuickFat, true, 22, "unallocated"),
                                         Record(EngineCode::kQuickNtfs, true, 40, "Photos"),
                                         Record(EngineCode::kQuickFat, false, 23, "a file"),
                                         Record(EngineCode::kQuickFat, true, 0, "the FAT16 root")});
    EXPECT_EQ(QuickNameOf(names, Record(EngineCode::kDeepFat, true, 22, "LostFolder22")), "unallocated");
    EXPECT_EQ(QuickNameOf(names, Record(EngineCode::kDeepNtfs, true, 40, "LostFolder40")), "Photos");
    // Another engine's folder of the same number is another folder; files are no folders.
    EXPECT_FALSE(QuickNameOf(names, Record(EngineCode::kDeepNtfs, true, 22, "LostFolder22")));
    EXPECT_FALSE(QuickNameOf(names, Record(EngineCode::kDeepFat, false, 22, "x")));
    EXPECT_FALSE(QuickNameOf(names, Record(EngineCode::kDeepFat, true, 23, "LostFolder23")));
    EXPECT_FALSE(QuickNameOf(names, Record(EngineCode::kDeepFat, true, 0, "LostFolder0")));
}

TEST(FoundFolderMergeTest, OnlyANameWithoutExtensionTakesTheCarversForBytesOfItsLength) {
    const FoundItemRecord carved = Record(EngineCode::kRawSignature, false, 0, "42.jpg", 5000);
    auto named = WithCarvedExtension(
        Record(EngineCode::kQuickFat, false, 9, "Holiday photo at the beach", 5000), carved);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->Name(), "Holiday photo at the beach.jpg");
    EXPECT_EQ(uint32_t{named->key}, 9u);
    EXPECT_FALSE(WithCarvedExtension(Record(EngineCode::kQuickFat, false, 9, "notes.txt", 5000), carved));
    EXPECT_FALSE(WithCarvedExtension(Record(EngineCode::kQuickFat, false, 9, "cut", 4999), carved));
    EXPECT_FALSE(WithCarvedExtension(Record(EngineCode::kQuickFat, false, 9, "empty", 0),
                                     Record(EngineCode::kRawSignature, false, 0, "1.jpg", 0)));
    EXPECT_FALSE(WithCarvedExtension(Record(EngineCode::kQuickFat, true, 9, "folder", 5000), carved));
    // A name that fills the field gives up its own last letters for the extension.
    auto longName =
        WithCarvedExtension(Record(EngineCode::kDeepFat, false, 9, std::string(258, 'n'), 5000), carved);
    ASSERT_TRUE(longName);
    EXPECT_EQ(longName->Name().size(), kNameFieldSize - 1);
    EXPECT_EQ(longName->Name().substr(longName->Name().size() - 4), ".jpg");
}

}  // namespace
}  // namespace sorvane
