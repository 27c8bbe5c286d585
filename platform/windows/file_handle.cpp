#include "platform/file_handle.h"

#include <malloc.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/block_device.h"
#include "platform/result_codes.h"
#include "platform/windows/unbuffered.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

// The most an unbuffered read asks of the device at once.
constexpr size_t kAlignedChunk = size_t{1} << 20;

struct AlignedFree {
    void operator()(void* p) const { _aligned_free(p); }
};

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// One positioned read; `got` is 0 at the end of the file or device.
int ReadOnce(HANDLE h, uint64_t offset, void* buffer, DWORD length, DWORD& got) {
    got = 0;
    OVERLAPPED o = At(offset);
    if (::ReadFile(h, buffer, length, &got, &o)) return kSuccess;
    DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) {
        got = 0;
        return kSuccess;
    }
    return static_cast<int>(error);
}

int ReadPlain(HANDLE h, uint64_t offset, unsigned char* out, size_t length, size_t& got) {
    while (got < length) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(length - got, kAlignedChunk * 16));
        DWORD n = 0;
        int rc = ReadOnce(h, offset + got, out + got, want, n);
        if (rc != kSuccess) return rc;
        if (n == 0) break;
        got += n;
    }
    return kSuccess;
}

// Reads whole aligned sectors into an aligned buffer and copies out the asked
// part; a device opened without the system's cache refuses anything else.
int ReadAligned(HANDLE h, uint32_t alignment, uint64_t offset, unsigned char* out, size_t length,
                size_t& got) {
    std::unique_ptr<void, AlignedFree> bounce(_aligned_malloc(kAlignedChunk + alignment, alignment));
    if (!bounce) return kErrNotEnoughMemory;
    auto* buffer = static_cast<unsigned char*>(bounce.get());
    while (got < length) {
        const uint64_t position = offset + got;
        const uint64_t alignedStart = position - position % alignment;
        const size_t lead = static_cast<size_t>(position - alignedStart);
        size_t want = std::min(length - got, kAlignedChunk - lead);
        size_t span = lead + want;
        span = (span + alignment - 1) / alignment * alignment;
        DWORD n = 0;
        int rc = ReadOnce(h, alignedStart, buffer, static_cast<DWORD>(span), n);
        if (rc != kSuccess) return rc;
        if (n <= lead) break;  // the end of the device
        size_t usable = std::min<size_t>(n - lead, want);
        std::copy(buffer + lead, buffer + lead + usable, out + got);
        got += usable;
        if (n < span) break;
    }
    return kSuccess;
}

int OpenWith(const std::filesystem::path& path, DWORD access, DWORD disposition, DWORD flags,
             FileHandle& handle) {
    handle.Close();
    const std::wstring name = win::Win32Path(path);
    HANDLE h = ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    handle = FileHandle(win::NativeOf(h));
    handle.SetPath(path);
    return kSuccess;
}

}  // namespace

void FileHandle::Close() {
    if (native_ != kInvalid) ::CloseHandle(win::HandleOf(native_));
    native_ = kInvalid;
    readAlignment_ = 0;
    position_ = 0;
}

int FileHandle::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const {
    got = 0;
    if (native_ == kInvalid) return kErrInvalidHandle;
    if (int rc = kSuccess; FaultPlanEndsRead(offset, length, rc)) return rc;
    auto* out = static_cast<unsigned char*>(buffer);
    if (readAlignment_ > 1)
        return ReadAligned(win::HandleOf(native_), readAlignment_, offset, out, length, got);
    return ReadPlain(win::HandleOf(native_), offset, out, length, got);
}

int FileHandle::Write(const void* buffer, size_t length) {
    if (native_ == kInvalid) return kErrInvalidHandle;
    const auto* in = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < length) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(length - done, kAlignedChunk * 16));
        DWORD n = 0;
        OVERLAPPED o = At(position_ + done);
        if (!::WriteFile(win::HandleOf(native_), in + done, want, &n, &o)) {
            position_ += done;
            return static_cast<int>(::GetLastError());
        }
        if (n == 0) {
            position_ += done;
            return kErrWriteFault;
        }
        done += n;
    }
    position_ += done;
    return kSuccess;
}

int FileHandle::Size(uint64_t& size) const {
    size = 0;
    if (native_ == kInvalid) return kErrInvalidHandle;
    if (IsBlockDevice(*this)) return QueryDeviceLength(*this, size);
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(win::HandleOf(native_), &length)) return static_cast<int>(::GetLastError());
    size = static_cast<uint64_t>(length.QuadPart);
    return kSuccess;
}

int FileHandle::Sync() const {
    if (native_ == kInvalid) return kErrInvalidHandle;
    return ::FlushFileBuffers(win::HandleOf(native_)) ? kSuccess : static_cast<int>(::GetLastError());
}

int FileHandle::Truncate(uint64_t size) const {
    if (native_ == kInvalid) return kErrInvalidHandle;
    HANDLE h = win::HandleOf(native_);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h))
        return static_cast<int>(::GetLastError());
    return kSuccess;
}

int OpenReadOnly(const std::filesystem::path& path, FileHandle& handle) {
    if (!win::IsDeviceName(path.wstring())) {
        int rc = OpenWith(path, GENERIC_READ, OPEN_EXISTING, 0, handle);
        if (rc == kSuccess) handle.NoteOpened();
        return rc;
    }
    // A drive is read around the system's cache: what the medium holds now,
    // in whole sectors from aligned buffers.
    int rc = OpenWith(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, handle);
    if (rc != kSuccess) return rc;
    handle.NoteOpened();
    uint32_t sectorSize = 512;
    if (QuerySectorSize(handle, sectorSize) != kSuccess || sectorSize == 0) sectorSize = 512;
    handle.SetReadAlignment(sectorSize);
    return kSuccess;
}

int OpenReadOnlyUnbuffered(const std::filesystem::path& path, uint32_t sectorSize, FileHandle& handle) {
    if (sectorSize == 0 || (sectorSize & (sectorSize - 1)) != 0) return kErrInvalidParameter;
    int rc = OpenWith(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, handle);
    if (rc == kSuccess) handle.SetReadAlignment(sectorSize);
    return rc;
}

int OpenForWriting(const std::filesystem::path& path, WriteMode mode, FileHandle& handle) {
    DWORD disposition = OPEN_ALWAYS;
    if (mode == WriteMode::kCreateOrTruncate) disposition = CREATE_ALWAYS;
    if (mode == WriteMode::kCreateNew) disposition = CREATE_NEW;
    return OpenWith(path, GENERIC_READ | GENERIC_WRITE, disposition, FILE_ATTRIBUTE_NORMAL, handle);
}

bool FileIdentityOf(const FileHandle& handle, uint64_t& volume, uint64_t& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle.IsOpen() || !::GetFileInformationByHandle(win::HandleOf(handle.Native()), &info))
        return false;
    volume = info.dwVolumeSerialNumber;
    file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

bool FileIdentityOf(const std::filesystem::path& path, uint64_t& volume, uint64_t& file) {
    const std::wstring name = win::Win32Path(path);
    HANDLE h = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FileHandle handle(win::NativeOf(h));
    return FileIdentityOf(handle, volume, file);
}

int SyncFolder(const std::filesystem::path& folder) {
    // A folder's entries are in the file system's journal once the call that
    // made them returns; what remains is to say whether the folder is there.
    const std::wstring name = win::Win32Path(folder);
    DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return static_cast<int>(::GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kSuccess : kErrPathNotFound;
}

}  // namespace sorvane
