#include "app/startup.h"

#include <QFile>
#include <system_error>

#include "platform/data_dirs.h"
#include "platform/file_owner.h"
#include "platform/instance_lock.h"

namespace sorvane::app {

std::filesystem::path FirstUseMarkerPath() { return SorvaneDataDir() / "Used"; }

bool EnsureFirstUseMarker() {
    const std::filesystem::path marker = FirstUseMarkerPath();
    std::error_code error;
    if (std::filesystem::exists(marker, error)) return true;
    std::filesystem::create_directories(marker.parent_path(), error);
    QFile file(QString::fromStdString(marker.string()));
    // NewOnly: a marker made meanwhile by another process stays as it is.
    file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    return std::filesystem::exists(marker, error);
}

void RunShutdownSteps() {
    for (const char* player : kMediaPlayers) TerminateProcessesOf(ProgramDir() / player);
    std::error_code error;
    std::filesystem::remove(ScanLogDir() / "tmp.avi", error);
    // A preview cut short (the program ended while it ran) may leave its picture
    // or the office suite's work folder; neither is wanted after the program.
    std::filesystem::remove(ScanLogDir() / "tmp.jpg", error);
    std::filesystem::remove(ScanLogDir() / "pdf-000001.png", error);
    std::filesystem::remove_all(ScanLogDir() / "office-convert", error);
    // After a restart with rights the scan logs were written as root: the data folder stays the user's.
    static_cast<void>(GiveTreeToInvokingUser(SorvaneDataDir()));
}

}  // namespace sorvane::app
