// How the deep scan lists each file once when two engines found it: a folder
// that the quick engine read from the live file system and the deep engine
// met again in free space is one folder, told by its directory cluster (FAT,
// exFAT) or its file record (NTFS), not by where its files' data starts (an
// empty file has none). And a file-system file whose name lost its
// extension takes the one the carver found for the same bytes. Functions of
// records only: the coordinator reads and writes the logs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "results/found_item_record.h"

namespace sorvane {

// A folder the quick engine listed, as the deep engine's records name it.
using FolderIdentity = std::pair<EngineCode, uint32_t>;  // deep engine, folder key

// For every folder record of the quick engine (`quickFolders`), the identity
// a deep engine's record of the same folder has, and the quick name. Folders
// of engines without a deep counterpart are left out.
std::map<FolderIdentity, std::string> QuickFolderNames(const std::vector<FoundItemRecord>& quickFolders);

// The quick engine's name for `deepFolder` (a deep engine's folder record),
// if the quick engine listed the same folder.
std::optional<std::string> QuickNameOf(const std::map<FolderIdentity, std::string>& quickNames,
                                       const FoundItemRecord& deepFolder);

// `file` (a file-system file) renamed with the extension of `carved` (a
// carved file that starts at the same sector): only when `file`'s name has no
// extension and both are the same length. None otherwise.
std::optional<FoundItemRecord> WithCarvedExtension(const FoundItemRecord& file,
                                                   const FoundItemRecord& carved);

}  // namespace sorvane
