// Result codes shared by every layer. The numbers are the ones the engines, the
// stored files and the windows agree on, and on Windows they are the system's
// own error codes; 0 is success.
#pragma once

#include <string>
#include <system_error>

namespace sorvane {

inline constexpr int kSuccess = 0;
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrInvalidHandle = 6;
inline constexpr int kErrNotEnoughMemory = 8;
inline constexpr int kErrWriteProtect = 19;
inline constexpr int kErrWriteFault = 29;
inline constexpr int kErrReadFault = 30;
inline constexpr int kErrSharingViolation = 32;
inline constexpr int kErrHandleEof = 38;
inline constexpr int kErrNotSupported = 50;
inline constexpr int kErrFileExists = 80;
inline constexpr int kErrInvalidParameter = 87;
inline constexpr int kErrDiskFull = 112;
inline constexpr int kErrInsufficientBuffer = 122;
inline constexpr int kErrInvalidName = 123;
inline constexpr int kErrDirNotEmpty = 145;
inline constexpr int kErrAlreadyExists = 183;
inline constexpr int kErrFilenameTooLong = 206;
inline constexpr int kErrNoMoreItems = 259;
// The file's own records are impossible (a size its clusters cannot hold).
inline constexpr int kErrFileCorrupt = 1392;

// Maps an errno value to the matching result code. Unknown values map to 31
// (general failure) so a failure is never reported as success.
int ResultFromErrno(int errnoValue);

// The result code of the system call that failed last (errno on Linux,
// GetLastError on Windows).
int LastResult();
// The result code of a system error number (an errno value on Linux, a
// Windows error code on Windows).
int ResultFromSystemError(int error);
// The result code of a std::error_code, whichever category it is in; 0 only
// when no error is set (an error whose number means nothing here gives 31).
int ResultFromErrorCode(const std::error_code& error);

// A short English text for a result code, for logs and the command line.
std::string ResultText(int code);
// The system's own text for a code the table above does not name, and the
// text for access denied (what rights reading a raw disk takes differs).
std::string SystemErrorText(int code);
std::string AccessDeniedText();

}  // namespace sorvane
