// Structural sizes of audio and video: box, element, tag, chunk and packet
// walks over the top level of each container.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "carving/carved_file_bytes.h"
#include "carving/structure_sizes.h"

namespace sorvane {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kVideoLimit = 64 * kGiB;

StructureSize Damaged(CarveJob& job) {
    job.verdict = ContentVerdict::kDamaged;
    return std::nullopt;
}

bool IsIsoTopLevelBox(ByteView type) {
    static constexpr std::string_view kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid",
                                                  "pnot", "meta", "moof", "mfra", "sidx", "ssix", "styp",
                                                  "pdin", "udta", "prft", "emsg", "junk", "pict"};
    for (std::string_view t : kTypes)
        if (type.Equals(0, t)) return true;
    return false;
}

// An EBML variable-length integer at `at`: its value and width; width 0 when
// invalid. `unknown` is set for a size whose value bits are all ones.
struct Vint {
    uint64_t value = 0;
    uint32_t width = 0;
    bool unknown = false;
};

Vint ReadVint(CarvedFileBytes& bytes, uint64_t at, bool keepMarker) {
    Vint v;
    uint8_t first = bytes.U8(at);
    if (first == 0 || !bytes.Has(at, 1)) return v;
    uint32_t width = 1;
    while (!(first & (0x80 >> (width - 1)))) ++width;
    if (!bytes.Has(at, width)) return v;
    uint64_t value = keepMarker ? first : first & (0xFF >> width);
    bool allOnes = (first & (0xFF >> width)) == (0xFF >> width);
    for (uint32_t i = 1; i < width; ++i) {
        uint8_t b = bytes.U8(at + i);
        value = (value << 8) | b;
        allOnes = allOnes && b == 0xFF;
    }
    v.value = value;
    v.width = width;
    v.unknown = !keepMarker && allOnes;
    return v;
}

bool IsMatroskaTopLevel(uint64_t id) {
    switch (id) {
        case 0x114D9B74:  // seek head
        case 0x1549A966:  // segment information
        case 0x1654AE6B:  // tracks
        case 0x1F43B675:  // cluster
        case 0x1C53BB6B:  // cues
        case 0x1043A770:  // chapters
        case 0x1254C367:  // tags
        case 0x1941A469:  // attachments
        case 0xEC:        // void
        case 0xBF:        // CRC-32
            return true;
        default:
            return false;
    }
}

bool IsMatroskaClusterChild(uint64_t id) {
    switch (id) {
        case 0xE7:
        case 0xA3:
        case 0xA0:
        case 0xA7:
        case 0xAB:
        case 0x5854:
        case 0xAF:
        case 0xEC:
        case 0xBF:
            return true;
        default:
            return false;
    }
}

// A box found among the children of another: where its contents start and end.
struct Box {
    uint64_t body = 0;
    uint64_t end = 0;
};

// The first child box of type `type` in [from, to), none when the children do
// not add up.
std::optional<Box> FindChildBox(CarvedFileBytes& bytes, uint64_t from, uint64_t to, const char* type) {
    for (uint64_t at = from; at + 8 <= to;) {
        uint64_t size = bytes.U32Be(at), header = 8;
        if (size == 1) {
            size = bytes.U64Be(at + 8);
            header = 16;
        }
        if (size < header || size > to - at || !bytes.Has(at, 8)) return std::nullopt;
        if (bytes.Equals(at + 4, type, 4)) return Box{at + header, at + size};
        at += size;
    }
    return std::nullopt;
}

// How the first bytes of every sample of a track's codec look; kNone for
// codecs whose samples have no fixed start (audio, mostly).
enum class SampleForm { kNone, kStartCode, kH263, kJpeg, kLengthPrefixed };

SampleForm FormOfCodec(ByteView format) {
    if (format.Equals(0, "mp4v")) return SampleForm::kStartCode;
    if (format.Equals(0, "s263")) return SampleForm::kH263;
    if (format.Equals(0, "jpeg") || format.Equals(0, "mjpa")) return SampleForm::kJpeg;
    if (format.Equals(0, "avc1") || format.Equals(0, "avc3") || format.Equals(0, "hvc1") ||
        format.Equals(0, "hev1"))
        return SampleForm::kLengthPrefixed;
    return SampleForm::kNone;
}

