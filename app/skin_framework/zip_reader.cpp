#include "app/skin_framework/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace sorvane::skin {
namespace {

constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr uint32_t kDirectoryEntrySignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kEndOfDirectorySize = 22;
constexpr size_t kDirectoryEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;

// Little-endian reads that refuse to cross the end of the buffer.
class Cursor {
  public:
    explicit Cursor(const std::vector<uint8_t>& data) : data_(data) {}
    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    uint16_t U16(uint64_t offset) const {
        return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }
    uint32_t U32(uint64_t offset) const {
        return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
    }
    uint64_t U64(uint64_t offset) const {
        return static_cast<uint64_t>(U32(offset)) | (static_cast<uint64_t>(U32(offset + 4)) << 32);
    }

  private:
    const std::vector<uint8_t>& data_;
};

}  // namespace

std::string NormaliseEntryName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    while (!name.empty() && name.front() == '/') name.erase(0, 1);
    return name;
}

bool ZipReader::Fail(const char* why) {
    entries_.clear();
    data_.clear();
    error_ = why;
    return false;
}

bool ZipReader::Open(std::vector<uint8_t> archive) {
    data_ = std::move(archive);
    entries_.clear();
    error_.clear();
    Cursor in(data_);
    if (data_.size() < kEndOfDirectorySize) return Fail("too short for a zip archive");

    // The end record sits in the last 22 bytes plus an archive comment of at most 65535 bytes.
    const uint64_t lowest =
        data_.size() > kEndOfDirectorySize + 0xFFFF ? data_.size() - kEndOfDirectorySize - 0xFFFF : 0;
    uint64_t end = data_.size() - kEndOfDirectorySize;
    bool found = false;
    for (;;) {
        if (in.U32(end) == kEndOfDirectorySignature) {
            found = true;
            break;
        }
        if (end == lowest) break;
        --end;
    }
    if (!found) return Fail("no end of central directory record");

    uint64_t count = in.U16(end + 10);
    uint64_t directoryOffset = in.U32(end + 16);
    // A Zip64 archive keeps the real figures in its own end record, found through a locator.
    if ((count == 0xFFFF || directoryOffset == 0xFFFFFFFF) && end >= 20 && in.U32(end - 20) == 0x07064b50) {
        const uint64_t zip64End = in.U64(end - 20 + 8);
        if (!in.Has(zip64End, 56) || in.U32(zip64End) != 0x06064b50) return Fail("damaged zip64 end record");
        count = in.U64(zip64End + 32);
        directoryOffset = in.U64(zip64End + 48);
    }

    uint64_t offset = directoryOffset;
    for (uint64_t i = 0; i < count; ++i) {
        if (!in.Has(offset, kDirectoryEntrySize) || in.U32(offset) != kDirectoryEntrySignature)
            return Fail("damaged central directory");
        Entry entry;
        entry.flags = in.U16(offset + 8);
        entry.method = in.U16(offset + 10);
        entry.crc = in.U32(offset + 16);
        entry.compressedSize = in.U32(offset + 20);
        entry.size = in.U32(offset + 24);
        const uint16_t nameLength = in.U16(offset + 28);
        const uint16_t extraLength = in.U16(offset + 30);
        const uint16_t commentLength = in.U16(offset + 32);
        entry.localHeaderOffset = in.U32(offset + 42);
        const uint64_t nameOffset = offset + kDirectoryEntrySize;
        if (!in.Has(nameOffset, uint64_t{nameLength} + extraLength + commentLength))
            return Fail("central directory entry runs past the archive");

        // Zip64 extra field: the 64-bit values appear only for the fields that hold all ones.
        uint64_t extra = nameOffset + nameLength;
        const uint64_t extraEnd = extra + extraLength;
        while (extra + 4 <= extraEnd) {
            const uint16_t id = in.U16(extra);
            const uint16_t size = in.U16(extra + 2);
            if (extra + 4 + size > extraEnd) break;
            if (id == 0x0001) {
                uint64_t field = extra + 4;
                const uint64_t fieldEnd = field + size;
                auto take = [&](uint64_t& value) {
                    if (field + 8 <= fieldEnd) {
                        value = in.U64(field);
                        field += 8;
                    }
                };
                if (entry.size == 0xFFFFFFFF) take(entry.size);
                if (entry.compressedSize == 0xFFFFFFFF) take(entry.compressedSize);
                if (entry.localHeaderOffset == 0xFFFFFFFF) take(entry.localHeaderOffset);
            }
            extra += 4 + size;
        }

        std::string name(reinterpret_cast<const char*>(data_.data() + nameOffset), nameLength);
        name = NormaliseEntryName(std::move(name));
        if (!name.empty() && name.back() != '/') entries_.emplace(std::move(name), entry);  // first one wins
        offset = nameOffset + nameLength + extraLength + commentLength;
    }
    return true;
}

std::vector<std::string> ZipReader::Names() const {
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const auto& [name, entry] : entries_) names.push_back(name);
    return names;
}

bool ZipReader::Contains(const std::string& name) const {
    return entries_.count(NormaliseEntryName(name)) != 0;
}

std::optional<std::vector<uint8_t>> ZipReader::Read(const std::string& name) const {
    const auto it = entries_.find(NormaliseEntryName(name));
    if (it == entries_.end()) return std::nullopt;
    const Entry& entry = it->second;
    if (entry.flags & kFlagEncrypted) return std::nullopt;
    if (entry.size > kMaxEntrySize) return std::nullopt;
    Cursor in(data_);
    if (!in.Has(entry.localHeaderOffset, kLocalHeaderSize) ||
        in.U32(entry.localHeaderOffset) != kLocalHeaderSignature)
        return std::nullopt;
    // The local header repeats name and extra field with lengths of its own.
    const uint64_t dataOffset = entry.localHeaderOffset + kLocalHeaderSize +
                                in.U16(entry.localHeaderOffset + 26) + in.U16(entry.localHeaderOffset + 28);
    if (!in.Has(dataOffset, entry.compressedSize)) return std::nullopt;
    const uint8_t* source = data_.data() + dataOffset;

    std::vector<uint8_t> out(static_cast<size_t>(entry.size));
    if (entry.method == kMethodStored) {
        if (entry.compressedSize != entry.size) return std::nullopt;
        if (entry.size) std::memcpy(out.data(), source, out.size());
    } else if (entry.method == kMethodDeflate) {
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
        // zlib counts in 32-bit units; both sizes are bounded by kMaxEntrySize and the archive.
        if (entry.compressedSize > 0xFFFFFFFFu) {
            inflateEnd(&stream);
            return std::nullopt;
        }
        stream.next_in = const_cast<Bytef*>(source);
        stream.avail_in = static_cast<uInt>(entry.compressedSize);
        uint8_t spare = 0;
        stream.next_out = out.empty() ? &spare : out.data();
        stream.avail_out = out.empty() ? 1 : static_cast<uInt>(out.size());
        const int result = inflate(&stream, Z_FINISH);
        const uint64_t produced = stream.total_out;
        inflateEnd(&stream);
        if (result != Z_STREAM_END || produced != entry.size) return std::nullopt;
    } else {
        return std::nullopt;
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data(), static_cast<uInt>(out.size()));
    if (static_cast<uint32_t>(crc) != entry.crc) return std::nullopt;
    return out;
}

}  // namespace sorvane::skin
