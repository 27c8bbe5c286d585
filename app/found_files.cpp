#include "app/found_files.h"

#include <cstdio>
#include <string>

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

uint64_t CheckedFileKey(const FoundItemRecord& record) {
    const uint64_t high = uint64_t{record.letter} * 65536u + (record.engineCode & 0xFFFFu);
    return high << 32 | record.recordNumber;
}

QString FileTimeText(uint64_t fileTime) {
    // A carved file has no dates: an empty cell says so without a placeholder to puzzle over.
    if (fileTime == 0) return QString();
    // "YYYY-MM-DD HH:MM:SS" as stored, shown without leading zeros in the date.
    const std::string text = FormatFileTime(fileTime);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return QString::fromStdString(text);
    return QString::asprintf("%d-%d-%d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

QString FileTypeText(const FoundItemRecord& record) {
    if (record.IsFolder()) return QStringLiteral("folder");
    const std::string name = record.Name();
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return QStringLiteral("file");
    return QString::fromStdString(name.substr(dot + 1));
}

QString FileIconOf(const FoundItemRecord& record) {
    QString base;
    if (record.IsFolder()) {
        base = QStringLiteral("folder");
    } else {
        const std::string extension = LowerExtension(record.Name());
        if (extension == "exe")
            base = QStringLiteral("exe");
        else if (InList(kPhotoExtensions, extension))
            base = QStringLiteral("image");
        else if (InList(kAudioExtensions, extension))
            base = QStringLiteral("music");
        else if (InList(kDocumentExtensions, extension))
            base = QStringLiteral("doc");
        else if (InList(kVideoExtensions, extension))
            base = QStringLiteral("video");
        else if (InList(kArchiveExtensions, extension))
            base = QStringLiteral("zip");
        else
            base = QStringLiteral("default");
    }
    const bool contradicts = !record.IsFolder() && record.contentCheck == 0;
    return QStringLiteral("FileIcon/") + base +
           (contradicts ? QStringLiteral("_error.png") : QStringLiteral(".png"));
}

QString SizeText(uint64_t bytes) { return QString::fromStdString(FormatSizeText(bytes)); }

std::filesystem::path RecoveryPathOf(const std::filesystem::path& destination,
                                     const FoundItemRecord& record) {
    std::filesystem::path joined;
    if (!JoinInsideDestination(destination, {CategoryFolderName(record.Name())}, record.Name(), joined))
        return {};
    return UniqueDestinationPath(joined);
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
    const std::string text = destination.string();
    uint32_t count = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '/' || text[i] == '\\') ++count;
    return count;
}

}  // namespace sorvane::app
