#include "app/user_settings.h"

#include <QSettings>
#include <QStandardPaths>

namespace sorvane::app {

std::filesystem::path UserSettingsPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(config.toStdString()) / "Sorvane" / "sorvane.ini";
}

UserSettings::UserSettings(std::filesystem::path file) : file_(std::move(file)) {}

QString UserSettings::Get(const QString& key) const {
    if (file_.empty()) return {};
    const QSettings settings(QString::fromStdString(file_.string()), QSettings::IniFormat);
    return settings.value(key).toString();
}

bool UserSettings::Set(const QString& key, const QString& value) {
    if (file_.empty()) return false;
    QSettings settings(QString::fromStdString(file_.string()), QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString UserSettings::Language() const { return Get(QStringLiteral("Language")); }

bool UserSettings::SetLanguage(const QString& name) { return Set(QStringLiteral("Language"), name); }

QSize UserSettings::WindowSize() const {
    const QStringList parts = Get(QStringLiteral("WindowSize")).split(u'x');
    if (parts.size() != 2) return {};
    bool wide = false, high = false;
    const QSize size(parts[0].toInt(&wide), parts[1].toInt(&high));
    return wide && high && size.width() > 0 && size.height() > 0 ? size : QSize();
}

void UserSettings::SetWindowSize(const QSize& size) {
    Set(QStringLiteral("WindowSize"), QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
}

QString UserSettings::LastDestination() const { return Get(QStringLiteral("LastDestination")); }

void UserSettings::SetLastDestination(const QString& folder) {
    Set(QStringLiteral("LastDestination"), folder);
}

bool UserSettings::CarvedNumbers() const { return Get(QStringLiteral("CarvedNames")) == u"number"; }

void UserSettings::SetCarvedNumbers(bool on) {
    Set(QStringLiteral("CarvedNames"), on ? QStringLiteral("number") : QStringLiteral("metadata"));
}

bool UserSettings::Thumbnails() const { return Get(QStringLiteral("FileView")) == u"thumbnails"; }

void UserSettings::SetThumbnails(bool on) {
    Set(QStringLiteral("FileView"), on ? QStringLiteral("thumbnails") : QStringLiteral("list"));
}

}  // namespace sorvane::app
