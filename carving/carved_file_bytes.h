// Random access to the bytes of a file being carved, by offset from its first
// byte, through a 64 KiB window over the job's disk. The structure-aware size
// finders read headers, tables and trailers through it instead of walking
// sector by sector. Reads never pass the end of the disk or the type's limit;
// a read that cannot be satisfied yields a short or empty view, never bytes
// from elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "carving/carve_job.h"
#include "carving/file_byte_source.h"
#include "device/byte_view.h"

namespace sorvane {

class CarvedFileBytes final : public FileByteSource {
  public:
    // The most bytes one View can return.
    static constexpr size_t kMaxView = 32768;

    // The file starts at the job's start sector; no offset at or past `limit`
    // bytes is ever read.
    CarvedFileBytes(CarveJob& job, uint64_t limit);

    // Bytes of the file from `offset` on, at most `length` (and kMaxView) of
    // them; shorter where the disk or the limit ends or a read fails. Valid
    // until the next call.
    ByteView View(uint64_t offset, size_t length) override;
    uint64_t Length() const override { return available_; }
    // True when all `length` bytes at `offset` exist (length <= kMaxView).
    bool Has(uint64_t offset, size_t length) { return View(offset, length).Size() == length; }

    uint8_t U8(uint64_t off) { return View(off, 1).U8(0); }
    uint16_t U16(uint64_t off) { return View(off, 2).U16(0); }
    uint32_t U32(uint64_t off) { return View(off, 4).U32(0); }
    uint64_t U64(uint64_t off) { return View(off, 8).U64(0); }
    uint16_t U16Be(uint64_t off) { return View(off, 2).U16Be(0); }
    uint32_t U24Be(uint64_t off) { return View(off, 3).U24Be(0); }
    uint32_t U32Be(uint64_t off) { return View(off, 4).U32Be(0); }
    uint64_t U64Be(uint64_t off) { return View(off, 8).U64Be(0); }
    bool Equals(uint64_t off, const void* bytes, size_t length) {
        return View(off, length).Equals(0, bytes, length);
    }

    // Offset of the first `pattern` (at most 64 bytes) that starts in
    // [from, to), or none.
    std::optional<uint64_t> Find(uint64_t from, uint64_t to, const void* pattern, size_t patternLength);

    // Bytes from the file's start to the end of the disk, capped at the limit.
    uint64_t Available() const { return available_; }
    // True once the progress callback asked to stop; every later view is empty.
    bool Cancelled() const { return cancelled_; }

  private:
    bool Load(uint64_t offset);

    CarveJob& job_;
    uint64_t available_ = 0;
    uint64_t windowStart_ = 0;
    size_t windowLength_ = 0;
    uint64_t furthestLoaded_ = 0;  // end of the furthest window read, for progress reports
    bool cancelled_ = false;
    uint8_t* window_ = nullptr;  // the job's window buffer
};

}  // namespace sorvane
