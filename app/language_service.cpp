#include "app/language_service.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/profile_file.h"
#include "app/user_settings.h"
#include "platform/data_dirs.h"

namespace sorvane::app {
namespace {

const QString kDefaultLanguageSection = QStringLiteral("DefaultLanguage");
const QString kDefaultKey = QStringLiteral("Default");
const QString kLanguagesSection = QStringLiteral("Languages");
const QString kFallbackLanguage = QStringLiteral("English");

// config.ini and Languages/ ship beside the program; an installed copy keeps
// them in the shared data folder instead.
std::filesystem::path ProgramFilesDir() {
    const std::filesystem::path beside = ProgramDir();
    if (std::filesystem::exists(beside / "config.ini")) return beside;
    const std::filesystem::path installed = beside.parent_path() / "share" / "sorvane";
    if (std::filesystem::exists(installed / "config.ini")) return installed;
    return beside;
}

}  // namespace

namespace {
std::unique_ptr<LanguageService>& TheService() {
    static std::unique_ptr<LanguageService> service;
    return service;
}
}  // namespace

LanguageService& LanguageService::Instance() {
    if (!TheService())
        TheService() = std::make_unique<LanguageService>(ProgramFilesDir(), UserSettingsPath());
    return *TheService();
}

void LanguageService::ResetInstance() { TheService().reset(); }

LanguageService& LanguageService::ReloadInstance(const std::filesystem::path& programDir,
                                                 const std::filesystem::path& userSettings) {
    TheService() = std::make_unique<LanguageService>(programDir, userSettings);
    return *TheService();
}

LanguageService::LanguageService(std::filesystem::path programDir, std::filesystem::path userSettings)
    : configPath_(programDir / "config.ini"),
      userSettings_(std::move(userSettings)),
      languagesFolder_(QString::fromStdString((programDir / "Languages").string()) + u'/') {
    LoadConfig();
    LoadTexts();
}

void LanguageService::LoadConfig() {
    ProfileFile config;
    config.Load(configPath_);
    current_ = config.GetString(kDefaultLanguageSection, kDefaultKey);
    if (current_.isEmpty()) current_ = kFallbackLanguage;
    if (const QString chosen = UserSettings(userSettings_).Language(); !chosen.isEmpty()) current_ = chosen;
    languages_.clear();
    for (const auto& [name, menuText] : config.SectionEntries(kLanguagesSection)) {
        languages_.emplace_back(name, menuText);
    }
}

void LanguageService::LoadTexts() {
    texts_.clear();
    // The current name comes from a file the user can edit: it must stay a file name
    // inside the languages folder. A name without a readable file (a removed language,
    // a typing slip) falls back to English: windows with blank titles and message boxes
    // without a word would leave a person stranded.
    const auto safeName = [](const QString& name) {
        return !name.contains(u'/') && !name.contains(u'\\') && !name.startsWith(u'.');
    };
    ProfileFile file;
    if (!safeName(current_) ||
        !file.Load((languagesFolder_ + current_ + QStringLiteral(".ini")).toStdString())) {
        if (current_ == kFallbackLanguage) return;
        current_ = kFallbackLanguage;
        if (!file.Load((languagesFolder_ + current_ + QStringLiteral(".ini")).toStdString())) return;
    }
    for (const QString& section : file.SectionNames()) {
        TextMap& map = texts_[section];
        for (const auto& [key, value] : file.SectionEntries(section)) map.emplace(key, value);  // first wins
    }
}

LanguageService::TextMap& LanguageService::Section(const QString& name) { return texts_[name]; }

QString LanguageService::Text(TextMap& section, const QString& key) { return section[key]; }

QString LanguageService::Message(const QString& id) { return Text(Section(QStringLiteral("Messages")), id); }

bool LanguageService::SetLanguage(const QString& name) {
    const bool kept = UserSettings(userSettings_).SetLanguage(name);
    UseLanguageForThisRun(name);
    return kept;
}

void LanguageService::UseLanguageForThisRun(const QString& name) {
    current_ = name;
    LoadTexts();
}

QString LanguageService::Locale() {
    return Text(Section(QStringLiteral("Language")), QStringLiteral("Locale"));
}

void InstallDialogTranslations() {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const QString locale = LanguageService::Instance().Locale();
    if (locale.isEmpty() || !QCoreApplication::instance()) return;
    QLocale::setDefault(QLocale(locale));
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(locale), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
}

}  // namespace sorvane::app
