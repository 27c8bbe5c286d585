#include "platform/result_codes.h"

#include <cerrno>

namespace sorvane {

int ResultFromErrno(int e) {
    switch (e) {
        case 0: return kSuccess;
        case ENOENT: return kErrFileNotFound;
        case ENOTDIR: return kErrPathNotFound;
        case EACCES:
        case EPERM: return kErrAccessDenied;
        case EBADF: return kErrInvalidHandle;
        case ENOMEM: return kErrNotEnoughMemory;
        case EROFS: return kErrWriteProtect;
        case EIO: return kErrReadFault;
        case EBUSY: return kErrSharingViolation;
        case EOPNOTSUPP: return kErrNotSupported;
        case EEXIST: return kErrAlreadyExists;
        case EINVAL:
        case EOVERFLOW:
        case ESPIPE: return kErrInvalidParameter;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kErrDiskFull;
        case ENAMETOOLONG: return kErrFilenameTooLong;
        case ENOTEMPTY: return kErrDirNotEmpty;
        default: return 31;
    }
}

int LastResult() { return ResultFromErrno(errno); }

std::string ResultText(int code) {
    switch (code) {
        case kSuccess: return "success";
        case kErrFileNotFound: return "file not found";
        case kErrPathNotFound: return "path not found";
        case kErrAccessDenied: return "access denied (reading a raw disk needs root or membership of the disk group)";
        case kErrInvalidHandle: return "invalid handle";
        case kErrNotEnoughMemory: return "not enough memory";
        case kErrWriteProtect: return "the medium is write-protected";
        case kErrWriteFault: return "write fault";
        case kErrReadFault: return "read fault (the device did not return the data)";
        case kErrSharingViolation: return "the device is busy";
        case kErrHandleEof: return "end of file reached";
        case kErrNotSupported: return "not supported";
        case kErrFileExists: return "the file exists";
        case kErrInvalidParameter: return "invalid parameter or nothing found";
        case kErrDiskFull: return "not enough space on the destination";
        case kErrInsufficientBuffer: return "buffer too small";
        case kErrInvalidName: return "invalid name";
        case kErrDirNotEmpty: return "the folder is not empty";
        case kErrAlreadyExists: return "already exists";
        case kErrFilenameTooLong: return "name too long";
        case kErrNoMoreItems: return "no more items";
        case -9527: return "cancelled";
        default: return "error " + std::to_string(code);
    }
}

}  // namespace sorvane
