// The texts of every window, read from the language file of the current
// language, and the list of languages the program offers.
//
// config.ini (beside the program) names the current language under
// [DefaultLanguage] Default= and offers languages under [Languages] as
// name=menu text lines; the language file is Languages/<name>.ini, one
// section per window whose keys are control names or message identifiers.
#pragma once

#include <QEvent>
#include <QString>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace sorvane::app {

// Posted to the main window after SetLanguage so it re-applies every text.
inline constexpr QEvent::Type WM_LANGUAGE_CHANGED = static_cast<QEvent::Type>(0x406);

class LanguageService {
  public:
    using TextMap = std::map<QString, QString>;

    // The process-wide service, loaded from the program's folder on first use.
    static LanguageService& Instance();
    // Drops the process-wide service; the next Instance() loads afresh (after
    // the data folder changed, as in the screenshot mode).
    static void ResetInstance();
    // Replaces the process-wide service by one over `programDir` (tests, tools).
    static LanguageService& ReloadInstance(const std::filesystem::path& programDir);
    // A service over a folder holding config.ini and Languages/. `userConfig`, when
    // given, is the user's own copy of config.ini: read instead of the shipped one
    // once it exists, and written when the shipped one cannot be (an installed,
    // read-only program folder).
    explicit LanguageService(std::filesystem::path programDir, std::filesystem::path userConfig = {});

    // The key/value map of a section of the current language file; a missing
    // section yields an empty map.
    TextMap& Section(const QString& name);
    // The value of `key`; a missing key yields the empty text and is remembered as empty.
    static QString Text(TextMap& section, const QString& key);
    // Shorthand for Text(Section("Messages"), id).
    QString Message(const QString& id);

    // Offered languages in the order of config.ini: (name, menu text).
    const std::vector<std::pair<QString, QString>>& Languages() const { return languages_; }
    const QString& CurrentLanguage() const { return current_; }

    // Writes `name` as the default language into config.ini, reads it back as
    // the current language and reloads every text. The caller then posts
    // WM_LANGUAGE_CHANGED to the main window. False when config.ini could not be written.
    bool SetLanguage(const QString& name);

    const std::filesystem::path& ConfigPath() const { return configPath_; }
    // The languages folder with its trailing "/".
    const QString& LanguagesFolder() const { return languagesFolder_; }

  private:
    void LoadConfig();
    void LoadTexts();

    std::filesystem::path configPath_;
    std::filesystem::path userConfig_;
    QString languagesFolder_;
    QString current_;
    std::vector<std::pair<QString, QString>> languages_;
    std::map<QString, TextMap> texts_;
};

}  // namespace sorvane::app
