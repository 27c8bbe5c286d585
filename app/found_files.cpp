#include "app/found_files.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/language_service.h"
#include "carving/content_check.h"
#include "engines/safe_copy.h"
#include "platform/file_time.h"
#include "results/file_categories.h"
#include "results/safe_name.h"
#include "results/size_text.h"

namespace sorvane::app {
namespace {

// Extensions the type tree shows under one node.
const char* const kAliases[][2] = {{"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"},
                                   {"midi", "mid"}, {"m4p", "m4a"},  {"docx", "doc"},
                                   {"xlsx", "xls"}, {"pptx", "ppt"}, {"htm", "html"}};

bool InList(std::string_view list, const std::string& extension) {
    return !extension.empty() && list.find(extension) != std::string_view::npos;
}

QString FileKindBase(const std::string& fileName) {
    const std::string extension = LowerExtension(fileName);
    if (extension == "exe") return QStringLiteral("exe");
    if (InList(kPhotoExtensions, extension)) return QStringLiteral("image");
    if (InList(kAudioExtensions, extension)) return QStringLiteral("music");
    if (InList(kDocumentExtensions, extension)) return QStringLiteral("doc");
    if (InList(kVideoExtensions, extension)) return QStringLiteral("video");
    if (InList(kArchiveExtensions, extension)) return QStringLiteral("zip");
    return QStringLiteral("default");
}

// The language's order of day, month and year ("yyyy-MM-dd", "dd.MM.yyyy").
QString DatePattern() {
    const QString pattern = LanguageService::Instance().Message(QStringLiteral("MSG2130"));
    return pattern.isEmpty() ? QStringLiteral("yyyy-MM-dd") : pattern;
}

}  // namespace

QString GroupingExtension(const FoundItemRecord& record) {
    const std::string lower = LowerExtension(record.Name());
    if (lower.empty()) return QStringLiteral("unknow");
    for (const auto& alias : kAliases) {
        if (lower == alias[0]) return QString::fromLatin1(alias[1]);
    }
    return QString::fromStdString(lower);
}

ExtensionMap BuildExtensionMap(const std::vector<FoundItemRecord>& results) {
    ExtensionMap map;
    for (const FoundItemRecord& record : results) map[GroupingExtension(record)].push_back(&record);
    return map;
}

ExtensionMap BuildExtensionMap(const std::vector<const FoundItemRecord*>& results) {
    ExtensionMap map;
    for (const FoundItemRecord* record : results) map[GroupingExtension(*record)].push_back(record);
    return map;
}

uint64_t CheckedFileKey(const FoundItemRecord& record) {
    const uint64_t high = uint64_t{record.letter} * 65536u + (record.engineCode & 0xFFFFu);
    return high << 32 | record.recordNumber;
}

QString FileTimeText(uint64_t fileTime) {
    // A carved file has no dates: an empty cell says so without a placeholder to puzzle over.
    if (fileTime == 0) return QString();
    // "YYYY-MM-DD HH:MM:SS" as stored; every part keeps its zeros so that
    // dates line up in a column and read the same way in every row.
    const std::string text = FormatFileTime(fileTime);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return QString::fromStdString(text);
    const QDateTime when(QDate(year, month, day), QTime(hour, minute, second));
    if (!when.isValid()) return QString::fromStdString(text);
    return when.toString(DatePattern() + QStringLiteral(" HH:mm"));
}

void SortListedRecords(std::vector<const FoundItemRecord*>& records, int column, bool ascending,
                       const std::function<QString(const FoundItemRecord&)>& text) {
    auto number = [column](const FoundItemRecord& r) -> uint64_t {
        if (column == 2) return r.size;
        return column == 3 ? r.written : r.created;
    };
    if (column >= 2 && column <= 4) {
        std::stable_sort(records.begin(), records.end(),
                         [&](const FoundItemRecord* a, const FoundItemRecord* b) {
                             return ascending ? number(*a) < number(*b) : number(*a) > number(*b);
                         });
        return;
    }
    // Each text is made once, not once per comparison.
    std::vector<std::pair<const FoundItemRecord*, QString>> keyed;
    keyed.reserve(records.size());
    for (const FoundItemRecord* record : records) keyed.emplace_back(record, text(*record));
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        const int order = a.second.compare(b.second, Qt::CaseInsensitive);
        return ascending ? order < 0 : order > 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) records[i] = keyed[i].first;
}

