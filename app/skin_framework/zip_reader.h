// A small reader for the plain zip archives the skin package is shipped in.
// It understands what a zip writer produces for a folder of files: stored and
// deflated entries, listed in the central directory. Every offset and length
// read from the archive is checked against the archive's size, so a damaged
// package yields an error, never a read outside the buffer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sorvane::skin {

class ZipReader {
  public:
    // Parses the central directory of `archive`, which the reader copies.
    // Returns false (and keeps no entries) when the archive is not a zip file
    // or its directory is damaged; Error() then says why.
    bool Open(std::vector<uint8_t> archive);

    // Entry names as stored, folders (names ending in "/") left out.
    std::vector<std::string> Names() const;
    bool Contains(const std::string& name) const;

    // The uncompressed bytes of one entry, looked up by name after turning "\"
    // into "/" and dropping a leading "./" or "/"; nullopt when the entry is
    // missing, uses a method other than stored or deflate, is encrypted, or its
    // data does not inflate to the size and CRC-32 the directory records.
    std::optional<std::vector<uint8_t>> Read(const std::string& name) const;

    const std::string& Error() const { return error_; }

    // Upper bound on one entry's uncompressed size: the package holds layouts
    // and small pictures, so anything larger is a damaged or hostile archive.
    static constexpr uint64_t kMaxEntrySize = 64ull << 20;

  private:
    struct Entry {
        uint16_t method = 0;
        uint16_t flags = 0;
        uint32_t crc = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        uint64_t localHeaderOffset = 0;
    };
    bool Fail(const char* why);

    std::vector<uint8_t> data_;
    std::map<std::string, Entry> entries_;
    std::string error_;
};

// "\" becomes "/", a leading "./" or "/" is dropped.
std::string NormaliseEntryName(std::string name);

}  // namespace sorvane::skin
