// The result holder of one preview and the extraction that fills it. The
// holder lives from the start of a preview until the pane shows it; the
// extraction runs on the preview window's worker thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/preview/document_view.h"
#include "engines/file_recovery_parse.h"

namespace sorvane::app {

class CPreviewWnd {
  public:
    // At most this much of a file is held in memory for a raw preview.
    static constexpr size_t kBufferCapacity = 0x1400000;

    CPreviewWnd();
    // Frees the buffer and deletes the temporary file it names.
    ~CPreviewWnd();
    CPreviewWnd(const CPreviewWnd&) = delete;
    CPreviewWnd& operator=(const CPreviewWnd&) = delete;

    FoundItemRecord record{};
    // The extracted file in the preview folder; empty when the data is in `buffer`.
    std::filesystem::path tempPath;
    std::vector<uint8_t> buffer;
    size_t byteCount = 0;  // bytes delivered into `buffer`
    bool media = false;
    bool audio = false;
    bool document = false;
    bool pdf = false;
    std::unique_ptr<IDocumentView> converter;
};

// What the extraction needs besides the engine.
struct PreviewExtractionEnv {
    ConverterFolders folders;
    // Ends the media players of an earlier preview.
    std::function<void()> endPlayers;
    // How long ended players get to let go of the media file before it is rewritten.
    std::chrono::milliseconds playerSettle{1000};
};

// Classifies the record's file, ends earlier players, makes the document
// converter and has the engine extract the file into `holder`. Returns the
// engine's answer (kCancelCode when the progress callback cancelled).
int RunPreviewExtraction(IFileRecoveryParse& engine, const FoundItemRecord& record, CPreviewWnd& holder,
                         const PreviewExtractionEnv& env, PreviewProgressCallback progress, void* userData);

}  // namespace sorvane::app
