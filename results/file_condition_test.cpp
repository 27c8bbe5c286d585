#include "results/file_condition.h"

#include <gtest/gtest.h>

#include "carving/content_check.h"

namespace sorvane {
namespace {

FoundItemRecord File(EngineCode engine, uint32_t contentCheck, uint64_t size = 1000) {
    FoundItemRecord r{};
    r.engineCode = static_cast<uint32_t>(engine);
    r.contentCheck = contentCheck;
    r.size = size;
    r.key = 5;
    r.clusterBytes = 4096;
    r.dataStart = 100;
    return r;
}

TEST(FileCondition, OneRuleFoldsContentCheckExfatFlagAndImpossibleEntries) {
    constexpr uint64_t kVolume = 64ull << 20;
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickFat, kContentWhole), kVolume, 512), FileCondition::kWhole);
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickFat, kContentNotChecked), kVolume, 512),
              FileCondition::kNotChecked);
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickFat, kContentDamaged), kVolume, 512),
              FileCondition::kDamaged);
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickNtfs, kContentContradicts), kVolume, 512),
              FileCondition::kDamaged)
        << "bytes that contradict the name are not that file";

    // The exFAT damaged bit outweighs a whole content check; on other engines bit 0 means something else.
    FoundItemRecord exfat = File(EngineCode::kQuickExfat, kContentWhole);
    exfat.engineSpecific = kExfatDamaged;
    EXPECT_EQ(ConditionOf(exfat, kVolume, 512), FileCondition::kDamaged);
    FoundItemRecord fat = File(EngineCode::kQuickFat, kContentWhole);
    fat.engineSpecific = 1;
    EXPECT_EQ(ConditionOf(fat, kVolume, 512), FileCondition::kWhole);

    // Impossible outweighs everything: larger than the volume, or FAT data at cluster 0/1 or past the end.
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickNtfs, kContentWhole, kVolume + 1), kVolume, 512),
              FileCondition::kImpossible);
    FoundItemRecord low = File(EngineCode::kDeepFat, kContentWhole);
    low.key = 1;
    EXPECT_EQ(ConditionOf(low, kVolume, 512), FileCondition::kImpossible);
    FoundItemRecord past = File(EngineCode::kQuickFat, kContentWhole);
    past.key = 2 + (kVolume - 100 * 512) / 4096;
    EXPECT_EQ(ConditionOf(past, kVolume, 512), FileCondition::kImpossible);
    past.key -= 1;
    EXPECT_EQ(ConditionOf(past, kVolume, 512), FileCondition::kWhole) << "the last cluster is possible";
    EXPECT_EQ(ConditionOf(File(EngineCode::kQuickNtfs, kContentWhole, kVolume + 1), 0, 512),
              FileCondition::kWhole)
        << "an unknown volume size proves nothing impossible";

    FoundItemRecord folder = File(EngineCode::kQuickFat, kContentContradicts);
    folder.isFolder = 1;
    EXPECT_EQ(ConditionOf(folder, kVolume, 512), FileCondition::kNotChecked) << "folders have no condition";

    EXPECT_STREQ(ConditionWord(FileCondition::kWhole), "whole");
    EXPECT_STREQ(ConditionWord(FileCondition::kDamaged), "damaged");
    EXPECT_STREQ(ConditionWord(FileCondition::kNotChecked), "not checked");
    EXPECT_STREQ(ConditionWord(FileCondition::kImpossible), "impossible");
    EXPECT_TRUE(MayNotOpen(FileCondition::kImpossible));
    EXPECT_FALSE(MayNotOpen(FileCondition::kNotChecked));
}

TEST(FileCondition, PiecesAreToldOnlyForAFileTheyMadeWhole) {
    FoundItemRecord fat = File(EngineCode::kQuickFat, kContentWhole);
    fat.engineSpecific = 1 | kFatNameGuessed;
    SetRebuiltPieces(fat, 2);
    EXPECT_EQ(RebuiltPieces(fat), 2u);
    EXPECT_EQ(RebuiltNote(fat), "rebuilt from 2 pieces");
    EXPECT_TRUE(fat.NameGuessed() && (fat.engineSpecific & 1)) << "the other bits are kept";
    EXPECT_EQ(ConditionOf(fat, 0, 512), FileCondition::kWhole);

    // Pieces that did not validate to the end say nothing.
    FoundItemRecord damaged = fat;
    damaged.contentCheck = kContentDamaged;
    EXPECT_EQ(RebuiltPieces(damaged), 0u);
    EXPECT_EQ(RebuiltNote(damaged), "");
    // The exFAT entry index and flags live below the count.
    FoundItemRecord exfat = File(EngineCode::kDeepExfat, kContentWhole);
    exfat.engineSpecific = 0xFF00u | 0xE;
    SetRebuiltPieces(exfat, 3);
    EXPECT_EQ(RebuiltNote(exfat), "rebuilt from 3 pieces");
    EXPECT_EQ(exfat.engineSpecific & 0xFFFFu, 0xFF0Eu);
    // One run, a count out of range, and engines whose bits mean other things.
    SetRebuiltPieces(exfat, 1);
    EXPECT_EQ(RebuiltPieces(exfat), 0u);
    SetRebuiltPieces(exfat, kMaxRebuiltPieces + 1);
    EXPECT_EQ(RebuiltPieces(exfat), 0u);
    FoundItemRecord ntfs = File(EngineCode::kQuickNtfs, kContentWhole);
    ntfs.engineSpecific = 2u << kRebuiltPiecesShift;
    EXPECT_EQ(RebuiltPieces(ntfs), 0u);
}

}  // namespace
}  // namespace sorvane
