#include "platform/file_times.h"

#include "platform/file_time.h"
#include "platform/result_codes.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

FILETIME ToFileTime(int64_t unixSeconds) {
    uint64_t ticks = FileTimeFromUnix(unixSeconds);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace

int SetFileTimes(const std::filesystem::path& path, int64_t accessedUnix, int64_t writtenUnix) {
    HANDLE h = ::CreateFileW(win::Win32Path(path).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    FILETIME accessed = ToFileTime(accessedUnix), written = ToFileTime(writtenUnix);
    // A null time leaves that time as it is.
    BOOL ok = ::SetFileTime(h, nullptr, accessedUnix >= 0 ? &accessed : nullptr,
                            writtenUnix >= 0 ? &written : nullptr);
    int rc = ok ? kSuccess : static_cast<int>(::GetLastError());
    ::CloseHandle(h);
    return rc;
}

}  // namespace sorvane