// True when the sample of `size` bytes at `at` starts as its codec's samples
// do; for length-prefixed units, when their lengths add up to the sample.
bool SampleLooksRight(CarvedFileBytes& bytes, uint64_t at, uint64_t size, SampleForm form,
                      uint32_t lengthBytes) {
    switch (form) {
        case SampleForm::kStartCode: {
            ByteView v = bytes.View(at, 3);
            return size >= 4 && v.Size() == 3 && v.U8(0) == 0 && v.U8(1) == 0 && v.U8(2) == 1;
        }
        case SampleForm::kH263: {
            ByteView v = bytes.View(at, 3);
            return size >= 3 && v.Size() == 3 && v.U8(0) == 0 && v.U8(1) == 0 && (v.U8(2) & 0xFC) == 0x80;
        }
        case SampleForm::kJpeg:
            return size >= 2 && bytes.U8(at) == 0xFF && bytes.U8(at + 1) == 0xD8 && bytes.Has(at, 2);
        case SampleForm::kLengthPrefixed: {
            uint64_t pos = 0;
            for (int units = 0; pos < size; ++units) {
                if (units > 4096 || pos + lengthBytes + 1 > size) return false;
                ByteView v = bytes.View(at + pos, lengthBytes + 1);
                if (v.Size() < lengthBytes + 1) return false;
                uint64_t length = 0;
                for (uint32_t i = 0; i < lengthBytes; ++i) length = length << 8 | v.U8(i);
                // A unit is at least its header, whose first bit is always clear.
                if (length == 0 || (v.U8(lengthBytes) & 0x80) != 0 || length > size - pos - lengthBytes)
                    return false;
                pos += lengthBytes + length;
            }
            return true;
        }
        case SampleForm::kNone:
            return true;
    }
    return true;
}

// Samples checked per track at most; past that an even spread of them and
// the last ones (a file cut short loses its last samples first).
constexpr uint64_t kCheckedSamples = 4096;

// False when a track's sample table puts a sample outside the file's `size`
// bytes or a sample of a video track does not start as its codec's do: the
// file's sizes were written whole but the media after some point was not
// (cut short and overwritten by random bytes, zeros or another file).
bool IsoSamplesCheckOut(CarvedFileBytes& bytes, Box movie, uint64_t size) {
    for (uint64_t at = movie.body; at + 8 <= movie.end;) {
        auto track = FindChildBox(bytes, at, movie.end, "trak");
        if (!track) break;
        at = track->end;
        auto media = FindChildBox(bytes, track->body, track->end, "mdia");
        auto info = media ? FindChildBox(bytes, media->body, media->end, "minf") : std::nullopt;
        auto table = info ? FindChildBox(bytes, info->body, info->end, "stbl") : std::nullopt;
        if (!table) continue;
        auto descriptions = FindChildBox(bytes, table->body, table->end, "stsd");
        auto sizes = FindChildBox(bytes, table->body, table->end, "stsz");
        auto perChunk = FindChildBox(bytes, table->body, table->end, "stsc");
        auto offsets32 = FindChildBox(bytes, table->body, table->end, "stco");
        auto offsets64 = offsets32 ? std::nullopt : FindChildBox(bytes, table->body, table->end, "co64");
        auto offsets = offsets32 ? offsets32 : offsets64;
        if (!descriptions || !sizes || !perChunk || !offsets) continue;

        SampleForm form = FormOfCodec(bytes.View(descriptions->body + 12, 4));
        uint32_t lengthBytes = 4;
        if (form == SampleForm::kLengthPrefixed) {
            // The decoder configuration in the sample entry tells the width of the unit lengths.
            const uint64_t entry = descriptions->body + 8;
            const uint64_t entryEnd = std::min(descriptions->end, entry + bytes.U32Be(entry));
            if (auto avc = FindChildBox(bytes, entry + 86, entryEnd, "avcC"))
                lengthBytes = (bytes.U8(avc->body + 4) & 3) + 1u;
            else if (auto hevc = FindChildBox(bytes, entry + 86, entryEnd, "hvcC"))
                lengthBytes = (bytes.U8(hevc->body + 21) & 3) + 1u;
            if (lengthBytes == 3) return false;
        }

        const uint64_t fixedSize = bytes.U32Be(sizes->body + 4);
        const uint64_t samples = bytes.U32Be(sizes->body + 8);
        const uint64_t chunks = bytes.U32Be(offsets->body + 4);
        const uint64_t runs = bytes.U32Be(perChunk->body + 4);
        const uint32_t offsetBytes = offsets32 ? 4 : 8;
        if ((fixedSize == 0 && sizes->body + 12 + 4 * samples > sizes->end) ||
            offsets->body + 8 + offsetBytes * chunks > offsets->end ||
            perChunk->body + 8 + 12 * runs > perChunk->end)
            return false;
        const uint64_t stride = samples > kCheckedSamples ? samples / kCheckedSamples : 1;

        uint64_t sample = 0;
        for (uint64_t run = 0; run < runs && sample < samples; ++run) {
            const uint64_t record = perChunk->body + 8 + 12 * run;
            const uint64_t firstChunk = bytes.U32Be(record), count = bytes.U32Be(record + 4);
            const uint64_t nextFirst = run + 1 < runs ? bytes.U32Be(record + 12) : chunks + 1;
            if (firstChunk == 0 || nextFirst <= firstChunk || nextFirst > chunks + 1) return false;
            for (uint64_t chunk = firstChunk; chunk < nextFirst && sample < samples; ++chunk) {
                const uint64_t slot = offsets->body + 8 + offsetBytes * (chunk - 1);
                uint64_t offset = offsetBytes == 4 ? bytes.U32Be(slot) : bytes.U64Be(slot);
                if (form == SampleForm::kNone && fixedSize) {
                    // Samples of one size (sound as plain numbers) are many and tell nothing
                    // one by one: the chunk as a whole must lie in the file.
                    const uint64_t inChunk = std::min(count, samples - sample);
                    if (offset > size || inChunk * fixedSize > size - offset) return false;
                    sample += inChunk;
                    continue;
                }
                for (uint64_t k = 0; k < count && sample < samples; ++k, ++sample) {
                    const uint64_t length =
                        fixedSize ? fixedSize : bytes.U32Be(sizes->body + 12 + 4 * sample);
                    if (offset > size || length > size - offset) return false;
                    const bool checked = sample % stride == 0 || sample + stride >= samples;
                    if (checked && !SampleLooksRight(bytes, offset, length, form, lengthBytes)) return false;
                    offset += length;
                }
            }
        }
    }
    return true;
}

}  // namespace

