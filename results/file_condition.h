// How far a found file's content can be trusted, folded into one word that
// every front end shows: the command line's listing, the window's list, its
// preview pane and its recovery rows all read it from here.
#pragma once

#include <cstdint>

#include "results/found_item_record.h"

namespace sorvane {

enum class FileCondition : uint8_t {
    kWhole,       // the content check found the file's structure intact
    kDamaged,     // broken, cut short, taken by another file, or not what its name says
    kNotChecked,  // nothing contradicts it, nothing proved it whole
    kImpossible,  // the entry describes what its volume cannot hold
};

// exFAT records: some of the file's clusters are in use by the live file
// system, so what they hold now is not (all) the file's data.
inline constexpr uint32_t kExfatDamaged = 1u << 0;

// True for records whose engine-specific bits follow the exFAT meaning.
inline bool IsExfatRecord(const FoundItemRecord& record) {
    return record.Engine() == EngineCode::kQuickExfat || record.Engine() == EngineCode::kDeepExfat;
}

// True when `record` describes what the volume cannot hold: a file larger
// than the volume, or a FAT file whose data would start at cluster 0 or 1 or
// past the volume's end. 0 bytes stands for a volume of unknown size.
bool ImpossibleEntry(const FoundItemRecord& record, uint64_t volumeBytes, uint32_t sectorSize);

// The condition of a file found on a volume of `volumeBytes` (0: unknown)
// with sectors of `sectorSize` bytes: impossible first, then the exFAT damaged
// flag, then the content check. Folders are kNotChecked.
FileCondition ConditionOf(const FoundItemRecord& record, uint64_t volumeBytes, uint32_t sectorSize);

// "whole", "damaged", "not checked" or "impossible".
const char* ConditionWord(FileCondition condition);

// True when a recovered copy may not open: damaged or impossible.
inline bool MayNotOpen(FileCondition condition) {
    return condition == FileCondition::kDamaged || condition == FileCondition::kImpossible;
}

}  // namespace sorvane
