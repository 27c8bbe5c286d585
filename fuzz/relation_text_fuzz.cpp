// Treats arbitrary bytes as a scan log's "_Relation" file: the parser must stay
// inside the text, keep only record numbers, and what it parsed must write out
// and parse back to the same index.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "results/scan_log.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::map<RelationKey, std::vector<uint32_t>> children;
    CScanLog::ParseRelationText(text, children);
    for (const auto& [key, list] : children)
        for (uint32_t n : list)
            if (n == 0) __builtin_trap();
    std::map<RelationKey, std::vector<uint32_t>> again;
    CScanLog::ParseRelationText(CScanLog::FormatRelationText(children), again);
    if (again != children) __builtin_trap();
    return 0;
}