StructureSize IsoMediaStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    uint64_t off = 0;
    bool movie = false, media = false, fragments = false;
    std::optional<Box> movieBox;
    for (int boxes = 0; boxes < 100000; ++boxes) {
        if (!bytes.Has(off, 8)) break;
        ByteView type = bytes.View(off + 4, 4);
        if (!IsIsoTopLevelBox(type)) break;
        // A second file-type box starts the next file.
        if (off > 0 && type.Equals(0, "ftyp")) break;
        bool isMovie = type.Equals(0, "moov") || type.Equals(0, "moof");
        bool isMedia = type.Equals(0, "mdat");
        uint64_t size = bytes.U32Be(off);
        uint64_t header = 8;
        if (size == 1) {
            size = bytes.U64Be(off + 8);
            header = 16;
        } else if (size == 0) {
            return std::nullopt;  // runs to the end of a file whose end is what is sought
        }
        if (size < header) return Damaged(job);
        if (size > bytes.Available() - off) return Damaged(job);
        movie = movie || isMovie;
        media = media || isMedia;
        fragments = fragments || type.Equals(0, "moof");
        if (type.Equals(0, "moov") && !movieBox) movieBox = Box{off + header, off + size};
        off += size;
    }
    // A file that began with its boxes but stops before it has both the
    // movie and its media was cut short.
    if (!movie || !media) return off > 0 ? Damaged(job) : std::nullopt;
    // Fragments keep their sample tables in each fragment; only whole movies are checked.
    if (movieBox && !fragments && !IsoSamplesCheckOut(bytes, *movieBox, off))
        return bytes.Cancelled() ? std::nullopt : Damaged(job);  // a stop is no sign of damage
    return off;
}

