// What the results page makes of the found files, apart from drawing them:
// the extension map behind the type tree, the key under which a checked file
// is kept, the texts and icon of a file-list row, and where a recovered file
// goes.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

#include "results/found_item_record.h"

namespace sorvane::app {

// The extension under which a found file is grouped: the text after the last
// ".", lower-cased, with the usual aliases folded ("jpeg" -> "jpg", "docx" ->
// "doc", ...); "unknow" for a name without one.
QString GroupingExtension(const FoundItemRecord& record);

// Normalised extension -> the records with it, in search order.
using ExtensionMap = std::map<QString, std::vector<const FoundItemRecord*>>;
ExtensionMap BuildExtensionMap(const std::vector<FoundItemRecord>& results);

// The checked-file key: volume key and engine code in the high half, the
// record number in the low half, so iteration follows volume, engine, record.
uint64_t CheckedFileKey(const FoundItemRecord& record);

// "%d-%d-%d %02d:%02d:%02d" of a FILETIME as stored, or empty for 0 (no date known).
QString FileTimeText(uint64_t fileTime);
// "folder", the extension as written, or "file".
QString FileTypeText(const FoundItemRecord& record);
// The picture of a file-list row from the skin's FileIcon folder, with
// "_error" when the data contradicts the extension.
QString FileIconOf(const FoundItemRecord& record);
// The size text shown everywhere ("1.50 MB", "12 Bytes").
QString SizeText(uint64_t bytes);

// Where a recovered file goes: destination/category/name, the name made safe,
// numbered "(1)", "(2)", ... when taken. Empty when no safe, free path exists.
std::filesystem::path RecoveryPathOf(const std::filesystem::path& destination, const FoundItemRecord& record);

// A text read from a disk (a volume label, a path) made safe to place in a row
// that draws markup: "{" and "<" can no longer open a tag, and the text shows as it is.
QString MarkupSafe(const QString& text);

// The separator count of a destination folder, as the engines count depth.
uint32_t BaseDepthOf(const std::filesystem::path& destination);

}  // namespace sorvane::app
