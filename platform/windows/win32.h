// The Windows headers, included one way everywhere in this folder, and the
// conversions between Sorvane's UTF-8 and the system's UTF-16.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
// These need windows.h before them.
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace sorvane::win {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The handle a FileHandle keeps.
inline HANDLE HandleOf(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
inline intptr_t NativeOf(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

// "\\.\X" names a device (a drive, a volume) rather than a file.
bool IsDeviceName(std::wstring_view path);

// A path as CreateFileW takes it: devices as they are, files with the "\\?\"
// prefix once the path is long, so that the 260-character limit does not apply.
std::wstring Win32Path(const std::filesystem::path& path);

}  // namespace sorvane::win
