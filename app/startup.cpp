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
    for (const char* player : kMediaPlayers) TerminateProcessesOf(HelperProgramDir() / player);
    std::error_code error;
    std::filesystem::remove(ScanLogDir() / "tmp.avi", error);
    // A preview cut short (the program ended while it ran) may leave its picture
    // or the office suite's work folder; neither is wanted after the program.
    std::filesystem::remove(ScanLogDir() / "tmp.jpg", error);
    std::filesystem::remove(ScanLogDir() / "pdf-000001.png", error);
    std::filesystem::remove_all(ScanLogDir() / "office-convert", error);
}

std::filesystem::path HelperProgramDir() { return HelperProgramDir(ProgramDir()); }

std::filesystem::path HelperProgramDir(const std::filesystem::path& programDir) {
    const std::filesystem::path& beside = programDir;
    const std::filesystem::path installed = beside.parent_path() / "libexec" / "sorvane";
    std::error_code ec;
    for (const char* helper : {"tool", "Extract", "Player", "Player1"}) {
        if (std::filesystem::is_regular_file(beside / helper, ec)) return beside;
    }
    return std::filesystem::is_directory(installed, ec) ? installed : beside;
}

}  // namespace sorvane::app
