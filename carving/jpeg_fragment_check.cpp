// JPEG: the marker segments up to each scan are walked by their lengths and
// the tables they define are checked; a sequential Huffman scan is then
// decoded far enough to prove it (no inverse transform): every code must be
// in its table, every block's coefficients must fit in 64 places and, once
// dequantised, in the range 8-bit samples give, each restart interval must
// hold exactly its count of MCUs and end in the next restart marker modulo 8,
// and the scan must end with its last MCU. A cluster of other bytes in the
// coded data fails one of these mostly within a few hundred bytes. Huffman
// codes fall back into step by themselves, so a cluster of another picture's
// data can decode for a while (and a sibling's can even pass its restart
// markers): the wrong byte is only known to lie between the scan's start and
// the place decoding failed. Progressive, lossless and arithmetic-coded scans
// are only walked for their markers.
#include <array>
#include <optional>

#include "carving/fragment_check.h"
#include "carving/fragment_check_reading.h"

namespace sorvane {

namespace {

constexpr uint32_t kMaxSegments = 100000;
constexpr uint32_t kMaxScans = 1000;
constexpr size_t kWindow = 65536;
using fragment_reading::ByteCursor;

// A Huffman table in the canonical form its segment defines it by.
struct HuffmanTable {
    bool defined = false;
    std::array<int32_t, 17> maxCode{};  // largest code of each length, -1 when none
    std::array<int32_t, 17> firstIndex{};
    std::array<int32_t, 17> firstCode{};
    std::array<uint8_t, 256> symbols{};
};

struct Component {
    uint8_t id = 0;
    uint8_t h = 1, v = 1;
    uint8_t quantTable = 0;
    uint32_t blocksWide = 0, blocksHigh = 0;  // of the component alone, for non-interleaved scans
};

struct Frame {
    bool seen = false;
    bool decodable = false;  // sequential, Huffman-coded, with a known height
    uint8_t precision = 8;
    uint32_t width = 0, height = 0;
    uint8_t hMax = 1, vMax = 1;
    std::vector<Component> components;
};

struct QuantTable {
    bool defined = false;
    std::array<uint16_t, 64> values{};
};

enum class Fail { kNone, kWrong, kShort, kUnread };

// The value a category and its extra bits stand for.
int32_t Extend(uint32_t extra, uint32_t category) {
    if (category == 0) return 0;
    return extra < (1u << (category - 1))
               ? static_cast<int32_t>(extra) - static_cast<int32_t>((1u << category) - 1)
               : static_cast<int32_t>(extra);
}

// Bits of the entropy-coded data, one byte fetched at a time so that a
// marker is met only when a bit is really needed past it.
class BitReader {
  public:
    explicit BitReader(ByteCursor& cursor) : cursor_(cursor) {}

    Fail Bit(uint32_t& bit) {
        if (bitsLeft_ == 0) {
            const std::optional<uint8_t> b = cursor_.Next();
            if (!b) return cursor_.Pos() >= end_ ? Fail::kShort : Fail::kUnread;
            lastByteAt_ = cursor_.Pos() - 1;
            if (*b == 0xFF) {
                const std::optional<uint8_t> stuffed = cursor_.Peek();
                if (!stuffed) return Fail::kShort;
                // Coded data holds 0xFF only as 0xFF 0x00; anything else is a
                // marker, and the coded data has ended before this block did.
                if (*stuffed != 0x00) return Fail::kShort;
                cursor_.Next();
            }
            byte_ = *b;
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        bit = (byte_ >> bitsLeft_) & 1u;
        return Fail::kNone;
    }
    Fail Bits(uint32_t n, uint32_t& value) {
        value = 0;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t bit = 0;
            if (const Fail f = Bit(bit); f != Fail::kNone) return f;
            value = (value << 1) | bit;
        }
        return Fail::kNone;
    }
    Fail Decode(const HuffmanTable& table, uint8_t& symbol) {
        int32_t code = 0;
        for (int length = 1; length <= 16; ++length) {
            uint32_t bit = 0;
            if (const Fail f = Bit(bit); f != Fail::kNone) return f;
            code = (code << 1) | static_cast<int32_t>(bit);
            if (code <= table.maxCode[static_cast<size_t>(length)]) {
                const int32_t index = table.firstIndex[static_cast<size_t>(length)] + code -
                                      table.firstCode[static_cast<size_t>(length)];
                symbol = table.symbols[static_cast<size_t>(index)];
                return Fail::kNone;
            }
        }
        return Fail::kWrong;  // a code no table holds
    }
    // Drops the bits left of the byte being read, as at a restart marker.
    void Align() { bitsLeft_ = 0; }
    void SetEnd(uint64_t end) { end_ = end; }
    // The byte the last bit came from.
    uint64_t LastByteAt() const { return lastByteAt_; }

