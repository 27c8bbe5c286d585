#include "carving/deflate_walker.h"

#include <algorithm>
#include <array>
#include <vector>

#include "carving/crc32.h"

namespace sorvane {
namespace {

constexpr int kMaxBits = 15;

// Bits of the stream, least significant first, read in pieces through the
// file's window.
class BitReader {
  public:
    BitReader(FileByteSource& bytes, uint64_t offset) : bytes_(bytes), next_(offset) {}

    // False once the input has run out.
    bool Need(int count) {
        while (held_ < count) {
            if (at_ == piece_.Size()) {
                piece_ = bytes_.View(next_, kPieceBytes);
                next_ += piece_.Size();
                at_ = 0;
                if (piece_.Size() == 0) return false;
            }
            buffer_ |= uint64_t{piece_.Data()[at_++]} << held_;
            held_ += 8;
        }
        return true;
    }
    // `count` bits (0 to 32); check `ok` afterwards.
    uint32_t Bits(int count) {
        if (count == 0) return 0;
        if (!Need(count)) {
            ok_ = false;
            return 0;
        }
        uint32_t value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << count) - 1));
        buffer_ >>= count;
        held_ -= count;
        return value;
    }
    void AlignToByte() {
        buffer_ >>= held_ % 8;
        held_ -= held_ % 8;
    }
    // Offset of the next whole byte not yet consumed.
    uint64_t ByteOffset() const { return next_ - (piece_.Size() - at_) - static_cast<uint64_t>(held_ / 8); }
    bool Ok() const { return ok_; }

  private:
    static constexpr size_t kPieceBytes = 32768;
    FileByteSource& bytes_;
    uint64_t next_;
    ByteView piece_;
    size_t at_ = 0;
    uint64_t buffer_ = 0;
    int held_ = 0;
    bool ok_ = true;
};

// A canonical Huffman code given by the length of each symbol's code.
struct Code {
    std::array<uint16_t, kMaxBits + 1> count{};
    std::vector<uint16_t> symbols;  // by code length, then by symbol

    // False for lengths that ask for more codes than exist.
    bool Build(const uint8_t* lengths, size_t n) {
        count.fill(0);
        for (size_t s = 0; s < n; ++s) ++count[lengths[s]];
        count[0] = 0;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = left * 2 - count[len];
            if (left < 0) return false;
        }
        std::array<uint16_t, kMaxBits + 2> start{};
        for (int len = 1; len <= kMaxBits; ++len)
            start[len + 1] = static_cast<uint16_t>(start[len] + count[len]);
        symbols.assign(n, 0);
        for (size_t s = 0; s < n; ++s)
            if (lengths[s]) symbols[start[lengths[s]]++] = static_cast<uint16_t>(s);
        return true;
    }
};

// The next symbol of `code`; -1 for a code the table does not hold or input
// that ran out.
int Decode(BitReader& in, const Code& code) {
    int value = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        value |= static_cast<int>(in.Bits(1));
        if (!in.Ok()) return -1;
        int n = code.count[len];
        if (value - first < n) return code.symbols[index + value - first];
        index += n;
        first = (first + n) << 1;
        value <<= 1;
    }
    return -1;
}

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The decoded output as far as the walk needs it: its length, its CRC-32,
// and the last 32 KiB for back-references.
class Output {
  public:
    explicit Output(uint64_t limit, std::vector<uint8_t>* keep = nullptr)
        : limit_(limit), window_(kWindow), keep_(keep) {}
    bool Put(uint8_t byte) {
        window_[total_ % kWindow] = byte;
        if (keep_ && total_ < limit_) keep_->push_back(byte);
        pending_[pendingCount_++] = byte;
        if (pendingCount_ == pending_.size()) Flush();
        return ++total_ <= limit_;
    }
    // Copies `length` bytes from `distance` back; false for a distance before
    // the start of the output.
    bool Copy(uint32_t distance, uint32_t length) {
        if (distance == 0 || distance > total_) return false;
        for (uint32_t i = 0; i < length; ++i)
            if (!Put(window_[(total_ - distance) % kWindow])) return false;
        return true;
    }
    void Flush() {
        crc_ = Crc32(crc_, pending_.data(), pendingCount_);
        // Adler-32 in runs short enough that its sums cannot overflow before the modulo.
        for (size_t i = 0; i < pendingCount_;) {
            for (const size_t stop = std::min(pendingCount_, i + 3800); i < stop; ++i) {
                adlerLow_ += pending_[i];
                adlerHigh_ += adlerLow_;
            }
            adlerLow_ %= 65521;
            adlerHigh_ %= 65521;
        }
        pendingCount_ = 0;
    }
    uint64_t Total() const { return total_; }
    uint32_t Crc() {
        Flush();
        return crc_;
    }
    uint32_t Adler() {
        Flush();
        return (adlerHigh_ << 16) | adlerLow_;
    }

