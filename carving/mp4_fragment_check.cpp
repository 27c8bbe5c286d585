// MP4 and QuickTime (and M4A, 3GP): the top-level boxes must chain, size by
// size, to the file's end, and the movie box must parse. Its sample tables
// (stsz, stsc, stco/co64) place every sample; the samples of an H.264 track
// (avcC) are length-prefixed NAL units whose lengths must add up to the
// sample's size exactly, each with a header whose forbidden bit is clear and
// whose type and reference flag agree. Walked in the order they lie, the
// first sample that fails bounds the wrong byte: after the last length that
// checked out, before the one that did not. Other tracks' data says nothing,
// so a file without an H.264 track cannot be told past its media data's start.
#include <algorithm>
#include <optional>
#include <vector>

#include "carving/fragment_check.h"
#include "carving/fragment_check_reading.h"

namespace sorvane {

namespace {

using fragment_reading::Bytes;
using fragment_reading::U32Be;

constexpr uint32_t kMaxBoxes = 100000;
constexpr uint32_t kMaxTracks = 64;
constexpr size_t kMaxSamples = size_t{4} << 20;
constexpr uint32_t kMaxNalsPerSample = 100000;

std::optional<uint64_t> U64Be(FileByteSource& file, uint64_t at) {
    const std::optional<uint32_t> hi = U32Be(file, at), lo = U32Be(file, at + 4);
    if (!hi || !lo) return std::nullopt;
    return (uint64_t{*hi} << 32) | *lo;
}

bool PrintableType(uint32_t type) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const uint8_t c = static_cast<uint8_t>(type >> shift);
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
              c == 0xA9))
            return false;
    }
    return true;
}

constexpr uint32_t Fourcc(const char (&s)[5]) {
    return (uint32_t{static_cast<uint8_t>(s[0])} << 24) | (uint32_t{static_cast<uint8_t>(s[1])} << 16) |
           (uint32_t{static_cast<uint8_t>(s[2])} << 8) | static_cast<uint8_t>(s[3]);
}

struct Box {
    uint64_t at = 0, header = 8, end = 0;
    uint32_t type = 0;
};

// The box at `at` within [at, limit); none when its header does not fit or is not sane.
std::optional<Box> ReadBox(FileByteSource& file, uint64_t at, uint64_t limit) {
    if (at + 8 > limit) return std::nullopt;
    const std::optional<uint32_t> size = U32Be(file, at), type = U32Be(file, at + 4);
    if (!size || !type || !PrintableType(*type)) return std::nullopt;
    Box b;
    b.at = at;
    b.type = *type;
    if (*size == 1) {
        const std::optional<uint64_t> large = U64Be(file, at + 8);
        if (!large || *large < 16) return std::nullopt;
        b.header = 16;
        b.end = at + *large;
    } else if (*size == 0) {
        b.end = limit;  // to the end of what holds it
    } else {
        if (*size < 8) return std::nullopt;
        b.end = at + *size;
    }
    if (b.end > limit || b.end < at) return std::nullopt;
    return b;
}

// The first child of `parent` of type `type`.
std::optional<Box> Child(FileByteSource& file, const Box& parent, uint32_t type, uint64_t skip = 0) {
    uint64_t at = parent.at + parent.header + skip;
    for (uint32_t n = 0; n < kMaxBoxes && at < parent.end; ++n) {
        const std::optional<Box> b = ReadBox(file, at, parent.end);
        if (!b) return std::nullopt;
        if (b->type == type) return b;
        at = b->end;
    }
    return std::nullopt;
}

struct Sample {
    uint64_t offset = 0;
    uint32_t size = 0;
    uint8_t nalLengthBytes = 0;  // 0: not H.264, its bytes say nothing
};

