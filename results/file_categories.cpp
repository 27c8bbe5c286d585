#include "results/file_categories.h"

#include <cstdio>
#include <ctime>
#include <system_error>

#include "platform/file_time.h"
#include "results/safe_name.h"

namespace sorvane {

namespace {

// Bound on the search for a free name; a folder with this many copies of one
// name is taken as full rather than probed forever.
constexpr int kMaxUniqueAttempts = 1000000;

std::string JoinLists(std::initializer_list<std::string_view> lists) {
    std::string text;
    for (std::string_view list : lists) {
        if (!text.empty()) text += '|';
        text += list;
    }
    return text;
}

}  // namespace

const std::string& KnownExtensionText() {
    static const std::string text = JoinLists(
        {kPhotoExtensions, kAudioExtensions, kDocumentExtensions, kVideoExtensions, kArchiveExtensions});
    return text;
}

std::string AllCategoriesPattern() {
    return JoinLists(
        {kPhotoExtensions, kAudioExtensions, kVideoExtensions, kDocumentExtensions, kArchiveExtensions});
}

std::string LowerExtension(std::string_view fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(fileName.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

bool IsPhotoExtension(std::string_view lowerExtension) {
    return !lowerExtension.empty() && kPhotoExtensions.find(lowerExtension) != std::string_view::npos;
}

// Extensions whose preview is the file itself, written under its own name.
constexpr std::string_view kPreviewDocumentExtensions =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|"
    "*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

bool ListHasExtension(std::string_view list, std::string_view lowerExtension) {
    if (lowerExtension.empty()) return false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find('|', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view entry = list.substr(start, end - start);
        if (entry.size() == lowerExtension.size() + 2 && entry.substr(0, 2) == "*." &&
            entry.substr(2) == lowerExtension)
            return true;
        start = end + 1;
    }
    return false;
}

PreviewForm PreviewFormOf(std::string_view fileName) {
    const std::string ext = LowerExtension(fileName);
    if (ListHasExtension(kPreviewDocumentExtensions, ext)) return PreviewForm::kDocument;
    if (ListHasExtension(kPhotoExtensions, ext)) return PreviewForm::kPicture;
    if (ListHasExtension(kAudioExtensions, ext) || ListHasExtension(kVideoExtensions, ext))
        return PreviewForm::kMedia;
    return PreviewForm::kFirstBytes;
}

std::string PreviewFileName(PreviewForm form, std::string_view fileName) {
    switch (form) {
        case PreviewForm::kDocument:
            return SafeFileName(fileName);
        case PreviewForm::kPicture:
            return "tmp.jpg";
        case PreviewForm::kMedia:
            return "tmp.avi";
        case PreviewForm::kFirstBytes:
            break;
    }
    return {};
}

std::string CategoryFolderName(std::string_view fileName) {
    std::string ext = LowerExtension(fileName);
    // An empty extension is a substring of every list; it belongs to none.
    if (ext.empty()) return "others";
    if (ext.size() > 26) ext.resize(26);
    static constexpr struct {
        std::string_view list;
        const char* folder;
    } kFolders[] = {{kPhotoExtensions, "photo"},
                    {kAudioExtensions, "audio"},
                    {kVideoExtensions, "video"},
                    {kDocumentExtensions, "document"},
                    {kArchiveExtensions, "archive"}};
    for (const auto& f : kFolders)
        if (f.list.find(ext) != std::string_view::npos) return f.folder;
    return "others";
}

TypeChoice EveryType() {
    return TypeChoice{{"photo", "audio", "video", "document", "archive", "other"}, {}, {}};
}

bool ChosenByType(const TypeChoice& choice, std::string_view fileName) {
    const std::string extension = LowerExtension(fileName);
    if (!extension.empty() && choice.excluded.count(extension)) return false;
    if (!extension.empty() && choice.extensions.count(extension)) return true;
    std::string category = CategoryFolderName(fileName);
    if (category == "others") category = "other";
    return choice.categories.count(category) != 0;
}

std::string SearchPatternOf(const TypeChoice& choice) {
    static constexpr struct {
        const char* category;
        std::string_view list;
    } kLists[] = {{"photo", kPhotoExtensions},
                  {"audio", kAudioExtensions},
                  {"video", kVideoExtensions},
                  {"document", kDocumentExtensions},
                  {"archive", kArchiveExtensions}};
    std::string pattern;
    auto add = [&pattern](std::string_view piece) {
        if (!pattern.empty()) pattern += '|';
        pattern += piece;
    };
    for (const auto& entry : kLists)
        if (choice.categories.count(entry.category)) add(entry.list);
    for (const std::string& extension : choice.extensions) add("*." + extension);
    // A file's category comes from a substring of a list ("ts" is video
    // through "*.mts"), but a search finds such an extension, which no list
    // holds whole, only through ".other": any category needs it.
    if (!choice.categories.empty()) add(kOtherPattern);
    return pattern;
}

std::string FastLogName(int64_t partitionStart, int year, int month, int day, int hour, int minute) {
    char text[96];
    std::snprintf(text, sizeof text, "Fast_%lld_%d%d%d%d%2d", static_cast<long long>(partitionStart), year,
                  month, day, hour, minute);
    return text;
}

std::string FastLogNameNow(int64_t partitionStart) {
    std::time_t now = std::time(nullptr);
    const std::tm local = LocalTimeOf(now);
    return FastLogName(partitionStart, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min);
}

std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path) {
    std::error_code ec;
    auto taken = [&ec](const std::filesystem::path& p) {
        // symlink_status: a dangling link counts as taken, so nothing is ever
        // written through a link left in the destination.
        return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
    };
    if (!taken(path)) return path;
    std::filesystem::path folder = path.parent_path();
    const std::filesystem::path base = path.stem();
    const std::filesystem::path ext = path.extension();
    for (int n = 1; n <= kMaxUniqueAttempts; ++n) {
        std::filesystem::path candidate = folder / base;
        candidate += "(" + std::to_string(n) + ")";
        candidate += ext;
        if (!taken(candidate)) return candidate;
    }
    return {};
}

}  // namespace sorvane
