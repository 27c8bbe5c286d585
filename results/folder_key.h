// How records are filed under their parent folder. A RelationKey holds the
// parent's FolderKey in its low 32 bits and the parent's FolderLevel in its high
// 32 bits; the volume root has level 0 and no record of its own.
#pragma once

#include <cstdint>
#include <string>

namespace sorvane {

using FolderKey = uint32_t;
using FolderLevel = uint32_t;
using RelationKey = uint64_t;

inline constexpr FolderKey kNtfsRootKey = 5;  // the root folder's MFT record number

constexpr RelationKey MakeRelationKey(FolderKey key, FolderLevel level) {
    return (static_cast<uint64_t>(level) << 32) | key;
}
constexpr FolderKey RelationFolderKey(RelationKey relation) { return static_cast<FolderKey>(relation); }
constexpr FolderLevel RelationLevel(RelationKey relation) { return static_cast<FolderLevel>(relation >> 32); }

// Name of an orphan folder whose parent cannot be found; filed under the root.
inline std::string LostFolderName(FolderKey key) { return "LostFolder" + std::to_string(key); }

}  // namespace sorvane