StructureSize MatroskaStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    Vint id = ReadVint(bytes, 0, true);
    if (id.value != 0x1A45DFA3) return std::nullopt;
    Vint size = ReadVint(bytes, id.width, false);
    if (!size.width || size.unknown) return std::nullopt;
    uint64_t off = id.width + size.width + size.value;
    id = ReadVint(bytes, off, true);
    if (id.value != 0x18538067) return std::nullopt;
    size = ReadVint(bytes, off + id.width, false);
    if (!size.width) return std::nullopt;
    uint64_t body = off + id.width + size.width;
    if (!size.unknown) {
        // The segment's children must fill it exactly: a segment cut short
        // and followed by other bytes still claims its whole size.
        if (body > bytes.Available() || size.value > bytes.Available() - body) return Damaged(job);
        uint64_t end = body + size.value;
        uint64_t child = body;
        for (uint64_t elements = 0; child < end && elements < 10000000; ++elements) {
            Vint childId = ReadVint(bytes, child, true);
            if (!childId.width || !IsMatroskaTopLevel(childId.value)) return Damaged(job);
            Vint childSize = ReadVint(bytes, child + childId.width, false);
            if (!childSize.width || childSize.unknown || childSize.value > end - child) return Damaged(job);
            child += childId.width + childSize.width + childSize.value;
        }
        if (child != end) return Damaged(job);
        return end;
    }
    // A segment written live does not know its size: walk its children (and
    // the blocks of clusters that do not know theirs) to the first element
    // that cannot be part of it.
    off = body;
    bool inCluster = false;
    for (uint64_t elements = 0; elements < 10000000; ++elements) {
        Vint childId = ReadVint(bytes, off, true);
        if (!childId.width) break;
        bool top = IsMatroskaTopLevel(childId.value);
        if (!top && !(inCluster && IsMatroskaClusterChild(childId.value))) break;
        Vint childSize = ReadVint(bytes, off + childId.width, false);
        if (!childSize.width) break;
        if (childSize.unknown) {
            if (childId.value != 0x1F43B675) return std::nullopt;
            inCluster = true;
            off += childId.width + childSize.width;
            continue;
        }
        if (top && childId.value != 0xEC && childId.value != 0xBF) inCluster = false;
        if (childSize.value > bytes.Available() - off) return Damaged(job);
        uint64_t end = off + childId.width + childSize.width + childSize.value;
        if (end > bytes.Available()) return Damaged(job);
        off = end;
    }
    return off > body ? StructureSize(off) : std::nullopt;
}

StructureSize FlvStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    uint64_t off = bytes.U32Be(5);
    if (off < 9 || bytes.U32Be(off) != 0) return std::nullopt;
    off += 4;
    // A writer that knows the file's size states it in the metadata of the
    // first script tag; a walk that ends short of it met damage.
    uint64_t statedSize = 0;
    if (bytes.U8(off) == 18) {
        uint64_t dataEnd = off + 11 + bytes.U24Be(off + 1);
        static constexpr uint8_t kFileSize[10] = {0x00, 0x08, 'f', 'i', 'l', 'e', 's', 'i', 'z', 'e'};
        if (auto at = bytes.Find(off + 11, dataEnd, kFileSize, sizeof kFileSize);
            at && bytes.U8(*at + 10) == 0) {
            uint64_t raw = bytes.U64Be(*at + 11);
            double value;
            std::memcpy(&value, &raw, sizeof value);
            if (value > 0 && value < 1e15) statedSize = static_cast<uint64_t>(value);
        }
    }
    int tags = 0;
    while (bytes.Has(off, 11)) {
        uint8_t type = bytes.U8(off) & 0x1F;
        if (type != 8 && type != 9 && type != 18) break;
        if (bytes.U24Be(off + 8) != 0) break;  // stream id
        uint64_t dataSize = bytes.U24Be(off + 1);
        uint64_t tagEnd = off + 11 + dataSize;
        if (tagEnd + 4 > bytes.Available()) return Damaged(job);
        if (bytes.U32Be(tagEnd) != 11 + dataSize) break;
        off = tagEnd + 4;
        ++tags;
    }
    if (tags == 0) return std::nullopt;
    if (statedSize && statedSize != off) return Damaged(job);
    return off;
}

