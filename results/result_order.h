// The order of every result list: files before folders, then names compared
// ignoring case, ascending. The sort is stable.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_encoding.h"
#include "results/found_item_record.h"

namespace sorvane {

// Names are compared in place: a listing of a large folder sorts without
// building a string per comparison.
inline std::string_view ResultNameView(const FoundItemRecord& r) {
    const void* nul = std::memchr(r.name, 0, kNameFieldSize);
    size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - r.name) : kNameFieldSize;
    return std::string_view(r.name, n);
}

inline bool ResultListLess(const FoundItemRecord& a, const FoundItemRecord& b) {
    bool aFolder = a.IsFolder(), bFolder = b.IsFolder();
    if (aFolder != bFolder) return !aFolder;
    return CompareNamesIgnoringCase(ResultNameView(a), ResultNameView(b)) < 0;
}

// Sorts compact keys and then copies each record once: a record is 346 bytes,
// and carrying records (or reaching into them) through every pass of the sort
// costs far more than the comparisons. The position breaks ties, so the result
// is the stable order.
inline void SortResultList(std::vector<FoundItemRecord>& list) {
    const size_t n = list.size();
    if (n < 2) return;
    // Names lower-cased once into one buffer; comparing them bytewise
    // (unsigned, shorter prefix first) is the order of CompareNamesIgnoringCase.
    // The first 8 bytes, big-endian, decide most comparisons as one integer.
    struct Key {
        uint64_t prefix;
        uint32_t folder;
        uint32_t index;
    };
    std::vector<uint32_t> starts(n + 1);
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        starts[i] = static_cast<uint32_t>(total);
        total += ResultNameView(list[i]).size();
    }
    starts[n] = static_cast<uint32_t>(total);
    std::string names(total, '\0');
    std::vector<Key> keys(n);
    for (size_t i = 0; i < n; ++i) {
        std::string_view name = ResultNameView(list[i]);
        char* out = names.data() + starts[i];
        uint64_t prefix = 0;
        for (size_t k = 0; k < name.size(); ++k) {
            char c = name[k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            out[k] = c;
            if (k < 8) prefix |= static_cast<uint64_t>(static_cast<unsigned char>(c)) << (56 - 8 * k);
        }
        keys[i] = {prefix, list[i].IsFolder() ? 1u : 0u, static_cast<uint32_t>(i)};
    }
    auto lowered = [&](uint32_t i) {
        return std::string_view(names.data() + starts[i], starts[i + 1] - starts[i]);
    };
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.folder != b.folder) return a.folder < b.folder;
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        int order = lowered(a.index).compare(lowered(b.index));
        if (order != 0) return order < 0;
        return a.index < b.index;
    });
    // One gathering pass: random reads, but each record is copied once and
    // the writes run in order.
    std::vector<FoundItemRecord> sorted;
    sorted.reserve(n);
    for (const Key& k : keys) sorted.push_back(list[k.index]);
    list.swap(sorted);
}

}  // namespace sorvane
