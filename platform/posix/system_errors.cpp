#include <cerrno>

#include "platform/result_codes.h"

namespace sorvane {

int LastResult() { return ResultFromErrno(errno); }

int ResultFromSystemError(int error) { return ResultFromErrno(error); }

std::string SystemErrorText(int code) { return "error " + std::to_string(code); }

std::string AccessDeniedText() {
    return "access denied (reading a raw disk needs root or membership of the disk group)";
}

}  // namespace sorvane