// Appends the samples of one track; false when its tables are not sane.
bool TrackSamples(FileByteSource& file, const Box& trak, std::vector<Sample>& out) {
    const std::optional<Box> mdia = Child(file, trak, Fourcc("mdia"));
    const std::optional<Box> minf = mdia ? Child(file, *mdia, Fourcc("minf")) : std::nullopt;
    const std::optional<Box> stbl = minf ? Child(file, *minf, Fourcc("stbl")) : std::nullopt;
    if (!stbl) return true;  // a track with no samples of its own
    const std::optional<Box> stsd = Child(file, *stbl, Fourcc("stsd"));
    const std::optional<Box> stsz = Child(file, *stbl, Fourcc("stsz"));
    const std::optional<Box> stsc = Child(file, *stbl, Fourcc("stsc"));
    std::optional<Box> stco = Child(file, *stbl, Fourcc("stco"));
    const bool wide = !stco;
    if (!stco) stco = Child(file, *stbl, Fourcc("co64"));
    if (!stsd || !stsz || !stsc || !stco) return false;
    // The NAL length size, when the (first) sample description is H.264's.
    uint8_t nalLengthBytes = 0;
    if (const std::optional<Box> entry = ReadBox(file, stsd->at + stsd->header + 8, stsd->end);
        entry && (entry->type == Fourcc("avc1") || entry->type == Fourcc("avc3"))) {
        // avcC follows the 78 bytes of a visual sample entry.
        Box visual = *entry;
        const std::optional<Box> avcC = Child(file, visual, Fourcc("avcC"), 78);
        uint8_t b[5];
        if (avcC && Bytes(file, avcC->at + avcC->header, 5, b) && b[0] == 1) nalLengthBytes = (b[4] & 3) + 1;
        if (nalLengthBytes == 3) nalLengthBytes = 0;  // reserved
    }
    const uint64_t sizesAt = stsz->at + stsz->header;
    const std::optional<uint32_t> fixedSize = U32Be(file, sizesAt + 4), count = U32Be(file, sizesAt + 8);
    const std::optional<uint32_t> runs = U32Be(file, stsc->at + stsc->header + 4);
    const std::optional<uint32_t> chunks = U32Be(file, stco->at + stco->header + 4);
    if (!fixedSize || !count || !runs || !chunks) return false;
    // Samples of one size take no table: their bytes must still fit in the file.
    if (*fixedSize != 0 && uint64_t{*fixedSize} * *count > file.Length()) return false;
    if (*count > kMaxSamples - out.size() ||
        (*fixedSize == 0 && sizesAt + 12 + uint64_t{*count} * 4 > stsz->end) ||
        stsc->at + stsc->header + 8 + uint64_t{*runs} * 12 > stsc->end ||
        stco->at + stco->header + 8 + uint64_t{*chunks} * (wide ? 8 : 4) > stco->end)
        return false;
    uint32_t sample = 0;
    for (uint32_t run = 0; run < *runs; ++run) {
        const uint64_t runAt = stsc->at + stsc->header + 8 + uint64_t{run} * 12;
        const std::optional<uint32_t> first = U32Be(file, runAt), perChunk = U32Be(file, runAt + 4);
        const std::optional<uint32_t> next = run + 1 < *runs ? U32Be(file, runAt + 12) : chunks.value() + 1;
        if (!first || !perChunk || !next || *first == 0 || *next < *first || *next > *chunks + 1)
            return false;
        for (uint32_t chunk = *first; chunk < *next; ++chunk) {
            const uint64_t entryAt = stco->at + stco->header + 8 + uint64_t{chunk - 1} * (wide ? 8 : 4);
            std::optional<uint64_t> offset;
            if (wide)
                offset = U64Be(file, entryAt);
            else if (const std::optional<uint32_t> narrow = U32Be(file, entryAt))
                offset = *narrow;
            if (!offset) return false;
            for (uint32_t i = 0; i < *perChunk; ++i, ++sample) {
                if (sample >= *count) return false;
                uint32_t size = *fixedSize;
                if (size == 0) {
                    const std::optional<uint32_t> s = U32Be(file, sizesAt + 12 + uint64_t{sample} * 4);
                    if (!s) return false;
                    size = *s;
                }
                out.push_back({*offset, size, nalLengthBytes});
                *offset += size;
            }
        }
    }
    return sample == *count;
}

class Mp4Walk {
  public:
    explicit Mp4Walk(FileByteSource& file) : file_(file), length_(file.Length()) {}
    FragmentVerdict Run();

  private:
    // Checks the NAL units of one H.264 sample, moving `provenTo` past each
    // length that checked out; false with the end of the wrong one in `failEnd`.
    bool CheckSample(const Sample& s, uint64_t& provenTo, uint64_t& failEnd);

    FileByteSource& file_;
    uint64_t length_;
};

