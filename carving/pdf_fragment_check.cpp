// PDF: the body is walked object by object from the header on ("N G obj …
// endobj", cross-reference sections, trailers), each stream skipped by its
// /Length, which must land on "endstream"; a Flate stream must decode as
// deflate to that length and a JPEG held in a stream must pass the JPEG
// check. The cross-reference tables must place every object where it
// stands, and startxref must point at one of them. The first structure that
// fails bounds the wrong byte from above. Only an object the tables placed
// (read first, from the end of the file) bounds it from below: a walk that
// merely parses can fall into step with another document's objects.
#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "carving/deflate_walker.h"
#include "carving/fragment_check.h"
#include "carving/fragment_check_reading.h"

namespace sorvane {

namespace {

using fragment_reading::ByteCursor;
using fragment_reading::RangeSource;

constexpr uint32_t kMaxObjects = 4000000;
constexpr uint32_t kMaxXrefEntries = 8000000;
constexpr size_t kMaxDictionaryText = 65536;  // of a stream's dictionary, kept to find its keys
constexpr uint64_t kMaxEndstreamSearch = uint64_t{1} << 30;
constexpr uint64_t kMaxObjectText = uint64_t{64} << 20;  // of an object without a stream

bool IsSpace(uint8_t c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0; }
bool IsDelimiter(uint8_t c) {
    return IsSpace(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

struct XrefEntry {
    uint64_t offset = 0;
    uint32_t number = 0;
};

// The integer after `key` (a name followed by a delimiter) in a dictionary's
// text, and whether it is a reference ("N G R"), whose number is then given.
struct KeyValue {
    uint64_t value = 0;
    bool reference = false;
};

std::optional<KeyValue> IntegerKey(std::string_view text, std::string_view key) {
    for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
        size_t p = at + key.size();
        if (p >= text.size() || !IsSpace(static_cast<uint8_t>(text[p]))) continue;
        const auto number = [&](uint64_t& v) {
            while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
            const size_t first = p;
            v = 0;
            while (p < text.size() && text[p] >= '0' && text[p] <= '9' && p - first < 15)
                v = v * 10 + static_cast<uint64_t>(text[p++] - '0');
            return p > first;
        };
        KeyValue kv;
        if (!number(kv.value)) return std::nullopt;
        const size_t afterFirst = p;
        uint64_t generation = 0;
        if (number(generation)) {
            while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
            if (p < text.size() && text[p] == 'R') {
                kv.reference = true;
                return kv;
            }
        }
        p = afterFirst;
        return kv;
    }
    return std::nullopt;
}

// The one filter a stream's dictionary names ("" for none, "?" for a chain of them).
std::string SingleFilter(std::string_view text) {
    const size_t at = text.find("/Filter");
    if (at == std::string_view::npos) return "";
    size_t p = at + 7;
    while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
    bool array = false;
    if (p < text.size() && text[p] == '[') {
        array = true;
        ++p;
        while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
    }
    if (p >= text.size() || text[p] != '/') return "?";
    const size_t first = ++p;
    while (p < text.size() && !IsDelimiter(static_cast<uint8_t>(text[p]))) ++p;
    const std::string name(text.substr(first, p - first));
    if (array) {
        while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
        if (p >= text.size() || text[p] != ']') return "?";
    }
    return name;
}

class PdfWalk {
  public:
    explicit PdfWalk(FileByteSource& file) : file_(file), cursor_(file), length_(file.Length()) {}
    FragmentVerdict Run();

  private:
    enum class Step { kGood, kWrong, kUnread };

    FragmentVerdict Wrong(uint64_t before) const {
        return FragmentVerdict::InvalidAt(provenTo_, std::min(length_, std::max(before, provenTo_ + 1)));
    }
    void SkipSpace();
    bool Match(std::string_view word);
    std::optional<uint64_t> Number();
    Step Object(uint64_t at, uint32_t number);
    Step Stream(uint64_t objectAt, std::string_view dictionary);
    Step XrefTable();
    // Skips a dictionary "<< … >>" (strings and nested dictionaries within).
    bool SkipDictionary();
    Step CheckLength(uint64_t objectAt, uint64_t dataAt, uint64_t endstreamAt, uint64_t length);
    FragmentVerdict CheckTables();
    // Reads the classic tables from startxref back through /Prev, before the walk.
    void ReadTablesFirst();

    FileByteSource& file_;
    ByteCursor cursor_;
    uint64_t length_;
    uint64_t provenTo_ = 0;
    uint64_t failAt_ = 0;
    std::set<std::pair<uint64_t, uint32_t>> objects_;  // where each object stands, and its number
    std::vector<XrefEntry> entries_;                   // objects in use, as the tables give them
    std::vector<uint64_t> xrefAt_;                     // where each cross-reference section starts
    std::unordered_map<uint32_t, uint64_t> integers_;  // objects that are one integer (stream lengths)
    struct Pending {
        uint64_t objectAt, dataAt, endstreamAt;
    };
    std::unordered_multimap<uint32_t, Pending> pendingLengths_;  // by the number of the length's object
    uint64_t startxref_ = 0;
    bool haveStartxref_ = false;
    std::set<std::pair<uint64_t, uint32_t>> placed_;  // the tables read first: offset, number
};

void PdfWalk::SkipSpace() {
    while (std::optional<uint8_t> c = cursor_.Peek()) {
        if (IsSpace(*c)) {
            cursor_.Next();
        } else if (*c == '%') {
            // A comment, unless it is the end-of-file mark the walk reads itself.
            const uint64_t at = cursor_.Pos();
            if (Match("%%EOF")) {
                cursor_.Seek(at);
                return;
            }
            while ((c = cursor_.Next()) && *c != '\n' && *c != '\r') {
            }
        } else {
            return;
        }
    }
}

bool PdfWalk::Match(std::string_view word) {
    const uint64_t at = cursor_.Pos();
    for (const char ch : word) {
        const std::optional<uint8_t> c = cursor_.Next();
        if (!c || *c != static_cast<uint8_t>(ch)) {
            cursor_.Seek(at);
            return false;
        }
    }
    return true;
}

std::optional<uint64_t> PdfWalk::Number() {
    uint64_t v = 0;
    uint32_t digits = 0;
    while (std::optional<uint8_t> c = cursor_.Peek()) {
        if (*c < '0' || *c > '9' || digits >= 15) break;
        v = v * 10 + (*c - '0');
        ++digits;
        cursor_.Next();
    }
    if (digits == 0) return std::nullopt;
    return v;
}

bool PdfWalk::SkipDictionary() {
    int depth = 0;
    for (uint64_t steps = 0; steps < kMaxObjectText; ++steps) {
        const std::optional<uint8_t> c = cursor_.Next();
        if (!c) return false;
        if (*c == '<' || *c == '>') {
            const std::optional<uint8_t> d = cursor_.Peek();
            if (d && *d == *c) {
                cursor_.Next();
                depth += *c == '<' ? 1 : -1;
                if (depth == 0) return true;
            } else if (*c == '<') {
                while (std::optional<uint8_t> h = cursor_.Next())
                    if (*h == '>') break;
            }
        } else if (*c == '(') {
            int parens = 1;
            while (parens > 0) {
                const std::optional<uint8_t> s = cursor_.Next();
                if (!s) return false;
                if (*s == '\\')
                    cursor_.Next();
                else
                    parens += *s == '(' ? 1 : *s == ')' ? -1 : 0;
            }
        }
        if (depth < 0) return false;
    }
    return false;
}

PdfWalk::Step PdfWalk::CheckLength(uint64_t objectAt, uint64_t dataAt, uint64_t endstreamAt,
                                   uint64_t length) {
    // The data ends where the length says, then at most an end of line before "endstream".
    if (dataAt + length > endstreamAt || endstreamAt - (dataAt + length) > 2) {
        provenTo_ = std::min(provenTo_, objectAt);
        failAt_ = endstreamAt + 9;
        return Step::kWrong;
    }
    return Step::kGood;
}

PdfWalk::Step PdfWalk::Stream(uint64_t objectAt, std::string_view dictionary) {
    // "stream" then CR LF or LF (a lone CR is taken too), then the data.
    if (!Match("\r\n") && !Match("\n") && !Match("\r")) {
        failAt_ = cursor_.Pos() + 1;
        return Step::kWrong;
    }
    const uint64_t dataAt = cursor_.Pos();
    const std::optional<KeyValue> length = IntegerKey(dictionary, "/Length");
    const std::string filter = SingleFilter(dictionary);
    std::optional<uint64_t> dataEnd;
    uint64_t searchFrom = dataAt, searchBytes = kMaxEndstreamSearch;
    if (length && !length->reference) {
        if (dataAt + length->value > length_) {
            failAt_ = length_;
            return Step::kWrong;
        }
        dataEnd = dataAt + length->value;
    }
    if (filter == "FlateDecode") {
        // A zlib header, deflate data, and its Adler-32 (which some writers leave out).
        uint8_t head[2];
        if (!fragment_reading::Bytes(file_, dataAt, 2, head) || (head[0] & 0x0F) != 8 || (head[1] & 0x20) ||
            ((head[0] << 8) | head[1]) % 31 != 0) {
            failAt_ = dataAt + 2;
            return Step::kWrong;
        }
        const uint64_t limit = dataEnd ? *dataEnd - dataAt : length_ - dataAt;
        const std::optional<DeflateEnd> end = WalkDeflate(file_, dataAt + 2, limit * 1032 + 65536);
        // The checksum (big-endian) proves the bytes of stored blocks too, which deflate leaves unchecked.
        const std::optional<uint32_t> adler = end ? fragment_reading::U32Be(file_, end->end) : std::nullopt;
        // Without a length to say so, a stream whose checksum was left out
        // goes straight on to its end of line or "endstream".
        const bool adlerHeld =
            adler && (dataEnd ? end->end + 4 <= *dataEnd
                              : *adler >> 24 != '\r' && *adler >> 24 != '\n' && *adler >> 24 != 'e');
        if (!end || (dataEnd && (end->end > *dataEnd || end->end + 6 < *dataEnd)) ||
            (adlerHeld && *adler != end->adler && !(dataEnd && end->end == *dataEnd))) {
            failAt_ = dataEnd ? *dataEnd : end ? end->end + 4 : length_;
            return Step::kWrong;
        }
        // With the length given elsewhere, "endstream" follows the checksum and an end of line.
        if (!dataEnd) {
            searchFrom = end->end;
            searchBytes = 8;
        }
    } else if (filter == "DCTDecode" && dataEnd) {
        RangeSource picture(file_, dataAt, *dataEnd - dataAt);
        const FragmentVerdict v = CheckJpegFragments(picture);
        if (v.check == FragmentCheck::kInvalidAt) {
            if (!placed_.empty()) provenTo_ = std::max(provenTo_, dataAt + v.offset);
            failAt_ = dataAt + (v.end ? v.end : *dataEnd - dataAt);
            return Step::kWrong;
        }
    }
    uint64_t endstreamAt = 0;
    if (dataEnd) {
        cursor_.Seek(*dataEnd);
        Match("\r\n") || Match("\n") || Match("\r");
        endstreamAt = cursor_.Pos();
        if (!Match("endstream")) {
            failAt_ = endstreamAt + 9;
            return Step::kWrong;
        }
    } else {
        // Found by searching from where the data (or its deflate stream) ends.
        cursor_.Seek(searchFrom);
        for (uint64_t steps = 0;; ++steps) {
            const std::optional<uint8_t> c = cursor_.Peek();
            if (!c || steps > searchBytes) {
                failAt_ = c ? cursor_.Pos() + 9 : length_;
                return c || cursor_.Pos() >= length_ ? Step::kWrong : Step::kUnread;
            }
            if (*c == 'e' && Match("endstream")) break;
            cursor_.Next();
        }
        endstreamAt = cursor_.Pos() - 9;
        if (length && length->reference) {
            const auto number = static_cast<uint32_t>(length->value);
            if (const auto it = integers_.find(number); it != integers_.end()) {
                if (CheckLength(objectAt, dataAt, endstreamAt, it->second) != Step::kGood)
                    return Step::kWrong;
            } else {
                pendingLengths_.emplace(number, Pending{objectAt, dataAt, endstreamAt});
            }
        }
    }
    return Step::kGood;
}

PdfWalk::Step PdfWalk::Object(uint64_t at, uint32_t number) {
    // The text up to "stream" or "endobj", strings and comments skipped.
    std::string text;
    int parens = 0;
    for (uint64_t steps = 0; steps < kMaxObjectText; ++steps) {
        const uint64_t here = cursor_.Pos();
        const std::optional<uint8_t> c = cursor_.Next();
        if (!c) {
            failAt_ = length_;
            return here >= length_ ? Step::kWrong : Step::kUnread;
        }
        if (parens > 0) {
            if (*c == '\\')
                cursor_.Next();
            else
                parens += *c == '(' ? 1 : *c == ')' ? -1 : 0;
        } else if (*c == '(') {
            parens = 1;
        } else if (*c == '%') {
            std::optional<uint8_t> d;
            while ((d = cursor_.Next()) && *d != '\n' && *d != '\r') {
            }
        } else if ((*c == 'e' || *c == 's') &&
                   (text.empty() || IsDelimiter(static_cast<uint8_t>(text.back())))) {
            cursor_.Seek(here);
            if (Match("endobj")) {
                // An object that is one integer may be a stream's length.
                size_t p = 0;
                while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
                uint64_t v = 0;
                size_t digits = 0;
                while (p < text.size() && text[p] >= '0' && text[p] <= '9' && digits < 15)
                    v = v * 10 + static_cast<uint64_t>(text[p++] - '0'), ++digits;
                while (p < text.size() && IsSpace(static_cast<uint8_t>(text[p]))) ++p;
                if (digits > 0 && p == text.size()) {
                    integers_[number] = v;
                    const auto [first, last] = pendingLengths_.equal_range(number);
                    for (auto it = first; it != last; ++it)
                        if (CheckLength(it->second.objectAt, it->second.dataAt, it->second.endstreamAt, v) !=
                            Step::kGood)
                            return Step::kWrong;
                    pendingLengths_.erase(number);
                }
                return Step::kGood;
            }
            if (Match("stream")) {
                const Step s = Stream(at, text);
                if (s != Step::kGood) return s;
                SkipSpace();
                if (!Match("endobj")) {
                    failAt_ = cursor_.Pos() + 6;
                    return Step::kWrong;
                }
                if (text.find("/XRef") != std::string::npos) xrefAt_.push_back(at);
                return Step::kGood;
            }
            cursor_.Next();
        }
        if (text.size() < kMaxDictionaryText) text.push_back(static_cast<char>(*c));
    }
    failAt_ = cursor_.Pos();
    return Step::kWrong;
}

PdfWalk::Step PdfWalk::XrefTable() {
    // Subsections "first count", each entry "offset generation n|f".
    for (uint32_t total = 0;;) {
        SkipSpace();
        const uint64_t at = cursor_.Pos();
        if (Match("trailer")) break;
        const std::optional<uint64_t> first = Number();
        SkipSpace();
        const std::optional<uint64_t> count = Number();
        if (!first || !count || *first > 0xFFFFFFFFu || *count > kMaxXrefEntries - total) {
            failAt_ = at + 1;
            return Step::kWrong;
        }
        total += static_cast<uint32_t>(*count);
        for (uint64_t i = 0; i < *count; ++i) {
            SkipSpace();
            const uint64_t entryAt = cursor_.Pos();
            const std::optional<uint64_t> offset = Number();
            SkipSpace();
            const std::optional<uint64_t> generation = Number();
            SkipSpace();
            const std::optional<uint8_t> kind = cursor_.Next();
            if (!offset || !generation || !kind || (*kind != 'n' && *kind != 'f')) {
                failAt_ = entryAt + 20;
                return Step::kWrong;
            }
            if (*kind == 'n') entries_.push_back({*offset, static_cast<uint32_t>(*first + i)});
        }
    }
    SkipSpace();
    if (!SkipDictionary()) {
        failAt_ = cursor_.Pos() + 1;
        return Step::kWrong;
    }
    return Step::kGood;
}

FragmentVerdict PdfWalk::CheckTables() {
    // In the order they lie: the first object a table places wrongly is
    // where the bytes went wrong, after the last one it placed rightly.
    std::sort(entries_.begin(), entries_.end(),
              [](const XrefEntry& a, const XrefEntry& b) { return a.offset < b.offset; });
    uint64_t good = 0;
    for (const XrefEntry& e : entries_) {
        if (!objects_.count({e.offset, e.number})) {
            provenTo_ = good;
            return Wrong(e.offset + 20);
        }
        good = e.offset;
    }
    if (xrefAt_.empty() || !haveStartxref_ ||
        std::find(xrefAt_.begin(), xrefAt_.end(), startxref_) == xrefAt_.end()) {
        provenTo_ = good;
        return Wrong(length_);
    }
    return FragmentVerdict::Valid(length_);
}

void PdfWalk::ReadTablesFirst() {
    constexpr uint64_t kTail = 2048;
    const uint64_t from = length_ > kTail ? length_ - kTail : 0;
    std::vector<uint8_t> tail;
    if (!ReadSourceBytes(file_, from, static_cast<size_t>(length_ - from), tail)) return;
    const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
    const size_t at = text.rfind("startxref");
    if (at == std::string_view::npos) return;
    cursor_.Seek(from + at + 9);
    SkipSpace();
    std::optional<uint64_t> section = Number();
    std::set<uint64_t> seen;
    for (uint32_t sections = 0; section && sections < 1000 && seen.insert(*section).second; ++sections) {
        cursor_.Seek(*section);
        if (!Match("xref") || XrefTable() != Step::kGood) break;
        for (const XrefEntry& e : entries_) placed_.emplace(e.offset, e.number);
        entries_.clear();
        // The dictionary just skipped: its /Prev names the section before.
        const uint64_t end = cursor_.Pos();
        cursor_.Seek(*section);
        section.reset();
        for (uint64_t steps = 0; cursor_.Pos() + 5 < end && steps < end; ++steps) {
            if (Match("/Prev")) {
                SkipSpace();
                section = Number();
                break;
            }
            cursor_.Next();
        }
    }
    entries_.clear();
}

FragmentVerdict PdfWalk::Run() {
    if (!Match("%PDF-"))
        return length_ < 5 || cursor_.Peek() ? FragmentVerdict::InvalidAt(0) : FragmentVerdict::CannotTell(0);
    // The header line (and the binary comment after it) are skipped as comments.
    cursor_.Seek(0);
    SkipSpace();
    provenTo_ = cursor_.Pos();
    const uint64_t bodyAt = provenTo_;
    ReadTablesFirst();
    cursor_.Seek(bodyAt);
    for (uint32_t n = 0; n < kMaxObjects; ++n) {
        SkipSpace();
        const uint64_t at = cursor_.Pos();
        if (at >= length_) return Wrong(length_);  // a file ends with its end-of-file mark
        Step step = Step::kGood;
        if (Match("xref")) {
            xrefAt_.push_back(at);
            step = XrefTable();
        } else if (Match("startxref")) {
            SkipSpace();
            const std::optional<uint64_t> offset = Number();
            SkipSpace();
            if (!offset || !Match("%%EOF")) return Wrong(cursor_.Pos() + 5);
            startxref_ = *offset;
            haveStartxref_ = true;
            Match("\r\n") || Match("\n") || Match("\r");
            if (cursor_.Pos() == length_) return CheckTables();
        } else {
            const std::optional<uint64_t> number = Number();
            SkipSpace();
            const std::optional<uint64_t> generation = Number();
            SkipSpace();
            if (!number || !generation || *number > 0xFFFFFFFFu || !Match("obj")) {
                if (!cursor_.Peek() && cursor_.Pos() < length_) return FragmentVerdict::CannotTell(provenTo_);
                return Wrong(cursor_.Pos() + 1);
            }
            if (!placed_.empty()) {
                // The wrong byte lies after the start of the last object the
                // tables placed (its body is not proven) and before this one's header ends.
                if (!placed_.count({at, static_cast<uint32_t>(*number)})) return Wrong(cursor_.Pos());
                provenTo_ = at;
            }
            objects_.emplace(at, static_cast<uint32_t>(*number));
            step = Object(at, static_cast<uint32_t>(*number));
        }
        if (step == Step::kUnread) return FragmentVerdict::CannotTell(provenTo_);
        if (step == Step::kWrong) return Wrong(failAt_);
    }
    return FragmentVerdict::CannotTell(provenTo_);
}

}  // namespace

FragmentVerdict CheckPdfFragments(FileByteSource& file) {
    FragmentVerdict v = PdfWalk(file).Run();
    v.offset = std::min(v.offset, file.Length());
    v.end = std::min(v.end, file.Length());
    return v;
}

}  // namespace sorvane