bool ParseFilterDate(const QString& text, bool endOfDay, uint64_t& fileTime) {
    const QString trimmed = text.trimmed();
    QDate date = QDate::fromString(trimmed, DatePattern());
    if (!date.isValid()) date = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid()) return false;
    const std::string iso =
        date.toString(QStringLiteral("yyyy-MM-dd")).toStdString() + (endOfDay ? " 23:59:59" : " 00:00:00");
    if (!ParseFileTime(iso, fileTime)) return false;
    // The last second of the day takes in every fraction of it.
    if (endOfDay) fileTime += 10000000 - 1;
    return true;
}

QString FileTypeText(const FoundItemRecord& record) {
    if (record.IsFolder()) return QStringLiteral("folder");
    const std::string name = record.Name();
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return QStringLiteral("file");
    return QString::fromStdString(name.substr(dot + 1));
}

QString FileKindIcon(const std::string& fileName) {
    return QStringLiteral("FileIcon/") + FileKindBase(fileName) + QStringLiteral(".png");
}

QString FileIconOf(const FoundItemRecord& record, uint64_t volumeBytes, uint32_t sectorSize) {
    const QString base = record.IsFolder() ? QStringLiteral("folder") : FileKindBase(record.Name());
    const bool mayNotOpen = !record.IsFolder() && MayNotOpen(ConditionOf(record, volumeBytes, sectorSize));
    return QStringLiteral("FileIcon/") + base +
           (mayNotOpen ? QStringLiteral("_error.png") : QStringLiteral(".png"));
}

QString ConditionText(FileCondition condition) {
    const char* id = "MSG2103";
    switch (condition) {
        case FileCondition::kWhole:
            id = "MSG2101";
            break;
        case FileCondition::kDamaged:
            id = "MSG2102";
            break;
        case FileCondition::kImpossible:
            id = "MSG2104";
            break;
        case FileCondition::kNotChecked:
            break;
    }
    const QString text = LanguageService::Instance().Message(QString::fromLatin1(id));
    return text.isEmpty() ? QString::fromLatin1(ConditionWord(condition)) : text;
}

QString RecoveredStatusText(const FoundItemRecord& record, FileCondition condition) {
    const char* id = nullptr;
    if (condition == FileCondition::kImpossible)
        id = "MSG2107";
    else if (!record.IsFolder() && record.contentCheck == kContentContradicts)
        id = "MSG2108";
    else if (condition == FileCondition::kDamaged)
        id = "MSG2106";
    if (!id) {
        const QString success = LanguageService::Instance().Message(QStringLiteral("MSG1104"));
        return success.isEmpty() ? QStringLiteral("Success") : success;
    }
    const QString text = LanguageService::Instance().Message(QString::fromLatin1(id));
    return text.isEmpty() ? QString::fromLatin1(ConditionWord(condition)) : text;
}

QString SizeText(uint64_t bytes) { return QString::fromStdString(FormatSizeText(bytes)); }

std::filesystem::path RecoveryWantedPath(const std::filesystem::path& destination,
                                         const FoundItemRecord& record) {
    std::filesystem::path joined;
    if (!JoinInsideDestination(destination, {CategoryFolderName(record.Name())}, record.Name(), joined))
        return {};
    return joined;
}

std::filesystem::path RecoveryPathOf(const std::filesystem::path& destination,
                                     const FoundItemRecord& record) {
    const std::filesystem::path joined = RecoveryWantedPath(destination, record);
    return joined.empty() ? joined : FreeRecoveryPath(joined);
}

QString MarkupSafe(const QString& text) {
    QString safe;
    safe.reserve(text.size());
    for (QChar ch : text) {
        safe += ch;
        // An invisible zero-width space after the opener: no tag name can follow it.
        if (ch == u'{' || ch == u'<') safe += QChar(0x200B);
    }
    return safe;
}

uint32_t BaseDepthOf(const std::filesystem::path& destination) {
    return SeparatorDepth(destination.string());
}

}  // namespace sorvane::app