StructureSize RealMediaStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    uint64_t off = bytes.U32Be(4);  // the file header chunk
    if (off < 10) return std::nullopt;
    bool data = false;
    while (bytes.Has(off, 10)) {
        ByteView id = bytes.View(off, 4);
        if (!(id.Equals(0, "PROP") || id.Equals(0, "MDPR") || id.Equals(0, "CONT") || id.Equals(0, "DATA") ||
              id.Equals(0, "INDX") || id.Equals(0, "RMMD") || id.Equals(0, "RJMD")))
            break;
        bool isData = id.Equals(0, "DATA");
        data = data || isData;
        uint64_t size = bytes.U32Be(off + 4);
        if (size < 10) return Damaged(job);
        if (off + size > bytes.Available()) return Damaged(job);
        if (isData && size >= 18) {
            // The packets of a data chunk say where its data really ends; some
            // writers count more in the chunk's size and close the data with
            // eight zero bytes instead.
            uint64_t packets = bytes.U32Be(off + 10);
            uint64_t p = off + 18;
            for (uint64_t i = 0; i < packets && p + 4 <= off + size; ++i) {
                uint64_t length = bytes.U16Be(p + 2);
                if (length < 12) break;
                p += length;
            }
            if (p < off + size && !bytes.Equals(p, "INDX", 4)) {
                static constexpr uint8_t kZeros[8] = {};
                if (p + 8 <= off + size && bytes.Equals(p, kZeros, 8)) p += 8;
                return p;
            }
        }
        off += size;
    }
    if (!data) return std::nullopt;
    return off;
}

StructureSize MxfStructureSize(CarveJob& job) {
    static constexpr uint8_t kKeyPrefix[4] = {0x06, 0x0E, 0x2B, 0x34};
    static constexpr uint8_t kPartitionPrefix[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01,
                                                     0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
    CarvedFileBytes bytes(job, kVideoLimit);
    uint64_t off = 0;
    bool footer = false;
    // The header partition pack says where the footer partition starts.
    uint64_t footerAt = 0;
    const bool headerPartition = bytes.Equals(0, kPartitionPrefix, 13);
    if (headerPartition) {
        uint8_t first = bytes.U8(16);
        uint64_t value = first < 0x80 ? 17 : 17 + (first & 0x7F);
        footerAt = bytes.U64Be(value + 24);
    }
    while (bytes.Has(off, 17) && bytes.Equals(off, kKeyPrefix, 4)) {
        const uint64_t start = off;
        bool partition = bytes.Equals(off, kPartitionPrefix, 13);
        uint8_t kind = bytes.U8(off + 13);
        uint8_t first = bytes.U8(off + 16);
        uint64_t length, header;
        if (first < 0x80) {
            length = first;
            header = 17;
        } else {
            uint32_t n = first & 0x7F;
            if (n == 0 || n > 8 || !bytes.Has(off + 17, n)) return Damaged(job);
            length = bytes.View(off + 17, n).GetBe(0, n);
            header = 17 + n;
        }
        uint64_t end = off + header + length;
        if (end > bytes.Available() || end < off) return Damaged(job);
        off = end;
        if (partition && kind == 0x04) {
            if (footerAt && start != footerAt) return Damaged(job);
            footer = true;
        }
        if (partition && kind == 0x11) return off;  // the random index pack is the last thing in a file
    }
    if (!footer) {
        if (headerPartition) return Damaged(job);  // the file stops before its footer
        return std::nullopt;
    }
    return off;
}

uint32_t MpegAudioFrameLength(uint32_t h) {
    if ((h >> 21) != 0x7FF) return 0;
    uint32_t version = (h >> 19) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    uint32_t layer = (h >> 17) & 3;    // 3: I, 2: II, 1: III
    uint32_t bitrateIndex = (h >> 12) & 15, rateIndex = (h >> 10) & 3, padding = (h >> 9) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    static constexpr uint16_t kBitrates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
    bool mpeg1 = version == 3;
    uint32_t layerIndex = 3 - layer;  // 0: I, 1: II, 2: III
    uint32_t bitrate = kBitrates[mpeg1 ? 0 : 1][layerIndex][bitrateIndex] * 1000;
    uint32_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layerIndex == 0) return (12 * bitrate / rate + padding) * 4;
    if (layerIndex == 2 && !mpeg1) return 72 * bitrate / rate + padding;
    return 144 * bitrate / rate + padding;
}