  private:
    ByteCursor& cursor_;
    uint8_t byte_ = 0;
    uint32_t bitsLeft_ = 0;
    uint64_t lastByteAt_ = 0;
    uint64_t end_ = 0;
};

class JpegWalk {
  public:
    explicit JpegWalk(FileByteSource& file) : cursor_(file), length_(file.Length()) {}

    FragmentVerdict Run();

  private:
    // A failure whose wrong byte lies before `before`; every byte before
    // provenTo_ checked out.
    FragmentVerdict Wrong(uint64_t before) const {
        return FragmentVerdict::InvalidAt(provenTo_, std::max(before, provenTo_ + 1));
    }
    bool ReadTables(uint8_t marker, uint64_t at, uint16_t size);
    bool ReadFrame(uint8_t marker, uint64_t at, uint16_t size);
    // Decodes a scan whose header ends at the cursor; kNone when it
    // checked out to the marker that ends it.
    Fail DecodeScan(const std::vector<const Component*>& comps, const std::vector<uint8_t>& dcTables,
                    const std::vector<uint8_t>& acTables);
    // Decodes one block; `dcPredictor` is the component's last DC value.
    // A coefficient that no picture's samples could give, once dequantised,
    // is wrong: the transform of 8-bit samples stays within ±1024.
    Fail DecodeBlock(BitReader& bits, const HuffmanTable& dc, const HuffmanTable& ac, const QuantTable* quant,
                     int32_t& dcPredictor);
    // Walks coded data for its markers only: restart markers in order, 0xFF
    // stuffed. Stops at the marker after the data; false on a wrong one.
    bool SkipScan(uint64_t& failAt);

