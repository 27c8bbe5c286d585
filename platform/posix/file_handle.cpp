#include "platform/file_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/result_codes.h"

namespace sorvane {
namespace {

int FdOf(intptr_t native) { return static_cast<int>(native); }

}  // namespace

void FileHandle::Close() {
    if (native_ != kInvalid) ::close(static_cast<int>(native_));
    native_ = kInvalid;
    readAlignment_ = 0;
    position_ = 0;
}

int FileHandle::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const {
    got = 0;
    if (native_ == kInvalid) return kErrInvalidHandle;
    const int fd = FdOf(native_);
    if (int rc = kSuccess; FaultPlanEndsRead(offset, length, rc)) return rc;
    auto* out = static_cast<unsigned char*>(buffer);
    while (got < length) {
        ssize_t n = ::pread(fd, out + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastResult();
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return kSuccess;
}

int FileHandle::Write(const void* buffer, size_t length) {
    if (native_ == kInvalid) return kErrInvalidHandle;
    const int fd = FdOf(native_);
    const auto* in = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd, in + done, length - done, static_cast<off_t>(position_ + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            position_ += done;
            return LastResult();
        }
        if (n == 0) {
            position_ += done;
            return kErrWriteFault;
        }
        done += static_cast<size_t>(n);
    }
    position_ += done;
    return kSuccess;
}

int FileHandle::Size(uint64_t& size) const {
    size = 0;
    if (native_ == kInvalid) return kErrInvalidHandle;
    const int fd = FdOf(native_);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return LastResult();
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return LastResult();
        size = bytes;
        return kSuccess;
    }
    size = static_cast<uint64_t>(st.st_size);
    return kSuccess;
}

int FileHandle::Sync() const {
    if (native_ == kInvalid) return kErrInvalidHandle;
    const int fd = FdOf(native_);
    return ::fsync(fd) == 0 ? kSuccess : LastResult();
}

int FileHandle::Truncate(uint64_t size) const {
    if (native_ == kInvalid) return kErrInvalidHandle;
    const int fd = FdOf(native_);
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? kSuccess : LastResult();
}

int OpenReadOnly(const std::filesystem::path& path, FileHandle& handle) {
    handle.Close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return LastResult();
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kErrAccessDenied;
    }
    handle = FileHandle(fd);
    handle.SetPath(path);
    handle.NoteOpened();
    return kSuccess;
}

int OpenForWriting(const std::filesystem::path& path, WriteMode mode, FileHandle& handle) {
    handle.Close();
    int flags = O_RDWR | O_CLOEXEC | O_CREAT;
    if (mode == WriteMode::kCreateOrTruncate) flags |= O_TRUNC;
    if (mode == WriteMode::kCreateNew) flags |= O_EXCL;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return errno == EEXIST && mode == WriteMode::kCreateNew ? kErrFileExists : LastResult();
    handle = FileHandle(fd);
    handle.SetPath(path);
    return kSuccess;
}

bool FileIdentityOf(const std::filesystem::path& path, uint64_t& volume, uint64_t& file) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    volume = static_cast<uint64_t>(st.st_dev);
    file = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool FileIdentityOf(const FileHandle& handle, uint64_t& volume, uint64_t& file) {
    struct stat st {};
    if (!handle.IsOpen() || ::fstat(FdOf(handle.Native()), &st) != 0) return false;
    volume = static_cast<uint64_t>(st.st_dev);
    file = static_cast<uint64_t>(st.st_ino);
    return true;
}

int SyncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastResult();
    int rc = ::fsync(fd) == 0 ? kSuccess : LastResult();
    ::close(fd);
    return rc;
}

}  // namespace sorvane
