// How far a found file's content can be trusted, folded into one word that
// every front end shows: the command line's listing, the window's list, its
// preview pane and its recovery rows all read it from here.
#pragma once

#include <cstdint>
#include <string>

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

// FAT and exFAT records: bits 24-27 hold how many pieces a deleted file
// whose chain was gone was put back together from, when its structure
// validated to the end across them; 0 when it was read as one run.
inline constexpr uint32_t kRebuiltPiecesShift = 24;
inline constexpr uint32_t kRebuiltPiecesMask = 0xFu << kRebuiltPiecesShift;
inline constexpr uint32_t kMaxRebuiltPieces = 15;

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

// Records `pieces` (2 to kMaxRebuiltPieces; anything else clears it) in a
// FAT or exFAT record's engine-specific bits.
void SetRebuiltPieces(FoundItemRecord& record, uint32_t pieces);

// The pieces a file was put back together from, when that is what makes it
// whole: 2 or more for a FAT or exFAT file whose structure validated across
// its pieces, else 0 (one run, or nothing proved the pieces right).
uint32_t RebuiltPieces(const FoundItemRecord& record);

// "rebuilt from N pieces" for a file RebuiltPieces counts, else "".
std::string RebuiltNote(const FoundItemRecord& record);

// "whole", "damaged", "not checked" or "impossible".
const char* ConditionWord(FileCondition condition);

// True when a recovered copy may not open: damaged or impossible.
inline bool MayNotOpen(FileCondition condition) {
    return condition == FileCondition::kDamaged || condition == FileCondition::kImpossible;
}

}  // namespace sorvane