    ByteCursor cursor_;
    uint64_t length_;
    uint64_t provenTo_ = 0;
    uint64_t failAt_ = 0;
    Frame frame_;
    std::array<HuffmanTable, 4> dc_{}, ac_{};
    std::array<QuantTable, 4> quant_{};
    uint32_t restartInterval_ = 0;
};

bool BuildTable(const std::array<uint8_t, 16>& counts, const uint8_t* symbols, size_t n, HuffmanTable& t) {
    t = {};
    int32_t code = 0;
    int32_t index = 0;
    for (size_t length = 1; length <= 16; ++length) {
        const int32_t count = counts[length - 1];
        t.firstCode[length] = code;
        t.firstIndex[length] = index;
        t.maxCode[length] = count ? code + count - 1 : -1;
        code += count;
        index += count;
        // More codes of a length than its bits can hold, the all-ones code
        // (which no table may use) counted as taken.
        if (count && code >= (int32_t{1} << length)) return false;
        code <<= 1;
    }
    if (static_cast<size_t>(index) != n) return false;
    for (size_t i = 0; i < n; ++i) t.symbols[i] = symbols[i];
    t.defined = true;
    return true;
}

bool JpegWalk::ReadTables(uint8_t marker, uint64_t at, uint16_t size) {
    const uint64_t end = at + 2 + size;
    cursor_.Seek(at + 4);
    while (cursor_.Pos() < end) {
        const std::optional<uint8_t> head = cursor_.Next();
        if (!head) return false;
        if (marker == 0xDB) {  // quantisation tables: 64 values of 8 or 16 bits, in zigzag order
            const bool wide = (*head >> 4) != 0;
            const uint8_t slot = *head & 15;
            if ((*head >> 4) > 1 || slot > 3 || cursor_.Pos() + (wide ? 128 : 64) > end) return false;
            for (uint16_t& q : quant_[slot].values) {
                const std::optional<uint8_t> hi = wide ? cursor_.Next() : std::optional<uint8_t>(0);
                const std::optional<uint8_t> lo = cursor_.Next();
                if (!hi || !lo) return false;
                q = static_cast<uint16_t>((*hi << 8) | *lo);
                if (q == 0) return false;
            }
            quant_[slot].defined = true;
            continue;
        }
        const uint8_t kind = *head >> 4, slot = *head & 15;
        if (kind > 1 || slot > 3) return false;
        std::array<uint8_t, 16> counts{};
        size_t n = 0;
        for (uint8_t& c : counts) {
            const std::optional<uint8_t> b = cursor_.Next();
            if (!b) return false;
            c = *b;
            n += *b;
        }
        if (n > 256 || cursor_.Pos() + n > end) return false;
        std::array<uint8_t, 256> symbols{};
        for (size_t i = 0; i < n; ++i) {
            const std::optional<uint8_t> b = cursor_.Next();
            if (!b) return false;
            symbols[i] = *b;
        }
        if (!BuildTable(counts, symbols.data(), n, kind == 0 ? dc_[slot] : ac_[slot])) return false;
    }
    return cursor_.Pos() == end;
}

bool JpegWalk::ReadFrame(uint8_t marker, uint64_t at, uint16_t size) {
    if (frame_.seen) return false;  // one frame per picture
    cursor_.Seek(at + 4);
    const std::optional<uint8_t> precision = cursor_.Next();
    const std::optional<uint16_t> height = cursor_.U16Be(), width = cursor_.U16Be();
    const std::optional<uint8_t> count = cursor_.Next();
    if (!precision || !height || !width || !count) return false;
    if (*count == 0 || *count > 4 || size != 8 + 3 * uint32_t{*count} || *width == 0) return false;
    frame_.seen = true;
    frame_.precision = *precision;
    frame_.width = *width;
    frame_.height = *height;
    for (uint8_t i = 0; i < *count; ++i) {
        const std::optional<uint8_t> id = cursor_.Next(), sampling = cursor_.Next(), table = cursor_.Next();
        if (!id || !sampling || !table) return false;
        Component c;
        c.id = *id;
        c.h = *sampling >> 4;
        c.v = *sampling & 15;
        c.quantTable = *table;
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || *table > 3) return false;
        for (const Component& other : frame_.components)
            if (other.id == c.id) return false;
        frame_.hMax = std::max(frame_.hMax, c.h);
        frame_.vMax = std::max(frame_.vMax, c.v);
        frame_.components.push_back(c);
    }
    for (Component& c : frame_.components) {
        const uint32_t w = (frame_.width * c.h + frame_.hMax - 1) / frame_.hMax;
        const uint32_t h = (frame_.height * c.v + frame_.vMax - 1) / frame_.vMax;
        c.blocksWide = (w + 7) / 8;
        c.blocksHigh = (h + 7) / 8;
    }
    // Baseline and extended sequential with Huffman codes; a height of 0
    // is given later (in a DNL segment) and leaves the count of MCUs unknown.
    const bool sequential = marker == 0xC0 || marker == 0xC1;
    if (sequential && *precision != 8 && *precision != 12) return false;
    frame_.decodable = sequential && frame_.height != 0;
    return true;
}

Fail JpegWalk::DecodeBlock(BitReader& bits, const HuffmanTable& dc, const HuffmanTable& ac,
                           const QuantTable* quant, int32_t& dcPredictor) {
    const uint32_t maxDc = frame_.precision == 8 ? 11 : 15, maxAc = frame_.precision == 8 ? 10 : 14;
    // Rounding to the quantiser's step may overshoot by up to a step; a
    // little more is left for encoders whose transforms are approximate.
    const int64_t range = frame_.precision == 8 ? 1024 : 16384;
    const auto outOfRange = [&](int64_t value, uint32_t k) {
        if (!quant) return false;
        const int64_t step = quant->values[k];
        return (value < 0 ? -value : value) * step > range + step + range / 64;
    };
    uint8_t s = 0;
    uint32_t extra = 0;
    if (const Fail f = bits.Decode(dc, s); f != Fail::kNone) return f;
    if (s > maxDc) return Fail::kWrong;
    if (const Fail f = bits.Bits(s, extra); f != Fail::kNone) return f;
    dcPredictor += Extend(extra, s);
    if (outOfRange(dcPredictor, 0)) return Fail::kWrong;
    for (uint32_t k = 1; k < 64;) {
        if (const Fail f = bits.Decode(ac, s); f != Fail::kNone) return f;
        const uint32_t run = s >> 4, category = s & 15;
        if (category == 0) {
            if (run == 0) break;                 // end of block
            if (run != 15) return Fail::kWrong;  // no such symbol in a sequential scan
            k += 16;
            if (k > 63) return Fail::kWrong;  // sixteen zeros with no coefficient after them
            continue;
        }
        k += run;
        if (k > 63 || category > maxAc) return Fail::kWrong;
        if (const Fail f = bits.Bits(category, extra); f != Fail::kNone) return f;
        if (outOfRange(Extend(extra, category), k)) return Fail::kWrong;
        ++k;
    }
    return Fail::kNone;
}

Fail JpegWalk::DecodeScan(const std::vector<const Component*>& comps, const std::vector<uint8_t>& dcTables,
                          const std::vector<uint8_t>& acTables) {
    for (size_t i = 0; i < comps.size(); ++i)
        if (!dc_[dcTables[i]].defined || !ac_[acTables[i]].defined) return Fail::kWrong;
    uint64_t mcus = 0;
    if (comps.size() == 1) {
        mcus = uint64_t{comps[0]->blocksWide} * comps[0]->blocksHigh;
    } else {
        const uint64_t across = (frame_.width + 8u * frame_.hMax - 1) / (8u * frame_.hMax);
        const uint64_t down = (frame_.height + 8u * frame_.vMax - 1) / (8u * frame_.vMax);
        mcus = across * down;
    }
    BitReader bits(cursor_);
    bits.SetEnd(length_);
    uint32_t nextRestart = 0;
    std::array<int32_t, 4> predictors{};
    std::array<const QuantTable*, 4> quant{};
    for (size_t i = 0; i < comps.size(); ++i)
        quant[i] = quant_[comps[i]->quantTable].defined ? &quant_[comps[i]->quantTable] : nullptr;
    for (uint64_t mcu = 0; mcu < mcus; ++mcu) {
        if (restartInterval_ != 0 && mcu != 0 && mcu % restartInterval_ == 0) {
            // The interval's data ends at a byte boundary, then its marker
            // (after any fill bytes), numbered on from the last modulo 8.
            bits.Align();
            const uint64_t markerAt = cursor_.Pos();
            std::optional<uint8_t> b = cursor_.Next();
            if (!b) return markerAt >= length_ ? Fail::kShort : Fail::kUnread;
            if (*b != 0xFF) {
                failAt_ = markerAt + 1;
                return Fail::kWrong;
            }
            for (uint32_t fill = 0; (b = cursor_.Next()) && *b == 0xFF && fill < kWindow; ++fill) {
            }
            if (!b || *b != 0xD0 + nextRestart) {
                failAt_ = cursor_.Pos();
                return b ? Fail::kWrong : Fail::kShort;
            }
            nextRestart = (nextRestart + 1) % 8;
            predictors = {};
        }
        for (size_t i = 0; i < comps.size(); ++i) {
            const uint32_t blocks = comps.size() == 1 ? 1 : uint32_t{comps[i]->h} * comps[i]->v;
            for (uint32_t b = 0; b < blocks; ++b) {
                const Fail f = DecodeBlock(bits, dc_[dcTables[i]], ac_[acTables[i]], quant[i], predictors[i]);
                if (f != Fail::kNone) {
                    // A marker met too soon is wrong where it stands.
                    failAt_ = f == Fail::kShort ? cursor_.Pos() + 1 : bits.LastByteAt() + 1;
                    return f == Fail::kUnread ? f : Fail::kWrong;
                }
            }
        }
    }
    // After the last MCU only the padding bits of its byte; the next byte starts a marker.
    bits.Align();
    const std::optional<uint8_t> b = cursor_.Peek();
    if (!b || *b != 0xFF) {
        failAt_ = cursor_.Pos() + 1;
        return b || cursor_.Pos() >= length_ ? Fail::kWrong : Fail::kUnread;
    }
    return Fail::kNone;
}

bool JpegWalk::SkipScan(uint64_t& failAt) {
    uint32_t nextRestart = 0;
    while (true) {
        const std::optional<uint8_t> b = cursor_.Next();
        if (!b) {
            failAt = cursor_.Pos() + 1;
            return false;
        }
        if (*b != 0xFF) continue;
        const std::optional<uint8_t> m = cursor_.Peek();
        if (!m) {
            failAt = cursor_.Pos() + 1;
            return false;
        }
        if (*m == 0x00) {
            cursor_.Next();
        } else if (*m >= 0xD0 && *m <= 0xD7) {
            if (*m != 0xD0 + nextRestart) {
                failAt = cursor_.Pos() + 1;
                return false;
            }
            cursor_.Next();
            nextRestart = (nextRestart + 1) % 8;
        } else if (*m != 0xFF) {
            cursor_.Seek(cursor_.Pos() - 1);  // the marker after the data
            return true;
        }
    }
}

FragmentVerdict JpegWalk::Run() {
    uint8_t soi[2] = {};
    cursor_.Seek(0);
    for (uint8_t& b : soi) {
        const std::optional<uint8_t> got = cursor_.Next();
        if (!got) return length_ < 2 ? FragmentVerdict::InvalidAt(0) : FragmentVerdict::CannotTell(0);
        b = *got;
    }
    if (soi[0] != 0xFF || soi[1] != 0xD8) return FragmentVerdict::InvalidAt(0);
    provenTo_ = 2;
    bool everyScanDecoded = true;
    uint32_t scans = 0;
    uint64_t unprovenFrom = 0;  // where the first scan that could not be decoded starts
    for (uint32_t segments = 0; segments < kMaxSegments; ++segments) {
        const uint64_t at = cursor_.Pos();
        const std::optional<uint8_t> ff = cursor_.Next();
        if (!ff) return at >= length_ ? Wrong(length_) : FragmentVerdict::CannotTell(provenTo_);
        if (*ff != 0xFF) return Wrong(at + 1);
        std::optional<uint8_t> marker;
        while ((marker = cursor_.Next()) && *marker == 0xFF && cursor_.Pos() - at < kWindow) {
        }
        if (!marker) return Wrong(length_);
        if (*marker == 0xFF) return Wrong(cursor_.Pos());
        const uint64_t markerAt = cursor_.Pos() - 2;
        // A marker where the last segment's length (or the coded data) ended
        // vouches for the bytes before it, as far as a file in two pieces goes.
        if (everyScanDecoded) provenTo_ = at;
        if (*marker == 0xD9) {  // end of picture
            if (scans == 0) return Wrong(cursor_.Pos());
            if (!everyScanDecoded) return FragmentVerdict::CannotTell(unprovenFrom);
            // Bytes after the end are no part of the picture's structure.
            return cursor_.Pos() == length_ ? FragmentVerdict::Valid(length_)
                                            : FragmentVerdict::CannotTell(cursor_.Pos());
        }
        if (*marker == 0x00 || *marker == 0x01 || *marker == 0xD8 || (*marker >= 0xD0 && *marker <= 0xD7))
            return Wrong(cursor_.Pos());
        const std::optional<uint16_t> size = cursor_.U16Be();
        if (!size) return Wrong(length_);
        if (*size < 2 || markerAt + 2 + *size > length_) return Wrong(cursor_.Pos());
        const uint64_t next = markerAt + 2 + *size;
        const uint8_t m = *marker;
        if (m == 0xC4 || m == 0xDB) {
            if (!ReadTables(m, markerAt, *size)) return Wrong(next);
        } else if (m == 0xDD) {
            const std::optional<uint16_t> interval = cursor_.U16Be();
            if (*size != 4 || !interval) return Wrong(next);
            restartInterval_ = *interval;
        } else if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            if (!ReadFrame(m, markerAt, *size)) return Wrong(next);
        } else if (m == 0xDA) {
            if (!frame_.seen || ++scans > kMaxScans) return Wrong(next);
            const std::optional<uint8_t> count = cursor_.Next();
            if (!count || *count == 0 || *count > 4 || *size != 6 + 2 * uint32_t{*count}) return Wrong(next);
            std::vector<const Component*> comps;
            std::vector<uint8_t> dcTables, acTables;
            for (uint8_t i = 0; i < *count; ++i) {
                const std::optional<uint8_t> id = cursor_.Next(), tables = cursor_.Next();
                if (!id || !tables) return Wrong(next);
                const Component* found = nullptr;
                for (const Component& c : frame_.components)
                    if (c.id == *id) found = &c;
                if (!found || (*tables >> 4) > 3 || (*tables & 15) > 3) return Wrong(next);
                comps.push_back(found);
                dcTables.push_back(*tables >> 4);
                acTables.push_back(*tables & 15);
            }
            const std::optional<uint8_t> start = cursor_.Next(), stop = cursor_.Next(),
                                         approx = cursor_.Next();
            if (!start || !stop || !approx || *start > 63 || *stop > 63) return Wrong(next);
            uint32_t blocksPerMcu = 0;
            for (const Component* c : comps) blocksPerMcu += uint32_t{c->h} * c->v;
            // An interleaved MCU holds at most ten blocks.
            if (comps.size() > 1 && blocksPerMcu > 10) return Wrong(next);
            if (everyScanDecoded) provenTo_ = next;
            cursor_.Seek(next);
            const bool sequential = *start == 0 && *stop == 63 && *approx == 0;
            if (frame_.decodable && sequential) {
                switch (DecodeScan(comps, dcTables, acTables)) {
                    case Fail::kNone:
                        provenTo_ = cursor_.Pos();
                        continue;
                    case Fail::kUnread:
                        return FragmentVerdict::CannotTell(provenTo_);
                    default:
                        return Wrong(failAt_);
                }
            }
            if (everyScanDecoded) unprovenFrom = next;
            everyScanDecoded = false;
            uint64_t failAt = 0;
            if (!SkipScan(failAt)) return Wrong(failAt);
            // Only the markers were checked: the proof stops where this data began.
            continue;
        }
        // Application data, comments and the rest: walked by their lengths.
        cursor_.Seek(next);
    }
    return FragmentVerdict::CannotTell(provenTo_);
}

}  // namespace

FragmentVerdict CheckJpegFragments(FileByteSource& file) {
    FragmentVerdict v = JpegWalk(file).Run();
    v.offset = std::min(v.offset, file.Length());
    v.end = std::min(v.end, file.Length());
    return v;
}

}  // namespace sorvane
