#include "platform/read_ahead.h"

#include <fcntl.h>

namespace sorvane {

void AdviseSequential(const FileHandle& handle) {
    if (handle.IsOpen()) (void)posix_fadvise(static_cast<int>(handle.Native()), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool AdviseWillNeed(const FileHandle& handle, uint64_t offset, uint64_t length) {
    if (!handle.IsOpen() || length == 0) return false;
    return posix_fadvise(static_cast<int>(handle.Native()), static_cast<off_t>(offset),
                         static_cast<off_t>(length), POSIX_FADV_WILLNEED) == 0;
}

}  // namespace sorvane
