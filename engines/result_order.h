// The order of every result list: files before folders, then names compared
// ignoring case, ascending. The sort is stable.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "engines/found_item_record.h"
#include "platform/text_encoding.h"

namespace sorvane {

// Header-only so the scan log, which sorts its listings, does not depend on the
// engine library. Names are compared in place: a listing of a large folder
// sorts without building a string per comparison.
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

inline void SortResultList(std::vector<FoundItemRecord>& list) {
    if (list.size() > 1) std::stable_sort(list.begin(), list.end(), ResultListLess);
}

}  // namespace sorvane
