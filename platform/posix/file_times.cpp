#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/result_codes.h"

namespace sorvane {

int SetFileTimes(const std::filesystem::path& path, int64_t accessedUnix, int64_t writtenUnix) {
    struct timespec times[2];
    times[0].tv_sec = accessedUnix >= 0 ? static_cast<time_t>(accessedUnix) : 0;
    times[0].tv_nsec = accessedUnix >= 0 ? 0 : UTIME_OMIT;
    times[1].tv_sec = writtenUnix >= 0 ? static_cast<time_t>(writtenUnix) : 0;
    times[1].tv_nsec = writtenUnix >= 0 ? 0 : UTIME_OMIT;
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return ResultFromErrno(errno);
    return kSuccess;
}

}  // namespace sorvane
