#include "app/preview/preview_wnd.h"

#include <string_view>
#include <thread>

#include "results/file_categories.h"

namespace sorvane::app {
namespace {

constexpr std::string_view kPreviewDocumentList =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|"
    "*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

bool Contains(std::string_view list, const std::string& extension) {
    return !extension.empty() && list.find(extension) != std::string_view::npos;
}

}  // namespace

CPreviewWnd::CPreviewWnd() : buffer(kBufferCapacity, 0), byteCount(kBufferCapacity) {}

CPreviewWnd::~CPreviewWnd() {
    if (!tempPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(tempPath, ignored);
    }
}

int RunPreviewExtraction(IFileRecoveryParse& engine, const FoundItemRecord& record, CPreviewWnd& holder,
                         const PreviewExtractionEnv& env, PreviewProgressCallback progress, void* userData) {
    holder.record = record;
    holder.byteCount = holder.buffer.size();
    holder.media = holder.audio = holder.document = holder.pdf = false;
    holder.converter.reset();

    const std::string extension = LowerExtension(record.Name());
    if (Contains(kAudioExtensions, extension)) holder.audio = holder.media = true;
    if (Contains(kVideoExtensions, extension)) holder.media = true;
    if (Contains(kPreviewDocumentList, extension)) holder.document = true;

    // A player of an earlier preview may hold the media file this one rewrites.
    if (env.endPlayers) env.endPlayers();
    if (holder.media) std::this_thread::sleep_for(env.playerSettle);

    if (holder.document) {
        holder.pdf = extension == "pdf";
        holder.converter =
            CreateDocumentView(QStringLiteral("*.") + QString::fromStdString(extension), env.folders);
    }
    if (!holder.tempPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(holder.tempPath, ignored);
        holder.tempPath.clear();
    }
    return engine.PreviewItem(holder.record, holder.tempPath, holder.buffer.data(), holder.byteCount,
                              progress, userData);
}

}  // namespace sorvane::app