bool Mp4Walk::CheckSample(const Sample& s, uint64_t& provenTo, uint64_t& failEnd) {
    const uint64_t end = s.offset + s.size;
    uint64_t at = s.offset;
    for (uint32_t n = 0; at < end; ++n) {
        uint8_t b[5] = {};
        if (n >= kMaxNalsPerSample || at + s.nalLengthBytes + 1 > end ||
            !Bytes(file_, at, s.nalLengthBytes + 1u, b)) {
            failEnd = std::min(end, at + s.nalLengthBytes + 1);
            return false;
        }
        uint64_t length = 0;
        for (uint8_t i = 0; i < s.nalLengthBytes; ++i) length = (length << 8) | b[i];
        const uint8_t header = b[s.nalLengthBytes];
        const uint8_t type = header & 0x1F, refIdc = (header >> 5) & 3;
        // A picture's slices, parameter sets and delimiters; a clear
        // forbidden bit; a reference flag set where the type needs one and
        // clear where it may not be set.
        const bool saneType = type >= 1 && type <= 20 && !(type >= 16 && type <= 18);
        const bool mustRefer = type == 5 || type == 7 || type == 8;
        const bool mayNotRefer = type == 6 || type == 9 || type == 10 || type == 11 || type == 12;
        if (length == 0 || (header & 0x80) || !saneType || (mustRefer && refIdc == 0) ||
            (mayNotRefer && refIdc != 0) || at + s.nalLengthBytes + length > end) {
            failEnd = at + s.nalLengthBytes + 1;
            return false;
        }
        // The unit's own bytes are proven only by the next length meeting its end.
        provenTo = at + s.nalLengthBytes + 1;
        at += s.nalLengthBytes + length;
    }
    return true;
}

FragmentVerdict Mp4Walk::Run() {
    // The top-level boxes, chained to the end.
    std::optional<Box> moov;
    std::vector<Box> mdats;
    uint64_t at = 0, lastBoxData = 0;
    for (uint32_t n = 0; at < length_; ++n) {
        if (n >= kMaxBoxes) return FragmentVerdict::CannotTell(lastBoxData);
        const std::optional<Box> b = ReadBox(file_, at, length_);
        // The wrong byte lies after the start of the last box's data (unproven) and in this header.
        if (!b) return FragmentVerdict::InvalidAt(lastBoxData, std::min(length_, at + 16));
        if (n == 0 && b->type != Fourcc("ftyp") && b->type != Fourcc("moov") && b->type != Fourcc("mdat") &&
            b->type != Fourcc("wide") && b->type != Fourcc("free") && b->type != Fourcc("skip"))
            return FragmentVerdict::InvalidAt(0, 8);
        if (b->type == Fourcc("moov")) moov = b;
        if (b->type == Fourcc("mdat")) mdats.push_back(*b);
        lastBoxData = b->at + b->header;
        at = b->end;
    }
    if (!moov) return FragmentVerdict::InvalidAt(lastBoxData, length_);
    // The movie's tracks and where their samples lie.
    std::vector<Sample> samples;
    uint64_t trakAt = moov->at + moov->header;
    for (uint32_t n = 0; n < kMaxBoxes && trakAt < moov->end; ++n) {
        const std::optional<Box> b = ReadBox(file_, trakAt, moov->end);
        if (!b) return FragmentVerdict::InvalidAt(moov->at + moov->header, moov->end);
        if (b->type == Fourcc("trak") && n < kMaxTracks && !TrackSamples(file_, *b, samples))
            return FragmentVerdict::InvalidAt(moov->at + moov->header, moov->end);
        trakAt = b->end;
    }
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.offset < b.offset; });
    bool anyH264 = false;
    uint64_t provenTo = 0, previousEnd = 0;
    const uint64_t firstData = mdats.empty() ? length_ : mdats.front().at + mdats.front().header;
    provenTo = firstData;
    for (const Sample& s : samples) {
        // Every sample lies in media data, after the one before it.
        const bool inside = std::any_of(mdats.begin(), mdats.end(), [&](const Box& m) {
            return s.offset >= m.at + m.header && s.offset + s.size <= m.end;
        });
        if (!inside || s.offset < previousEnd)
            return FragmentVerdict::InvalidAt(moov->at + moov->header, moov->end);
        previousEnd = s.offset + s.size;
        if (s.nalLengthBytes == 0) continue;
        anyH264 = true;
        uint64_t failEnd = 0;
        if (!CheckSample(s, provenTo, failEnd))
            return FragmentVerdict::InvalidAt(provenTo, std::max(failEnd, provenTo + 1));
    }
    if (!anyH264 && !samples.empty()) return FragmentVerdict::CannotTell(firstData);
    return FragmentVerdict::Valid(length_);
}

}  // namespace

FragmentVerdict CheckMp4Fragments(FileByteSource& file) {
    FragmentVerdict v = Mp4Walk(file).Run();
    v.offset = std::min(v.offset, file.Length());
    v.end = std::min(v.end, file.Length());
    return v;
}

}  // namespace sorvane
