#include "results/size_text.h"

#include <cstdio>

namespace sorvane {

std::string FormatSizeText(uint64_t bytes) {
    struct Unit {
        uint64_t size;
        const char* name;
    };
    static constexpr Unit kUnits[] = {{uint64_t{1} << 40, " TB"},
                                      {uint64_t{1} << 30, " GB"},
                                      {uint64_t{1} << 20, " MB"},
                                      {uint64_t{1} << 10, " KB"}};
    char text[64];
    for (const Unit& unit : kUnits) {
        if (bytes >= unit.size) {
            std::snprintf(text, sizeof text, "%.2f%s", double(bytes) / double(unit.size), unit.name);
            return text;
        }
    }
    std::snprintf(text, sizeof text, "%llu Bytes", static_cast<unsigned long long>(bytes));
    return text;
}

}  // namespace sorvane
