#include "app/startup.h"

#include <QFile>
#include <system_error>

#include "platform/data_dirs.h"
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
}

}  // namespace sorvane::app
