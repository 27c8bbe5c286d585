#include "platform/volume_registry.h"

#include "platform/file_handle.h"
#include "platform/result_codes.h"
#include "platform/windows/device_control.h"
#include "platform/windows/win32.h"

namespace sorvane {

void FlushVolume(uint32_t key) {
    auto info = VolumeRegistry::Instance().Get(key);
    if (!info || info->node.empty()) return;
    // Flushing a volume needs write access to it (an administrator); without
    // it the raw reads still work, on what the system has written so far.
    HANDLE h = ::CreateFileW(info->node.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    (void)::FlushFileBuffers(h);
    ::CloseHandle(h);
}

int GetPathSpace(const std::filesystem::path& path, uint64_t& totalBytes, uint64_t& freeBytes) {
    totalBytes = freeBytes = 0;
    ULARGE_INTEGER available{}, total{}, allFree{};
    if (!::GetDiskFreeSpaceExW(win::Win32Path(path).c_str(), &available, &total, &allFree))
        return static_cast<int>(::GetLastError());
    totalBytes = total.QuadPart;
    freeBytes = available.QuadPart;
    return kSuccess;
}

int GetPathFreeBytes(const std::filesystem::path& path, uint64_t& bytes) {
    uint64_t total = 0;
    return GetPathSpace(path, total, bytes);
}

int GetPathDeviceNumber(const std::filesystem::path& path, uint64_t& device) {
    // The serial number of the volume holding the path.
    uint64_t file = 0;
    if (!FileIdentityOf(path, device, file)) return static_cast<int>(::GetLastError());
    return kSuccess;
}

int GetNodeDeviceNumber(const std::filesystem::path& node, uint64_t& device) {
    const std::wstring text = node.wstring();
    if (!win::IsDeviceName(text) && text.rfind(L"\\\\?\\Volume{", 0) != 0)
        return GetPathDeviceNumber(node, device);
    // A volume ("\\.\E:", "\\?\Volume{...}") stands for the serial number of
    // the file system on it, as files on it report.
    std::wstring root = win::IsDeviceName(text) ? text.substr(4) : text;
    if (root.back() != L'\\') root += L'\\';
    VolumeFacts facts;
    int rc = CurrentDeviceControl().VolumeInformation(root, facts);
    if (rc != kSuccess) return rc;
    device = facts.serial;
    return kSuccess;
}

uint64_t MakeDeviceNumber(uint32_t major, uint32_t minor) { return (uint64_t{major} << 32) | minor; }

void SplitDeviceNumber(uint64_t device, uint32_t& major, uint32_t& minor) {
    major = static_cast<uint32_t>(device >> 32);
    minor = static_cast<uint32_t>(device);
}

}  // namespace sorvane
