#include "platform/instance_lock.h"

#include <string>
#include <system_error>

#include "platform/data_dirs.h"
#include "platform/windows/win32.h"

namespace sorvane {

InstanceLock::~InstanceLock() {
    if (native_ != -1) ::CloseHandle(win::HandleOf(native_));
}

bool InstanceLock::TryAcquire(const std::filesystem::path& file) {
    if (native_ != -1) return true;
    // A named mutex in the session: the system drops it when the process
    // ends, however it ends. Backslashes are not allowed after the prefix.
    std::wstring name = L"Local\\Sorvane-" + file.filename().wstring();
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) return false;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    native_ = win::NativeOf(mutex);
    return true;
}

std::filesystem::path RuntimeDir() { return SorvaneDataDir(); }

int TerminateProcessesOf(const std::filesystem::path& executable) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(executable, error);
    if (error) return 0;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int ended = 0;
    const DWORD me = ::GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == me) continue;
        HANDLE process =
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        wchar_t image[MAX_PATH * 4];
        DWORD size = static_cast<DWORD>(std::size(image));
        // Matched by the whole path of the executable, never by its name alone.
        if (::QueryFullProcessImageNameW(process, 0, image, &size)) {
            std::error_code e;
            if (std::filesystem::weakly_canonical(std::filesystem::path(image), e) == wanted && !e &&
                ::TerminateProcess(process, 1))
                ++ended;
        }
        ::CloseHandle(process);
    }
    ::CloseHandle(snapshot);
    return ended;
}

}  // namespace sorvane
