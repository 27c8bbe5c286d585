#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/file_name_rules.h"
#include "platform/file_owner.h"
#include "platform/file_time.h"
#include "platform/mount_table.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "platform/text_encoding.h"
#include "platform/volume_registry.h"

namespace sorvane {
namespace {

TEST(TextEncoding, Utf16WithBadSurrogatesBecomesReplacementCharacters) {
    const char16_t good[] = {u'a', 0xD83D, 0xDCF7, u'b'};  // a, camera emoji, b
    EXPECT_EQ(Utf16ToUtf8(good, 4),
              "a\xF0\x9F\x93\xB7"
              "b");
    const char16_t lone[] = {0xD83D, u'x', 0xDC00};
    EXPECT_EQ(Utf16ToUtf8(lone, 3), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Grüße/фото")), "Grüße/фото");
}

TEST(TextEncoding, NameFieldIsCutAtACharacterBoundary) {
    char field[8];
    std::memset(field, 'Z', sizeof field);
    CopyNameField(field, sizeof field, "abcdeé");  // 'é' is two bytes; only 7 fit with the NUL
    EXPECT_STREQ(field, "abcdeé");
    CopyNameField(field, sizeof field, "abcdefé");
    EXPECT_STREQ(field, "abcdef") << "half a character must not be kept";
    char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(NameFromField(full, 4), "abcd") << "an unterminated field is not read past";
}

TEST(TextEncoding, CaseInsensitiveOrderFoldsOnlyAscii) {
    EXPECT_LT(CompareNamesIgnoringCase("A.txt", "b.txt"), 0);
    EXPECT_EQ(CompareNamesIgnoringCase("DSC.JPG", "dsc.jpg"), 0);
    EXPECT_LT(CompareNamesIgnoringCase("abc", "abcd"), 0);
    EXPECT_EQ(Cp437ToUtf8("\x81"), "ü");
}

TEST(FileTime, FatWallClockAndUnixRoundTrip) {
    // 2004-02-29 13:45:30, a leap day: no time-zone shift is applied.
    uint16_t date = static_cast<uint16_t>(((2004 - 1980) << 9) | (2 << 5) | 29);
    uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | 15);
    uint64_t ft = FileTimeFromFatDateTime(date, time);
    EXPECT_EQ(FormatFileTime(ft), "2004-02-29 13:45:30");
    EXPECT_EQ(FileTimeFromFatDateTime(0, 0), 0u);
    EXPECT_EQ(FileTimeFromFatDateTime(static_cast<uint16_t>((24 << 9) | (13 << 5) | 1), 0), 0u) << "month 13";
    EXPECT_EQ(FileTimeFromUnix(0), kFileTimeUnixEpoch);
    uint64_t parsed = 0;
    ASSERT_TRUE(ParseFileTime("2004-02-29 13:45:30", parsed));
    EXPECT_EQ(parsed, ft);
    EXPECT_FALSE(ParseFileTime("2004-13-01", parsed));
    EXPECT_TRUE(ParseFileTime("2020-01-02", parsed));
    EXPECT_EQ(FormatFileTime(parsed), "2020-01-02 00:00:00");
}

TEST(FileTime, IsoTimesCarryTheLocalOffset) {
#ifdef _WIN32
    // The zones below are set as POSIX TZ rules, which the Windows C runtime does not follow.
    GTEST_SKIP() << "POSIX TZ rules are not available here";
#else
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    auto zone = [](const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    };
    const int64_t summer = 1249482130;  // 2009-08-05 14:22:10 UTC
    const int64_t winter = 1078063230;  // 2004-02-29 14:00:30 UTC
    zone("UTC0");
    EXPECT_EQ(FormatIsoTime(summer), "2009-08-05T14:22:10+00:00");
    zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FormatIsoTime(summer), "2009-08-05T16:22:10+02:00");
    EXPECT_EQ(FormatIsoTime(winter), "2004-02-29T15:00:30+01:00");
    zone("NST+3:30");
    EXPECT_EQ(FormatIsoTime(winter), "2004-02-29T10:30:30-03:30");
    EXPECT_EQ(FormatIsoTime(-1), "1969-12-31T20:29:59-03:30");
    if (previous) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
#endif
}

TEST(MountTable, ParsesEscapedMountPointsAndTypes) {
    auto entries = ParseMountInfo(
        "36 25 8:17 / /media/user/MY\\040STICK rw,nosuid shared:1 - vfat /dev/sdb1 rw\n"
        "37 25 8:33 / /mnt/n rw - fuseblk /dev/sdc1 rw,user_id=0\n"
        "garbage line\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].mountPoint, "/media/user/MY STICK");
    EXPECT_EQ(entries[0].major, 8u);
    EXPECT_EQ(entries[0].minor, 17u);
    EXPECT_EQ(entries[0].source, "/dev/sdb1");
    EXPECT_EQ(FileSystemNameFromMountType(entries[0].fsType, 32), "FAT32");
    EXPECT_EQ(FileSystemNameFromMountType(entries[0].fsType, 16), "FAT");
    EXPECT_EQ(FileSystemNameFromMountType(entries[1].fsType, 0), "NTFS");
}

TEST(FileNameRules, WindowsRefusalsAreMendedWithoutLosingTheName) {
    EXPECT_EQ(NameAllowedOnWindows("a<b>c:d\"e|f?g*h.jpg"), "a_b_c_d_e_f_g_h.jpg");
    EXPECT_EQ(NameAllowedOnWindows("report. . ."), "report") << "trailing dots and spaces are dropped";
    EXPECT_EQ(NameAllowedOnWindows(" lead.txt"), " lead.txt") << "leading blanks are allowed";
    EXPECT_EQ(NameAllowedOnWindows("..."), "_");
    EXPECT_EQ(NameAllowedOnWindows(""), "_");
    EXPECT_EQ(NameAllowedOnWindows("фото.jpg"), "фото.jpg");
    // Reserved device names, in any case and with any extension, would open the device.
    EXPECT_EQ(NameAllowedOnWindows("CON"), "_CON");
    EXPECT_EQ(NameAllowedOnWindows("nul.txt"), "_nul.txt");
    EXPECT_EQ(NameAllowedOnWindows("Com1.tar.gz"), "_Com1.tar.gz");
    EXPECT_EQ(NameAllowedOnWindows("LPT9"), "_LPT9");
    EXPECT_EQ(NameAllowedOnWindows("aux .log"), "_aux .log");
    EXPECT_EQ(NameAllowedOnWindows("COM\xC2\xB9"), "_COM\xC2\xB9");
    EXPECT_EQ(NameAllowedOnWindows("conin$"), "_conin$");
    EXPECT_EQ(NameAllowedOnWindows("COM0"), "COM0");
    EXPECT_EQ(NameAllowedOnWindows("COM10"), "COM10");
    EXPECT_EQ(NameAllowedOnWindows("CONSOLE.txt"), "CONSOLE.txt");
    EXPECT_EQ(NameAllowedOnWindows("NUL."), "_NUL")
        << "the dot goes first, then the name is still the device";
}

TEST(PathText, Utf8NamesBecomePathsAndBackUnchanged) {
    const std::string name = "Grüße фото 東京 \xF0\x9F\x93\xB7.jpg";
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(name)), name);
    EXPECT_EQ(Utf8FromPath(PathFromUtf8("dir") / PathFromUtf8(name)).size(), name.size() + 4);
}

