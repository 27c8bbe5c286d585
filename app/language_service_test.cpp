// The profile format reader and writer, the language service over real
// config.ini and language files, and the shipped language files themselves.
#include "app/language_service.h"
#include "app/user_settings.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>
#include <QStringEncoder>

#include "app/profile_file.h"
#include "tests/testkit/testkit.h"

namespace sorvane::app {
namespace {

using testkit::TempDir;

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    testkit::WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string Read(const std::filesystem::path& path) {
    const auto bytes = testkit::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::filesystem::path ShippedData() { return std::filesystem::path(SORVANE_SOURCE_DIR) / "app" / "data"; }

TEST(ProfileFile, ReadsKeysTheWayTheFormatDefines) {
    ProfileFile profile;
    profile.Parse(
        QStringLiteral("; comment\n[Main]\n  Title = Hello  \ntitle=Second\nStandalone "
                       "line\n\n[main]\nLate=yes\n[Other]\nA=1=2\n"));
    EXPECT_EQ(profile.SectionNames(), QStringList({QStringLiteral("Main"), QStringLiteral("Other")}));
    // Keys and sections ignore case; the first line of a key wins.
    EXPECT_EQ(profile.GetString(QStringLiteral("MAIN"), QStringLiteral("TITLE")), QStringLiteral("Hello"));
    // A line without "=" is key and value at once.
    EXPECT_EQ(profile.GetString(QStringLiteral("Main"), QStringLiteral("Standalone line")),
              QStringLiteral("Standalone line"));
    // The value is everything after the first "=".
    EXPECT_EQ(profile.GetString(QStringLiteral("Other"), QStringLiteral("A")), QStringLiteral("1=2"));
    // A section written twice reads as one.
    EXPECT_EQ(profile.GetString(QStringLiteral("Main"), QStringLiteral("Late")), QStringLiteral("yes"));
    EXPECT_EQ(profile.GetString(QStringLiteral("Missing"), QStringLiteral("x"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    const auto entries = profile.SectionEntries(QStringLiteral("Main"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].second, QStringLiteral("Second"));
}

TEST(ProfileFile, WritingChangesOnlyTheKeyAndKeepsTheRest) {
    TempDir dir;
    const auto path = dir / "config.ini";
    Write(path,
          "; keep me\r\n[DefaultLanguage]\r\nDefault=English\r\n\r\n[Languages]\r\nEnglish=English\r\n");
    ProfileFile profile;
    ASSERT_TRUE(profile.Load(path));
    profile.SetString(QStringLiteral("DefaultLanguage"), QStringLiteral("Default"),
                      QStringLiteral("Deutsch"));
    profile.SetString(QStringLiteral("Languages"), QStringLiteral("Deutsch"), QStringLiteral("Deutsch"));
    profile.SetString(QStringLiteral("New"), QStringLiteral("K"), QStringLiteral("V"));
    ASSERT_TRUE(profile.Save(path));
    EXPECT_EQ(Read(path),
              "; keep "
              "me\r\n[DefaultLanguage]\r\nDefault=Deutsch\r\n\r\n[Languages]\r\nEnglish=English\r\nDeutsch="
              "Deutsch\r\n"
              "\r\n[New]\r\nK=V\r\n");
}

TEST(ProfileFile, ReadsAndWritesUtf16Files) {
    TempDir dir;
    const auto path = dir / "utf16.ini";
    QStringEncoder encode(QStringEncoder::Utf16LE);
    const QByteArray body = encode(QStringLiteral("[Messages]\r\nMSG0001=Grüße\r\n"));
    std::vector<uint8_t> bytes(static_cast<size_t>(body.size()) + 2);
    bytes[0] = 0xFF;
    bytes[1] = 0xFE;
    std::copy(body.begin(), body.end(), bytes.begin() + 2);
    testkit::WriteFile(path, bytes);
    ProfileFile profile;
    ASSERT_TRUE(profile.Load(path));
    EXPECT_EQ(profile.GetString(QStringLiteral("Messages"), QStringLiteral("MSG0001")),
              QStringLiteral("Grüße"));
    profile.SetString(QStringLiteral("Messages"), QStringLiteral("MSG0002"), QStringLiteral("Ä"));
    ASSERT_TRUE(profile.Save(path));
    const auto written = testkit::ReadFile(path);
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[0], 0xFF);
    EXPECT_EQ(written[1], 0xFE);
    ProfileFile again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.GetString(QStringLiteral("Messages"), QStringLiteral("MSG0002")), QStringLiteral("Ä"));
}

// A program folder with config.ini and two language files.
class LanguageFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        Write(dir_ / "config.ini",
              "[DefaultLanguage]\nDefault=English\n[Languages]\nEnglish=English (UK)\nDeutsch=Deutsch\n");
        Write(
            dir_ / "Languages" / "English.ini",
            "[Messages]\nMSG0401=Error\nMSG0401=Ignored duplicate\nLonely line\n[MainWnd]\nBtnStart=Start\n");
        Write(dir_ / "Languages" / "Deutsch.ini", "[Messages]\nMSG0401=Fehler\n[MainWnd]\nBtnStart=Los\n");
    }
    TempDir dir_;
};

TEST_F(LanguageFolder, LoadsTheDefaultLanguageAndTheOfferedOnesInOrder) {
    LanguageService service(dir_.Path());
    EXPECT_EQ(service.CurrentLanguage(), QStringLiteral("English"));
    ASSERT_EQ(service.Languages().size(), 2u);
    EXPECT_EQ(service.Languages()[0],
              std::make_pair(QStringLiteral("English"), QStringLiteral("English (UK)")));
    EXPECT_EQ(service.Languages()[1].first, QStringLiteral("Deutsch"));
    EXPECT_TRUE(service.LanguagesFolder().endsWith(u"Languages/"));
    auto& messages = service.Section(QStringLiteral("Messages"));
    EXPECT_EQ(LanguageService::Text(messages, QStringLiteral("MSG0401")), QStringLiteral("Error"));
    EXPECT_EQ(LanguageService::Text(messages, QStringLiteral("Lonely line")), QStringLiteral("Lonely line"));
    // A missing key is empty and remembered as such; a missing section is empty.
    EXPECT_EQ(LanguageService::Text(messages, QStringLiteral("MSG9999")), QString());
    EXPECT_EQ(messages.count(QStringLiteral("MSG9999")), 1u);
    EXPECT_TRUE(service.Section(QStringLiteral("NoSuchWindow")).empty());
}

TEST_F(LanguageFolder, TheLanguagesKeyNamesTheFileOfThatLanguage) {
    TempDir user;
    LanguageService service(dir_.Path(), user / "sorvane.ini");
    // "Deutsch" is offered, and choosing it reads Languages/Deutsch.ini.
    ASSERT_TRUE(service.SetLanguage(service.Languages()[1].first));
    EXPECT_EQ(service.CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_EQ(service.Message(QStringLiteral("MSG0401")), QStringLiteral("Fehler"));
    EXPECT_EQ(LanguageService::Text(service.Section(QStringLiteral("MainWnd")), QStringLiteral("BtnStart")),
              QStringLiteral("Los"));
}

// config.ini is the shipped default for everyone who runs the program: the
// choice lands in the person's own settings, and the next start uses it.
TEST_F(LanguageFolder, SwitchingKeepsTheChoiceInTheUsersSettingsAndNeverWritesConfig) {
    TempDir user;
    const auto settings = user / "Sorvane" / "sorvane.ini";
    const std::string shipped = testkit::FileSha256(dir_ / "config.ini");
    {
        LanguageService running(dir_.Path(), settings);
        EXPECT_EQ(running.CurrentLanguage(), QStringLiteral("English"));
        ASSERT_TRUE(running.SetLanguage(QStringLiteral("Deutsch")));
        EXPECT_EQ(running.Message(QStringLiteral("MSG0401")), QStringLiteral("Fehler"));
    }
    EXPECT_EQ(testkit::FileSha256(dir_ / "config.ini"), shipped);
    EXPECT_EQ(UserSettings(settings).Language(), QStringLiteral("Deutsch"));
    LanguageService nextStart(dir_.Path(), settings);
    EXPECT_EQ(nextStart.CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_EQ(nextStart.Message(QStringLiteral("MSG0401")), QStringLiteral("Fehler"));
    // Another person, without settings of their own, still gets the shipped default.
    LanguageService someoneElse(dir_.Path(), user / "other" / "sorvane.ini");
    EXPECT_EQ(someoneElse.CurrentLanguage(), QStringLiteral("English"));

    // Without a settings file the choice lasts for the run, and nothing is written.
    LanguageService noSettings(dir_.Path());
    EXPECT_FALSE(noSettings.SetLanguage(QStringLiteral("Deutsch")));
    EXPECT_EQ(noSettings.CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_EQ(testkit::FileSha256(dir_ / "config.ini"), shipped);
}

TEST(UserSettings, KeepsSizeAndDestinationAndIgnoresNonsense) {
    TempDir user;
    const auto file = user / "Sorvane" / "sorvane.ini";
    UserSettings settings(file);
    EXPECT_TRUE(settings.WindowSize().isEmpty());
    settings.SetWindowSize(QSize(1200, 700));
    settings.SetLastDestination(QStringLiteral("/home/anna/Recovered"));
    UserSettings again(file);
    EXPECT_EQ(again.WindowSize(), QSize(1200, 700));
    EXPECT_EQ(again.LastDestination(), QStringLiteral("/home/anna/Recovered"));
    Write(file, "[General]\nWindowSize=wide\n");
    EXPECT_TRUE(UserSettings(file).WindowSize().isEmpty());
}

TEST(LanguageService, MissingFilesGiveEnglishAndEmptyTexts) {
    TempDir empty;
    LanguageService service(empty.Path());
    EXPECT_EQ(service.CurrentLanguage(), QStringLiteral("English"));
    EXPECT_TRUE(service.Languages().empty());
    EXPECT_EQ(service.Message(QStringLiteral("MSG0401")), QString());
}

TEST_F(LanguageFolder, ALanguageWithoutItsFileFallsBackToEnglish) {
    Write(dir_ / "config.ini", "[DefaultLanguage]\nDefault=Klingon\n[Languages]\nEnglish=English\n");
    LanguageService missing(dir_.Path());
    EXPECT_EQ(missing.CurrentLanguage(), QStringLiteral("English"));
    EXPECT_EQ(missing.Message(QStringLiteral("MSG0401")), QStringLiteral("Error"));
    // A name that would leave the folder is not followed, and English is shown instead.
    Write(dir_ / "config.ini", "[DefaultLanguage]\nDefault=../Languages/Deutsch\n");
    LanguageService escaping(dir_.Path());
    EXPECT_EQ(escaping.Message(QStringLiteral("MSG0401")), QStringLiteral("Error"));
}

TEST(LanguageService, ALanguageNameCannotLeaveTheLanguagesFolder) {
    TempDir dir;
    Write(dir / "config.ini", "[DefaultLanguage]\nDefault=../secret\n");
    Write(dir / "secret.ini", "[Messages]\nMSG0401=leaked\n");
    LanguageService service(dir.Path());
    EXPECT_EQ(service.Message(QStringLiteral("MSG0401")), QString());
}

// Every message identifier the windows use, with the values each one is formatted with.
struct MessageUse {
    const char* first;
    const char* last;
    const char* conversions;  // printf conversions in order, "" for plain text
};
const MessageUse kMessages[] = {
    {"MSG0101", "MSG0104", ""},     {"MSG0201", "MSG0211", ""},   {"MSG0212", "MSG0221", ""},
    {"MSG0301", "MSG0306", ""},     {"MSG0401", "MSG0405", ""},   {"MSG0501", "MSG0507", ""},
    {"MSG0601", "MSG0602", ""},     {"MSG0701", "MSG0701", "c"},  {"MSG0702", "MSG0702", "d"},
    {"MSG0703", "MSG0709", ""},     {"MSG0801", "MSG0801", ""},   {"MSG0802", "MSG0802", "s"},
    {"MSG0803", "MSG0803", ""},     {"MSG0804", "MSG0804", "sd"}, {"MSG0805", "MSG0806", ""},
    {"MSG0807", "MSG0812", ""},     {"MSG0901", "MSG0905", ""},   {"MSG1101", "MSG1101", ""},
    {"MSG1102", "MSG1102", "dddd"}, {"MSG1103", "MSG1103", ""},   {"MSG1201", "MSG1201", "c"},
    {"MSG1202", "MSG1202", "d"},    {"MSG1203", "MSG1203", "s"},  {"MSG1204", "MSG1207", ""},
    {"MSG1209", "MSG1209", ""},     {"MSG1210", "MSG1210", "s"},  {"MSG1212", "MSG1218", ""},
    {"MSG1220", "MSG1226", ""},     {"MSG0520", "MSG0523", ""},   {"MSG0524", "MSG0524", "d"},
    {"MSG0525", "MSG0530", ""},     {"MSG0711", "MSG0711", "dd"}, {"MSG0712", "MSG0712", "dd"},
    {"MSG0713", "MSG0713", "d"},    {"MSG0851", "MSG0854", ""},   {"MSG0855", "MSG0855", "sd"},
    {"MSG0856", "MSG0856", ""},     {"MSG1104", "MSG1104", ""},   {"MSG1227", "MSG1227", ""},
};

QString Conversions(const QString& text) {
    static const QRegularExpression conversion(QStringLiteral("%(I64)?([a-z%])"));
    QString found;
    for (auto it = conversion.globalMatch(text); it.hasNext();) {
        const QString kind = it.next().captured(2);
        if (kind != u"%") found += kind;
    }
    return found;
}

TEST(ShippedLanguages, EveryLanguageHasEveryMessageInTheRightFormat) {
    LanguageService english(ShippedData());
    ASSERT_GE(english.Languages().size(), 2u);
    for (const auto& [language, menuText] : english.Languages()) {
        ASSERT_TRUE(std::filesystem::exists(ShippedData() / "Languages" / (language.toStdString() + ".ini")))
            << language.toStdString();
        LanguageService probe(ShippedData());
        probe.UseLanguageForThisRun(language);
        for (const MessageUse& use : kMessages) {
            for (int id = QString::fromLatin1(use.first).mid(3).toInt();
                 id <= QString::fromLatin1(use.last).mid(3).toInt(); ++id) {
                const QString key = QStringLiteral("MSG%1").arg(id, 4, 10, QLatin1Char('0'));
                const QString text = probe.Message(key);
                EXPECT_FALSE(text.isEmpty()) << language.toStdString() << " lacks " << key.toStdString();
                EXPECT_EQ(Conversions(text), QString::fromLatin1(use.conversions))
                    << language.toStdString() << " " << key.toStdString() << ": " << text.toStdString();
            }
        }
    }
}

TEST(ShippedLanguages, AllLanguagesNameTheSameControls) {
    TempDir copy;
    std::filesystem::copy(ShippedData(), copy.Path(), std::filesystem::copy_options::recursive);
    LanguageService english(copy.Path());
    ProfileFile englishFile;
    ASSERT_TRUE(englishFile.Load(copy / "Languages" / "English.ini"));
    for (const auto& [language, menuText] : english.Languages()) {
        ProfileFile file;
        ASSERT_TRUE(file.Load(copy / "Languages" / (language.toStdString() + ".ini")));
        for (const QString& section : englishFile.SectionNames()) {
            QSet<QString> keys;
            for (const auto& entry : file.SectionEntries(section)) keys.insert(entry.first);
            for (const auto& entry : englishFile.SectionEntries(section)) {
                EXPECT_TRUE(keys.contains(entry.first))
                    << language.toStdString() << " [" << section.toStdString() << "] lacks "
                    << entry.first.toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace sorvane::app
