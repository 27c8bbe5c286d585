#include "app/language_service.h"

#include "app/profile_file.h"
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
        TheService() = std::make_unique<LanguageService>(ProgramFilesDir(), SorvaneDataDir() / "config.ini");
    return *TheService();
}

void LanguageService::ResetInstance() { TheService().reset(); }

LanguageService& LanguageService::ReloadInstance(const std::filesystem::path& programDir) {
    TheService() = std::make_unique<LanguageService>(programDir);
    return *TheService();
}

LanguageService::LanguageService(std::filesystem::path programDir, std::filesystem::path userConfig)
    : configPath_(programDir / "config.ini"),
      userConfig_(std::move(userConfig)),
      languagesFolder_(QString::fromStdString((programDir / "Languages").string()) + u'/') {
    std::error_code error;
    if (!userConfig_.empty() && std::filesystem::is_regular_file(userConfig_, error))
        configPath_ = userConfig_;
    LoadConfig();
    LoadTexts();
}

void LanguageService::LoadConfig() {
    ProfileFile config;
    config.Load(configPath_);
    current_ = config.GetString(kDefaultLanguageSection, kDefaultKey);
    if (current_.isEmpty()) current_ = kFallbackLanguage;
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
    ProfileFile config;
    config.Load(configPath_);
    config.SetString(kDefaultLanguageSection, kDefaultKey, name);
    bool saved = config.Save(configPath_);
    if (!saved && !userConfig_.empty() && configPath_ != userConfig_) {
        std::error_code error;
        std::filesystem::create_directories(userConfig_.parent_path(), error);
        saved = config.Save(userConfig_);
        if (saved) configPath_ = userConfig_;
    }
    LoadConfig();
    LoadTexts();
    return saved;
}

}  // namespace sorvane::app
