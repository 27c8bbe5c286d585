// A small owning handle on an open file or device, and the positioned I/O the
// layers above need. Sources are only ever opened read-only. The handle is the
// system's own: a descriptor on Linux, a HANDLE on Windows (a raw drive has no
// C-runtime descriptor there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace sorvane {

class FileHandle {
  public:
    // The value of a handle that is not open (-1 is also INVALID_HANDLE_VALUE).
    static constexpr intptr_t kInvalid = -1;

    FileHandle() = default;
    explicit FileHandle(intptr_t native) : native_(native) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle();

    bool IsOpen() const { return native_ != kInvalid; }
    intptr_t Native() const { return native_; }
    // Devices opened without the system's cache only accept reads of whole,
    // aligned sectors; with an alignment set, ReadAt reads through an aligned
    // buffer so callers may still ask for any range. 0 means no such rule.
    uint32_t ReadAlignment() const { return readAlignment_; }
    void SetReadAlignment(uint32_t bytes) { readAlignment_ = bytes; }
    // Closes the handle; closing a closed handle does nothing.
    void Close();

    // The byte position that Read and Write use and advance.
    uint64_t Position() const { return position_; }
    void Seek(uint64_t position) { position_ = position; }

    // Reads at most `length` bytes at Position(); `got` receives the count.
    // Returns 0, or the result code of the failed read (got may then be > 0).
    [[nodiscard]] int Read(void* buffer, size_t length, size_t& got);
    // Reads at an explicit offset without moving Position().
    [[nodiscard]] int ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const;
    // Writes all `length` bytes at Position(); returns 0 or the result code.
    [[nodiscard]] int Write(const void* buffer, size_t length);
    // Size in bytes: the device length for a block device, else the file size.
    [[nodiscard]] int Size(uint64_t& size) const;
    // Flushes written data to the medium.
    [[nodiscard]] int Sync() const;
    // Cuts or extends the file to `size` bytes. Returns 0 or the result code.
    [[nodiscard]] int Truncate(uint64_t size) const;

    const std::filesystem::path& Path() const { return path_; }
    void SetPath(std::filesystem::path path) { path_ = std::move(path); }
    // Tells the read-fault plan that this handle was just opened (it counts
    // the openings of the files it names).
    void NoteOpened() const;

  private:
    // Applies the read-fault plan to a read of `length` bytes at `offset`: true
    // when the read ends here with `rc` (a planned fault, or nothing left to
    // read); otherwise `length` is what may be read.
    bool FaultPlanEndsRead(uint64_t offset, size_t& length, int& rc) const;

    intptr_t native_ = kInvalid;
    uint32_t readAlignment_ = 0;
    uint64_t position_ = 0;
    std::filesystem::path path_;
};

// Opens an existing file or device for reading only. Returns 0 or the result code.
[[nodiscard]] int OpenReadOnly(const std::filesystem::path& path, FileHandle& handle);

enum class WriteMode {
    kCreateOrTruncate,  // a new file, or an existing one emptied
    kOpenOrCreate,      // keep existing contents
    kCreateNew,         // fail with 80 when the file exists
};
// Opens a file of Sorvane's own (a log, a recovered file, an image copy) for writing.
[[nodiscard]] int OpenForWriting(const std::filesystem::path& path, WriteMode mode, FileHandle& handle);

// What identifies a file whatever name it is reached by: its volume and its
// number on that volume. False when the file cannot be asked.
[[nodiscard]] bool FileIdentityOf(const std::filesystem::path& path, uint64_t& volume, uint64_t& file);
[[nodiscard]] bool FileIdentityOf(const FileHandle& handle, uint64_t& volume, uint64_t& file);

// Flushes a folder's entries (a rename or a new file in it) to the medium.
[[nodiscard]] int SyncFolder(const std::filesystem::path& folder);

}  // namespace sorvane
