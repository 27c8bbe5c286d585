// The person's own settings: the chosen language, the window's size, the
// last folder files were recovered into and how carved files are named. They
// live in the user's configuration folder ($XDG_CONFIG_HOME/Sorvane/sorvane.ini),
// never beside the program, whose config.ini is the shipped default for
// everyone who runs it.
#pragma once

#include <QSize>
#include <QString>
#include <filesystem>

namespace sorvane::app {

// The settings file of the user running the program.
std::filesystem::path UserSettingsPath();

class UserSettings {
  public:
    // Settings kept in `file` (an INI file made when first written).
    explicit UserSettings(std::filesystem::path file = UserSettingsPath());

    // The language chosen in the menu, or empty when none was.
    QString Language() const;
    // False when the file could not be written.
    bool SetLanguage(const QString& name);

    // The main window's last size, or an empty size.
    QSize WindowSize() const;
    void SetWindowSize(const QSize& size);

    // The folder files were last recovered into, or empty.
    QString LastDestination() const;
    void SetLastDestination(const QString& folder);

    // True when files found by their contents keep numbered names instead of
    // names from their own dates and titles (the file-type page's tick).
    bool CarvedNumbers() const;
    void SetCarvedNumbers(bool on);

    // True when found pictures are shown as thumbnails rather than as the
    // list (the results page's switch); false until chosen.
    bool Thumbnails() const;
    void SetThumbnails(bool on);

  private:
    QString Get(const QString& key) const;
    bool Set(const QString& key, const QString& value);

    std::filesystem::path file_;
};

}  // namespace sorvane::app