  private:
    static constexpr size_t kWindow = 32768;
    uint64_t limit_;
    uint64_t total_ = 0;
    std::vector<uint8_t> window_;
    std::vector<uint8_t>* keep_;  // every byte, for a caller that wants the output
    std::array<uint8_t, 4096> pending_{};
    size_t pendingCount_ = 0;
    uint32_t crc_ = 0;
    uint32_t adlerLow_ = 1, adlerHigh_ = 0;
};

bool Codes(BitReader& in, Output& out, const Code& lengths, const Code& distances) {
    while (true) {
        int symbol = Decode(in, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (!out.Put(static_cast<uint8_t>(symbol))) return false;
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) return false;
        uint32_t length = kLengthBase[symbol] + in.Bits(kLengthExtra[symbol]);
        int d = Decode(in, distances);
        if (d < 0 || d >= 30) return false;
        uint32_t distance = kDistanceBase[d] + in.Bits(kDistanceExtra[d]);
        if (!in.Ok() || !out.Copy(distance, length)) return false;
    }
}

bool Stored(BitReader& in, Output& out) {
    in.AlignToByte();
    uint32_t length = in.Bits(16);
    uint32_t complement = in.Bits(16);
    if (!in.Ok() || (length ^ 0xFFFF) != complement) return false;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t byte = static_cast<uint8_t>(in.Bits(8));
        if (!in.Ok() || !out.Put(byte)) return false;
    }
    return true;
}

bool Fixed(BitReader& in, Output& out) {
    static const std::pair<Code, Code> codes = [] {
        std::array<uint8_t, 288> lengths{};
        for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        std::array<uint8_t, 30> distances{};
        distances.fill(5);
        std::pair<Code, Code> built;
        built.first.Build(lengths.data(), lengths.size());
        built.second.Build(distances.data(), distances.size());
        return built;
    }();
    return Codes(in, out, codes.first, codes.second);
}

bool Dynamic(BitReader& in, Output& out) {
    uint32_t literals = in.Bits(5) + 257, distances = in.Bits(5) + 1, codeLengths = in.Bits(4) + 4;
    if (!in.Ok() || literals > 286 || distances > 30) return false;
    std::array<uint8_t, 320> lengths{};
    for (uint32_t i = 0; i < codeLengths; ++i) lengths[kLengthOrder[i]] = static_cast<uint8_t>(in.Bits(3));
    if (!in.Ok()) return false;
    Code lengthCode;
    if (!lengthCode.Build(lengths.data(), 19)) return false;
    lengths.fill(0);
    uint32_t at = 0;
    while (at < literals + distances) {
        int symbol = Decode(in, lengthCode);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[at++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeat = 0;
        uint32_t times;
        if (symbol == 16) {
            if (at == 0) return false;
            repeat = lengths[at - 1];
            times = 3 + in.Bits(2);
        } else if (symbol == 17) {
            times = 3 + in.Bits(3);
        } else {
            times = 11 + in.Bits(7);
        }
        if (!in.Ok() || at + times > literals + distances) return false;
        while (times--) lengths[at++] = repeat;
    }
    if (lengths[256] == 0) return false;  // a block must be able to end
    Code literalCode, distanceCode;
    if (!literalCode.Build(lengths.data(), literals) ||
        !distanceCode.Build(lengths.data() + literals, distances))
        return false;
    return Codes(in, out, literalCode, distanceCode);
}

// Decodes every block of the stream into `out`; the reader then stands after the final block.
bool DecodeBlocks(BitReader& in, Output& out) {
    bool last = false;
    while (!last) {
        last = in.Bits(1) != 0;
        uint32_t type = in.Bits(2);
        if (!in.Ok()) return false;
        bool ok = type == 0   ? Stored(in, out)
                  : type == 1 ? Fixed(in, out)
                  : type == 2 ? Dynamic(in, out)
                              : false;
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::optional<DeflateEnd> WalkDeflate(FileByteSource& bytes, uint64_t offset, uint64_t maxOutput) {
    BitReader in(bytes, offset);
    Output out(maxOutput);
    if (!DecodeBlocks(in, out)) return std::nullopt;
    in.AlignToByte();
    DeflateEnd end;
    end.end = in.ByteOffset();
    end.outputBytes = out.Total();
    end.crc = out.Crc();
    end.adler = out.Adler();
    return end;
}

bool InflateStream(FileByteSource& bytes, uint64_t offset, uint64_t maxOutput, std::vector<uint8_t>& out) {
    out.clear();
    BitReader in(bytes, offset);
    Output output(maxOutput, &out);
    return DecodeBlocks(in, output);
}

}  // namespace sorvane