StructureSize MpegAudioStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 2 * kGiB);
    uint64_t off = 0;
    if (bytes.Equals(0, "ID3", 3)) {
        ByteView h = bytes.View(0, 10);
        off =
            10 + ((uint64_t{h.U8(6)} << 21) | (uint64_t{h.U8(7)} << 14) | (uint64_t{h.U8(8)} << 7) | h.U8(9));
        if (h.U8(5) & 0x10) off += 10;  // a footer follows the tag
    }
    uint32_t firstHeader = 0;
    uint64_t frames = 0;
    const uint64_t audioStart = off;
    // An encoder's information frame (the first one) may state how many bytes
    // the frames take: a walk that ends short of them met damage.
    uint64_t statedBytes = 0;
    if (uint32_t length = MpegAudioFrameLength(bytes.U32Be(off)); length >= 48) {
        for (const char* tag : {"Xing", "Info"}) {
            if (auto at = bytes.Find(off + 4, off + std::min<uint32_t>(length, 64), tag, 4)) {
                uint32_t flags = bytes.U32Be(*at + 4);
                if (flags & 2) statedBytes = bytes.U32Be(*at + 8 + ((flags & 1) ? 4 : 0));
            }
        }
    }
    while (bytes.Has(off, 4)) {
        uint32_t header = bytes.U32Be(off);
        uint32_t length = MpegAudioFrameLength(header);
        // Version, layer and sampling rate stay the same through a stream.
        if (length == 0 || (frames > 0 && (header & 0xFFFE0C00) != (firstHeader & 0xFFFE0C00))) break;
        if (off + length > bytes.Available()) {
            job.verdict = ContentVerdict::kDamaged;
            break;
        }
        if (frames == 0) firstHeader = header;
        off += length;
        ++frames;
    }
    if (frames < 2) return std::nullopt;
    if (statedBytes && off - audioStart < statedBytes) job.verdict = ContentVerdict::kDamaged;
    // Tags that follow the frames: an APE tag (its footer or header says its
    // size) and an ID3 version 1 tag of 128 bytes, in either order.
    for (int tags = 0; tags < 3; ++tags) {
        if (bytes.Equals(off, "APETAGEX", 8)) {
            uint64_t size = bytes.U32(off + 12);
            uint32_t flags = bytes.U32(off + 20);
            bool isHeader = flags & 0x20000000;
            off += isHeader ? 32 + size : 32;
        } else if (bytes.Equals(off, "TAG", 3) && bytes.Has(off, 128)) {
            off += 128;
        } else {
            break;
        }
    }
    if (job.verdict != ContentVerdict::kDamaged) job.verdict = ContentVerdict::kWhole;
    return off;
}

StructureSize MpegProgramStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    static constexpr uint8_t kStart[3] = {0, 0, 1};
    uint64_t off = 0;
    uint64_t packs = 0;
    while (bytes.Has(off, 4) && bytes.Equals(off, kStart, 3)) {
        uint8_t code = bytes.U8(off + 3);
        uint64_t length;
        if (code == 0xB9) {
            job.verdict = ContentVerdict::kWhole;
            return off + 4;
        }
        if (code == 0xBA) {
            uint8_t mark = bytes.U8(off + 4);
            if ((mark & 0xC0) == 0x40)
                length = 14 + (bytes.U8(off + 13) & 7);
            else if ((mark & 0xF0) == 0x20)
                length = 12;
            else
                return Damaged(job);
            ++packs;
        } else if (code >= 0xBB) {
            length = 6 + uint64_t{bytes.U16Be(off + 4)};
        } else {
            return Damaged(job);
        }
        if (off + length > bytes.Available()) return Damaged(job);
        off += length;
    }
    // Some writers end the stream at its last pack without an end code.
    if (packs == 0) return std::nullopt;
    return off;
}

StructureSize SmafStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, 256 * kMiB);
    uint64_t size = 8 + uint64_t{bytes.U32Be(4)};
    if (size <= 8 + 8) return std::nullopt;
    if (size > bytes.Available()) return Damaged(job);
    return size;
}

namespace {

constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                            0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// The objects that may follow the data object: the simple index, the index,
// the media-object index and the time-code index.
constexpr uint8_t kAsfIndexes[4][16] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};

}  // namespace

