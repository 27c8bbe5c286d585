#include "carving/file_metadata.h"

namespace sorvane {
namespace {

// Seconds from 1904-01-01 (the movie clock's epoch) to 1970-01-01.
constexpr int64_t kMovieEpochToUnix = 2082844800;
// Boxes looked at on one level before giving up: a real movie has a handful.
constexpr int kMaxBoxes = 4096;

struct Box {
    uint64_t start = 0;    // offset of the box header
    uint64_t payload = 0;  // offset of its contents
    uint64_t end = 0;      // offset after it
    uint32_t type = 0;
};

// The box at `at`, inside [at, limit); false when its header does not fit or
// its size is impossible.
bool BoxAt(FileByteSource& file, uint64_t at, uint64_t limit, Box& box) {
    const ByteView h = file.View(at, 16);
    if (h.Size() < 8 || at + 8 > limit) return false;
    uint64_t size = h.U32Be(0);
    box.type = h.U32Be(4);
    box.start = at;
    box.payload = at + 8;
    if (size == 1) {
        if (h.Size() < 16) return false;
        size = h.U64Be(8);
        box.payload = at + 16;
    } else if (size == 0) {
        size = limit - at;  // the last box runs to the end of the file
    }
    if (size < box.payload - at || size > limit - at) return false;
    box.end = at + size;
    return true;
}

// The first box of `type` in [from, limit).
bool FindBox(FileByteSource& file, uint64_t from, uint64_t limit, uint32_t type, Box& found) {
    uint64_t at = from;
    for (int i = 0; i < kMaxBoxes && at < limit; ++i) {
        Box box;
        if (!BoxAt(file, at, limit, box)) return false;
        if (box.type == type) {
            found = box;
            return true;
        }
        at = box.end;
    }
    return false;
}

constexpr uint32_t FourCc(const char (&s)[5]) {
    return uint32_t{static_cast<uint8_t>(s[0])} << 24 | uint32_t{static_cast<uint8_t>(s[1])} << 16 |
           uint32_t{static_cast<uint8_t>(s[2])} << 8 | uint32_t{static_cast<uint8_t>(s[3])};
}

}  // namespace

bool ReadMovieMetadata(FileByteSource& file, FileMetadata& out) {
    const uint64_t length = file.Length();
    Box moov, mvhd;
    if (!FindBox(file, 0, length, FourCc("moov"), moov)) return false;
    if (!FindBox(file, moov.payload, moov.end, FourCc("mvhd"), mvhd)) return false;
    const ByteView v = file.View(mvhd.payload, 12);
    if (v.Size() < 8) return false;
    const uint8_t version = v.U8(0);
    uint64_t created = 0;
    if (version == 0)
        created = v.U32Be(4);
    else if (version == 1 && v.Size() >= 12)
        created = v.U64Be(4);
    else
        return false;
    // 0 is what a writer that knew no time leaves.
    if (created == 0 || created > static_cast<uint64_t>(INT64_MAX) - kMovieEpochToUnix) return false;
    return SetMetadataInstant(static_cast<int64_t>(created) - kMovieEpochToUnix, out);
}

}  // namespace sorvane
