// Result codes shared by every layer. The numbers are the ones the engines, the
// stored files and the windows agree on; 0 is success.
#pragma once

#include <string>

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

// Maps an errno value to the matching result code. Unknown values map to 31
// (general failure) so a failure is never reported as success.
int ResultFromErrno(int errnoValue);

// The result code for the current errno.
int LastResult();

// A short English text for a result code, for logs and the command line.
std::string ResultText(int code);

}  // namespace sorvane
