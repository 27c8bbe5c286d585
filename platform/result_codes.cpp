#include "platform/result_codes.h"

#include <cerrno>

namespace sorvane {

int ResultFromErrno(int e) {
    switch (e) {
        case 0:
            return kSuccess;
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EACCES:
        case EPERM:
            return kErrAccessDenied;
        case EBADF:
            return kErrInvalidHandle;
        case ENOMEM:
            return kErrNotEnoughMemory;
        case EROFS:
            return kErrWriteProtect;
        case EIO:
            return kErrReadFault;
        case EBUSY:
            return kErrSharingViolation;
        case EOPNOTSUPP:
            return kErrNotSupported;
        case EEXIST:
            return kErrAlreadyExists;
        case EINVAL:
        case EOVERFLOW:
        case ESPIPE:
            return kErrInvalidParameter;
#ifdef EDQUOT
        case EDQUOT:
#endif
        case ENOSPC:
        case EFBIG:
            return kErrDiskFull;
        case ENAMETOOLONG:
            return kErrFilenameTooLong;
        case ENOTEMPTY:
            return kErrDirNotEmpty;
        default:
            return 31;
    }
}

int ResultFromErrorCode(const std::error_code& error) {
    if (!error) return kSuccess;
    int rc = 31;
    if (error.category() == std::system_category())
        rc = ResultFromSystemError(error.value());
    else if (error.category() == std::generic_category())
        rc = ResultFromErrno(error.value());
    // A failure is never reported as success.
    return rc == kSuccess ? 31 : rc;
}

std::string ResultText(int code) {
    switch (code) {
        case kSuccess:
            return "success";
        case kErrFileNotFound:
            return "file not found";
        case kErrPathNotFound:
            return "path not found";
        case kErrAccessDenied:
            return AccessDeniedText();
        case kErrInvalidHandle:
            return "invalid handle";
        case kErrNotEnoughMemory:
            return "not enough memory";
        case kErrWriteProtect:
            return "the medium is write-protected";
        case kErrWriteFault:
            return "write fault";
        case kErrReadFault:
            return "read fault (the device did not return the data)";
        case kErrSharingViolation:
            return "the device is busy";
        case kErrHandleEof:
            return "end of file reached";
        case kErrNotSupported:
            return "not supported";
        case kErrFileExists:
            return "the file exists";
        case kErrInvalidParameter:
            return "invalid parameter or nothing found";
        case kErrDiskFull:
            return "not enough space on the destination";
        case kErrInsufficientBuffer:
            return "buffer too small";
        case kErrInvalidName:
            return "invalid name";
        case kErrDirNotEmpty:
            return "the folder is not empty";
        case kErrAlreadyExists:
            return "already exists";
        case kErrFilenameTooLong:
            return "name too long";
        case kErrNoMoreItems:
            return "no more items";
        case kErrFileCorrupt:
            return "its entry on the disk is damaged (its size does not fit the space it names)";
        case -9527:
            return "cancelled";
        default:
            return SystemErrorText(code);
    }
}

}  // namespace sorvane
