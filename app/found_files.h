// What the results page makes of the found files, apart from drawing them:
// the extension map behind the type tree, the key under which a checked file
// is kept, the texts and icon of a file-list row, and where a recovered file
// goes.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "results/file_condition.h"
#include "results/found_item_record.h"

namespace sorvane::app {

// The extension under which a found file is grouped: the text after the last
// ".", lower-cased, with the usual aliases folded ("jpeg" -> "jpg", "docx" ->
// "doc", ...); "unknow" for a name without one.
QString GroupingExtension(const FoundItemRecord& record);

// Normalised extension -> the records with it, in search order.
using ExtensionMap = std::map<QString, std::vector<const FoundItemRecord*>>;
ExtensionMap BuildExtensionMap(const std::vector<FoundItemRecord>& results);
ExtensionMap BuildExtensionMap(const std::vector<const FoundItemRecord*>& results);

// The checked-file key: volume key and engine code in the high half, the
// record number in the low half, so iteration follows volume, engine, record.
uint64_t CheckedFileKey(const FoundItemRecord& record);

// A FILETIME as stored, to the minute, zero-padded in the chosen language's
// order ("2026-12-07 14:03", "07.12.2026 14:03"), or empty for 0 (no date known).
QString FileTimeText(uint64_t fileTime);
// "folder", the extension as written, or "file".
QString FileTypeText(const FoundItemRecord& record);
// The skin's picture of a file's kind ("FileIcon/image.png", ...).
QString FileKindIcon(const std::string& fileName);
// The picture of a file-list row from the skin's FileIcon folder, with
// "_error" for a file that may not open (damaged or impossible, ConditionOf
// on a volume of `volumeBytes`, 0 when unknown).
QString FileIconOf(const FoundItemRecord& record, uint64_t volumeBytes = 0, uint32_t sectorSize = 512);
// The condition as the list, the preview and the recovery rows name it, in
// the chosen language.
QString ConditionText(FileCondition condition);
// What a recovery row says of a file copied without error: "Success" for one
// known whole or not checked, else its condition (damaged, impossible, or
// content that contradicts its name), so the rows show which copies may not open.
QString RecoveredStatusText(const FoundItemRecord& record, FileCondition condition);
// Sorts found files by a column of the file list, stably: 2 (size), 3
// (modified) and 4 (created) as numbers, a file without a date first when
// ascending; any other column by `text` of the record, ignoring case.
void SortListedRecords(std::vector<const FoundItemRecord*>& records, int column, bool ascending,
                       const std::function<QString(const FoundItemRecord&)>& text);
// A date the person typed into a filter, in the language's order or as
// YYYY-MM-DD: the FILETIME of its first second, or of its last when `endOfDay`.
// False when the text is no date.
bool ParseFilterDate(const QString& text, bool endOfDay, uint64_t& fileTime);
// The size text shown everywhere ("1.50 MB", "12 Bytes").
QString SizeText(uint64_t bytes);

// Where a recovered file goes: destination/category/name, the name made safe,
// numbered "(1)", "(2)", ... when taken. Empty when no safe, free path exists.
std::filesystem::path RecoveryPathOf(const std::filesystem::path& destination, const FoundItemRecord& record);
// The same before a free name is chosen (the safe copy chooses it): empty
// when the name cannot be placed inside the destination.
std::filesystem::path RecoveryWantedPath(const std::filesystem::path& destination,
                                         const FoundItemRecord& record);

// A text read from a disk (a volume label, a path) made safe to place in a row
// that draws markup: "{" and "<" can no longer open a tag, and the text shows as it is.
QString MarkupSafe(const QString& text);

// The separator count of a destination folder, as the engines count depth.
uint32_t BaseDepthOf(const std::filesystem::path& destination);

}  // namespace sorvane::app
