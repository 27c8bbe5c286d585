#include "results/file_condition.h"

#include "carving/content_check.h"

namespace sorvane {

bool ImpossibleEntry(const FoundItemRecord& r, uint64_t volumeBytes, uint32_t sectorSize) {
    if (r.IsFolder() || volumeBytes == 0) return false;
    const uint64_t size = r.size;
    if (size > volumeBytes) return true;
    if (r.Engine() != EngineCode::kQuickFat && r.Engine() != EngineCode::kDeepFat) return false;
    if (size == 0) return false;  // an empty file has no cluster
    const uint64_t cluster = r.key, clusterBytes = r.clusterBytes, dataStart = r.dataStart;
    if (cluster < 2) return true;
    if (clusterBytes == 0 || dataStart == 0) return false;  // where the data lies is not known
    const uint64_t dataBytes = dataStart * sectorSize;
    return dataBytes >= volumeBytes || (cluster - 2) >= (volumeBytes - dataBytes) / clusterBytes;
}

FileCondition ConditionOf(const FoundItemRecord& r, uint64_t volumeBytes, uint32_t sectorSize) {
    if (r.IsFolder()) return FileCondition::kNotChecked;
    if (ImpossibleEntry(r, volumeBytes, sectorSize)) return FileCondition::kImpossible;
    if (IsExfatRecord(r) && (r.engineSpecific & kExfatDamaged)) return FileCondition::kDamaged;
    switch (r.contentCheck) {
        case kContentWhole:
            return FileCondition::kWhole;
        case kContentContradicts:
        case kContentDamaged:
            return FileCondition::kDamaged;
        default:
            return FileCondition::kNotChecked;
    }
}

void SetRebuiltPieces(FoundItemRecord& r, uint32_t pieces) {
    r.engineSpecific &= ~kRebuiltPiecesMask;
    if (pieces >= 2 && pieces <= kMaxRebuiltPieces) r.engineSpecific |= pieces << kRebuiltPiecesShift;
}

uint32_t RebuiltPieces(const FoundItemRecord& r) {
    const EngineCode e = r.Engine();
    const bool fatFamily = e == EngineCode::kQuickFat || e == EngineCode::kDeepFat || IsExfatRecord(r);
    if (r.IsFolder() || !fatFamily || r.contentCheck != kContentWhole) return 0;
    const uint32_t pieces = (r.engineSpecific & kRebuiltPiecesMask) >> kRebuiltPiecesShift;
    return pieces >= 2 ? pieces : 0;
}

std::string RebuiltNote(const FoundItemRecord& r) {
    const uint32_t pieces = RebuiltPieces(r);
    return pieces ? "rebuilt from " + std::to_string(pieces) + " pieces" : std::string();
}

const char* ConditionWord(FileCondition condition) {
    switch (condition) {
        case FileCondition::kWhole:
            return "whole";
        case FileCondition::kDamaged:
            return "damaged";
        case FileCondition::kImpossible:
            return "impossible";
        case FileCondition::kNotChecked:
            break;
    }
    return "not checked";
}

}  // namespace sorvane
