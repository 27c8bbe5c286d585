#include "engines/result_order.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace sorvane {

bool ResultListLess(const FoundItemRecord& a, const FoundItemRecord& b) {
    bool aFolder = a.IsFolder(), bFolder = b.IsFolder();
    if (aFolder != bFolder) return !aFolder;
    return CompareNamesIgnoringCase(a.Name(), b.Name()) < 0;
}

void SortResultList(std::vector<FoundItemRecord>& list) {
    if (list.size() > 1) std::stable_sort(list.begin(), list.end(), ResultListLess);
}

}  // namespace sorvane
