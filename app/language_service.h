// The texts of every window, read from the language file of the current
// language, and the list of languages the program offers.
//
// config.ini (beside the program) names the default language under
// [DefaultLanguage] Default= and offers languages under [Languages] as
// name=menu text lines; the language file is Languages/<name>.ini, one
// section per window whose keys are control names or message identifiers.
// config.ini is shipped and only read: the language a person chooses is kept
// in their own settings (UserSettings) and wins over the shipped default.
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
    // Replaces the process-wide service by one over `programDir` (tests, tools),
    // keeping a chosen language in `userSettings` when given.
    static LanguageService& ReloadInstance(const std::filesystem::path& programDir,
                                           const std::filesystem::path& userSettings = {});
    // A service over a folder holding config.ini and Languages/. `userSettings`,
    // when given, is the person's settings file, which holds their choice of
    // language; without one a choice lasts for the run only.
    explicit LanguageService(std::filesystem::path programDir, std::filesystem::path userSettings = {});

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

    // Keeps `name` as the person's language in their settings, makes it the
    // current language and reloads every text. The caller then posts
    // WM_LANGUAGE_CHANGED to the main window. False when the choice could not be
    // kept for the next start (it is in use for this run all the same).
    bool SetLanguage(const QString& name);
    // Makes `name` the current language for this run only (screenshots).
    void UseLanguageForThisRun(const QString& name);
    // The locale the current language file names under [Language] Locale= ("de"),
    // for the texts of the system's own dialogs; empty when it names none.
    QString Locale();

    const std::filesystem::path& ConfigPath() const { return configPath_; }
    // The languages folder with its trailing "/".
    const QString& LanguagesFolder() const { return languagesFolder_; }

  private:
    void LoadConfig();
    void LoadTexts();

    std::filesystem::path configPath_;
    std::filesystem::path userSettings_;
    QString languagesFolder_;
    QString current_;
    std::vector<std::pair<QString, QString>> languages_;
    std::map<QString, TextMap> texts_;
};

// Gives the system's own dialogs (the folder chooser, the open and save
// dialogs) the words of the current language, from Qt's translations where
// they are installed. Called at start and after each change of language.
void InstallDialogTranslations();

}  // namespace sorvane::app
