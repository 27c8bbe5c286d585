// The one way a found file becomes a file in the destination, for every front
// end: written under "NAME.part" and renamed only when complete, so a file
// with its final name is always a whole one, whatever stops the program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engines/file_recovery_parse.h"
#include "results/found_item_record.h"

namespace sorvane {

// The first free final name for `wanted`: "NAME.ext", then "NAME(1).ext", ...
// A name is shortened before its extension so that its ".part" form fits the
// file system's name limit. A name whose ".part" file is left from an
// earlier, stopped run is free (that file is replaced); one whose ".part" is
// anything else (a link, a folder) is not. Empty when no free name is found.
std::filesystem::path FreeRecoveryPath(const std::filesystem::path& wanted);

// "NAME.ext" as the recovery may write it with the n-th number ("NAME(n).ext",
// none for 0), shortened before the extension so that "NAME(n).ext.part" has
// at most 255 bytes.
std::string FittedRecoveryName(const std::string& name, int number);

// Copies `record` to a free name for `wanted` (a path below `destination`,
// already made safe) by way of its ".part" file. `written` gets the final
// path. Returns 0, kCancelCode, or an error code (kErrDiskFull when the
// destination filled); on any failure no partial file is left. A name the
// destination refuses (FAT takes no ':' or '?') is tried again with every name
// below `destination` mended by the Windows rules. Files and
// folders it makes belong to the invoking user after an administrator
// restart. A folder record is recovered below `wanted` as the engine does it.
int RecoverFileSafely(IFileRecoveryParse& engine, const FoundItemRecord& record,
                      const std::filesystem::path& destination, const std::filesystem::path& wanted,
                      uint32_t baseDepth, std::filesystem::path& written);

}  // namespace sorvane
