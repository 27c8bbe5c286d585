// The order of every result list: files before folders, then names compared
// ignoring case, ascending. The sort is stable.
#pragma once

#include <vector>

#include "engines/found_item_record.h"

namespace sorvane {

bool ResultListLess(const FoundItemRecord& a, const FoundItemRecord& b);
void SortResultList(std::vector<FoundItemRecord>& list);

}  // namespace sorvane