StructureSize AsfStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    if (!bytes.Equals(0, kAsfHeader, 16) || !bytes.Has(0, 30)) return std::nullopt;
    const uint64_t headerSize = bytes.U64(16);
    const uint32_t headerObjects = bytes.U32(24);
    if (headerSize < 30 || bytes.U8(28) != 1 || bytes.U8(29) != 2) return std::nullopt;
    if (headerSize > bytes.Available()) return Damaged(job);

    // The file properties: the file's size, the number of data packets and their size.
    uint64_t fileSize = 0, packets = 0, packetSize = 0;
    bool properties = false;
    uint64_t at = 30;
    for (uint32_t i = 0; i < headerObjects && at + 24 <= headerSize; ++i) {
        const uint64_t size = bytes.U64(at + 16);
        if (size < 24 || size > headerSize - at) return std::nullopt;
        if (bytes.Equals(at, kAsfFileProperties, 16) && size >= 104) {
            properties = true;
            fileSize = bytes.U64(at + 40);
            packets = bytes.U64(at + 56);
            const uint32_t flags = bytes.U32(at + 88);
            const uint32_t smallest = bytes.U32(at + 92), largest = bytes.U32(at + 96);
            if (flags & 1) return std::nullopt;  // a broadcast file does not know its sizes
            if (smallest == largest) packetSize = smallest;
        }
        at += size;
    }
    if (!properties) return std::nullopt;

    const uint64_t data = headerSize;
    if (!bytes.Has(data, 50)) return Damaged(job);
    if (!bytes.Equals(data, kAsfData, 16)) return std::nullopt;
    const uint64_t dataSize = bytes.U64(data + 16);
    if (dataSize < 50 || dataSize > bytes.Available() - data) return Damaged(job);
    if (packetSize && bytes.U64(data + 40) == packets && dataSize != 50 + packets * packetSize)
        return std::nullopt;
    // Packets of one size that carry error-correction data all start with the
    // same three bytes: packets that do not were overwritten.
    const bool packetsFill = packetSize && packets && dataSize == 50 + packets * packetSize;
    if (packetsFill && bytes.Has(data + 50, 3) && (bytes.U8(data + 50) & 0x80)) {
        const ByteView first = bytes.View(data + 50, 3);
        const uint8_t lead[3] = {first.U8(0), first.U8(1), first.U8(2)};
        const uint64_t stride = packets > kCheckedSamples ? packets / kCheckedSamples : 1;
        for (uint64_t p = 0; p < packets; p += stride) {
            const uint64_t packet = std::min(p, packets - 1);
            if (!bytes.Equals(data + 50 + packet * packetSize, lead, 3))
                return bytes.Cancelled() ? std::nullopt : Damaged(job);
        }
        if (!bytes.Equals(data + 50 + (packets - 1) * packetSize, lead, 3))
            return bytes.Cancelled() ? std::nullopt : Damaged(job);
    }
    uint64_t end = data + dataSize;
    for (int objects = 0; objects < 64 && bytes.Has(end, 24); ++objects) {
        bool index = false;
        for (const auto& guid : kAsfIndexes) index = index || bytes.Equals(end, guid, 16);
        if (!index) break;
        const uint64_t size = bytes.U64(end + 16);
        if (size < 24 || size > bytes.Available() - end) return Damaged(job);
        end += size;
    }
    if (fileSize != end) return std::nullopt;
    return end;
}

StructureSize ElementaryVideoStructureSize(CarveJob& job) {
    CarvedFileBytes bytes(job, kVideoLimit);
    static constexpr uint8_t kStart[3] = {0, 0, 1};
    // Start codes never occur inside coded data; slices are never this long.
    static constexpr uint64_t kLongestGap = 4 * kMiB;
    if (!bytes.Equals(0, kStart, 3) || bytes.U8(3) != 0xB3) return std::nullopt;
    uint64_t at = 0;
    bool picture = false;
    while (true) {
        const uint8_t code = bytes.U8(at + 3);
        if (code == 0xB7) {
            // The end of a sequence; another may follow straight on.
            if (bytes.Equals(at + 4, kStart, 3) && bytes.U8(at + 7) == 0xB3) {
                at += 4;
                continue;
            }
            if (!picture) return std::nullopt;
            job.verdict = ContentVerdict::kWhole;
            return at + 4;
        }
        const bool video = code <= 0xAF || code == 0xB2 || code == 0xB3 || code == 0xB5 || code == 0xB8;
        // A start code that belongs to no video stream ends it without its end code.
        if (!video) return std::nullopt;
        picture = picture || code == 0x00;
        // Writers often leave the end code out: a stream whose start codes
        // stop may have ended there or been cut; only the walk can go on.
        auto next = bytes.Find(at + 4, at + 4 + kLongestGap, kStart, 3);
        if (!next) return std::nullopt;
        at = *next;
    }
}

}  // namespace sorvane
