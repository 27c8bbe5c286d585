#include "platform/data_dirs.h"

#include <cstdlib>

#include "platform/windows/win32.h"

namespace sorvane {

std::filesystem::path SorvaneDataDir() {
    if (const wchar_t* dir = ::_wgetenv(L"SORVANE_DATA_DIR"); dir && *dir) return dir;
    PWSTR roaming = nullptr;
    std::filesystem::path base;
    if (::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &roaming) == S_OK && roaming)
        base = roaming;
    ::CoTaskMemFree(roaming);
    if (base.empty()) {
        const wchar_t* appData = ::_wgetenv(L"APPDATA");
        base = appData && *appData ? std::filesystem::path(appData) : std::filesystem::temp_directory_path();
    }
    return base / L"Sorvane";
}

std::filesystem::path ScanLogDir() { return SorvaneDataDir() / L"ScanLog"; }

std::filesystem::path ProgramDir() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::filesystem::current_path();
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
}

}  // namespace sorvane
