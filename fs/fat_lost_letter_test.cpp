// The lost first letter of a deleted short name: guessed from siblings that
// share the name's pattern or from the folders every camera writes, and
// nowhere else.
#include "fs/fat_lost_letter.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using Names = std::vector<std::string>;

TEST(FatLostLetterTest, SiblingsOfTheSamePatternGiveTheLetter) {
    EXPECT_EQ(
        GuessLostFirstCharacter("!mg_0413.jpg", false, CameraPlace::kNone, {"img_0414.jpg", "notes.txt"}),
        "img_0413.jpg");
    EXPECT_EQ(GuessLostFirstCharacter("!ATA0001.DAT", false, CameraPlace::kNone, {"DATA0207.DAT"}),
              "DATA0001.DAT");
    // Siblings that disagree, or that share only the length, give nothing.
    EXPECT_EQ(GuessLostFirstCharacter("!at1.txt", false, CameraPlace::kNone, {"cat2.txt", "rat3.txt"}), "");
    EXPECT_EQ(
        GuessLostFirstCharacter("!mg_0413.jpg", false, CameraPlace::kNone, {"img_0414.png", "abc_defg.jpg"}),
        "");
    // Another lost name is no witness, nor is a name too short to have a pattern.
    EXPECT_EQ(GuessLostFirstCharacter("!mg_0413.jpg", false, CameraPlace::kNone, {"!mg_0414.jpg"}), "");
    EXPECT_EQ(GuessLostFirstCharacter("!1", false, CameraPlace::kNone, {"a2", "b3"}), "");
}

TEST(FatLostLetterTest, CameraFoldersGiveTheLetterOnlyInTheirPlace) {
    const Names none;
    EXPECT_EQ(GuessLostFirstCharacter("!cim", true, CameraPlace::kRoot, none), "dcim");
    EXPECT_EQ(GuessLostFirstCharacter("!CIM", true, CameraPlace::kRoot, none), "DCIM");
    EXPECT_EQ(GuessLostFirstCharacter("!00canon", true, CameraPlace::kDcim, none), "100canon");
    EXPECT_EQ(GuessLostFirstCharacter("!01msdcf", true, CameraPlace::kDcim, none), "101msdcf");
    for (const char* file :
         {"!mg_0412.jpg", "!sc_0001.jpg", "!scf1234.jpg", "!ji_0042.mp4", "!opr0012.mp4", "!vi_7777.mov"}) {
        const std::string guess = GuessLostFirstCharacter(file, false, CameraPlace::kCameraFolder, none);
        EXPECT_EQ(guess.substr(1), std::string(file).substr(1)) << file;
        EXPECT_NE(guess, "") << file;
    }
    EXPECT_EQ(GuessLostFirstCharacter("!MG_0412.JPG", false, CameraPlace::kCameraFolder, none),
              "IMG_0412.JPG");
    EXPECT_EQ(GuessLostFirstCharacter("!opr0012.mp4", false, CameraPlace::kCameraFolder, none),
              "gopr0012.mp4");
    // The same names anywhere else, or a prefix without a number after it, keep their "!".
    EXPECT_EQ(GuessLostFirstCharacter("!cim", true, CameraPlace::kNone, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!cim", false, CameraPlace::kRoot, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!mg_0412.jpg", false, CameraPlace::kNone, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!mg_cat.jpg", false, CameraPlace::kCameraFolder, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!eport.txt", false, CameraPlace::kCameraFolder, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!00canon", true, CameraPlace::kRoot, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("!0canon", true, CameraPlace::kDcim, none), "");
    EXPECT_EQ(GuessLostFirstCharacter("img_0412.jpg", false, CameraPlace::kCameraFolder, none), "");
}

TEST(FatLostLetterTest, FolderPlacesFollowTheCameraLayout) {
    EXPECT_EQ(PlaceOfFolder("DCIM", CameraPlace::kRoot), CameraPlace::kDcim);
    EXPECT_EQ(PlaceOfFolder("dcim", CameraPlace::kRoot), CameraPlace::kDcim);
    EXPECT_EQ(PlaceOfFolder("dcim", CameraPlace::kDcim), CameraPlace::kNone);
    EXPECT_EQ(PlaceOfFolder("100CANON", CameraPlace::kDcim), CameraPlace::kCameraFolder);
    EXPECT_EQ(PlaceOfFolder("100CANON", CameraPlace::kRoot), CameraPlace::kNone);
    EXPECT_EQ(PlaceOfFolder("100CAN", CameraPlace::kDcim), CameraPlace::kNone);
    EXPECT_EQ(PlaceOfFolder("100CANON", CameraPlace::kCameraFolder), CameraPlace::kNone);
}

}  // namespace
}  // namespace sorvane