TEST(ResultCodes, ErrnoMapsToTheAgreedNumbers) {
    EXPECT_EQ(ResultFromErrno(ENOENT), 2);
    EXPECT_EQ(ResultFromErrno(EACCES), 5);
    EXPECT_EQ(ResultFromErrno(EIO), 30);
    EXPECT_EQ(ResultFromErrno(ENOSPC), 112);
    EXPECT_NE(ResultFromErrno(EXDEV), 0) << "an unknown failure is never success";
    EXPECT_EQ(ResultFromErrorCode(std::make_error_code(std::errc::no_such_file_or_directory)), 2);
    EXPECT_EQ(ResultFromErrorCode(std::error_code()), 0);
    EXPECT_NE(ResultFromErrorCode(std::make_error_code(std::io_errc::stream)), 0);
}

#ifndef _WIN32
// Restarted through pkexec or sudo: what the program makes belongs to the user it acts for.
TEST(FileOwner, CreatedFilesGoToTheUserARestartWithRightsActsFor) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, as after a restart with rights";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sorvane-owner-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "photo");
    { std::ofstream(dir / "photo" / "a.jpg") << "x"; }
    auto owner = [](const std::filesystem::path& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return std::make_pair(st.st_uid, st.st_gid);
    };
    uint32_t uid = 0, gid = 0;
    ::unsetenv("PKEXEC_UID");
    ::unsetenv("SUDO_UID");
    ::unsetenv("SUDO_GID");
    EXPECT_FALSE(InvokingUser(uid, gid));
    EXPECT_EQ(GiveToInvokingUser(dir / "photo" / "a.jpg"), kSuccess);
    EXPECT_EQ(owner(dir / "photo" / "a.jpg").first, 0u) << "run as itself: nothing changes";

    ::setenv("SUDO_UID", "4242", 1);
    ::setenv("SUDO_GID", "4343", 1);
    ASSERT_TRUE(InvokingUser(uid, gid));
    EXPECT_EQ(uid, 4242u);
    EXPECT_EQ(gid, 4343u);
    ::setenv("PKEXEC_UID", "54321",
             1);  // pkexec's word comes first; an unknown user keeps a group of its number
    ASSERT_TRUE(InvokingUser(uid, gid));
    EXPECT_EQ(uid, 54321u);
    EXPECT_EQ(GiveTreeToInvokingUser(dir), kSuccess);
    for (const auto& path : {dir, dir / "photo", dir / "photo" / "a.jpg"})
        EXPECT_EQ(owner(path), std::make_pair(uid_t{54321}, gid_t{gid})) << path;
    ::setenv("PKEXEC_UID", "0x12", 1);
    ::unsetenv("SUDO_UID");
    EXPECT_FALSE(InvokingUser(uid, gid)) << "only a plain number is a user id";
    ::unsetenv("PKEXEC_UID");
    ::unsetenv("SUDO_GID");
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace sorvane
