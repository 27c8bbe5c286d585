// What a found file's content-check field says, and the word a person reads
// for it. Engines that find a file by name set it from the header check;
// carving sets it from what the file's own structure showed.
#pragma once

#include <cstdint>

namespace sorvane {

// How far the bytes of a carved file were checked against its own structure.
enum class ContentVerdict : uint8_t {
    kNotChecked = 0,  // the type's structure says nothing about it, or it was not looked at
    kWhole = 1,       // every check the structure allows passed
    kDamaged = 2,     // the structure was found broken or cut short
};

// Values of the content-check field of a found-item record. 0 and 1 keep
// their first meaning (the first bytes contradict the extension; agree with it
// or were not checked), so older scan logs read the same.
inline constexpr uint32_t kContentContradicts = 0;
inline constexpr uint32_t kContentNotChecked = 1;
inline constexpr uint32_t kContentWhole = 2;
inline constexpr uint32_t kContentDamaged = 3;

constexpr uint32_t ContentCheckValue(ContentVerdict verdict) {
    switch (verdict) {
        case ContentVerdict::kWhole:
            return kContentWhole;
        case ContentVerdict::kDamaged:
            return kContentDamaged;
        default:
            return kContentNotChecked;
    }
}

// "whole", "damaged" or "not checked": a file whose first bytes contradict its
// type is damaged too, since what would be recovered is not that file.
constexpr const char* ContentCheckWord(uint32_t value) {
    switch (value) {
        case kContentWhole:
            return "whole";
        case kContentContradicts:
        case kContentDamaged:
            return "damaged";
        default:
            return "not checked";
    }
}

}  // namespace sorvane
