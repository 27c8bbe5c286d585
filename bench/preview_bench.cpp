// Time from asking for a found file's preview to the pane showing it, for a
// 5 MB JPEG and a 20-page PDF, against opening the same file with the program
// that does the real work alone: the picture decoder for the JPEG, the "tool"
// page renderer for the PDF. Both files lie in a raw image, as on a scanned
// disk, and are extracted from it by an engine for every preview.
//
//   preview_bench SAMPLE_DIR [RUNS]     (SAMPLE_DIR: build/preview_files)
#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/language_service.h"
#include "app/preview/preview_controller.h"
#include "platform/data_dirs.h"
#include "results/file_categories.h"
#include "tests/testkit/null_engine.h"

namespace {

using namespace sorvane;

// Extracts files from a raw image: `location` is the first byte, `size` the length.
class ImageEngine : public testkit::NullEngine {
  public:
    explicit ImageEngine(std::filesystem::path image) : image_(std::move(image)) {}
    EngineStatus PreviewItem(const FoundItemRecord& record, std::filesystem::path& tempPath, uint8_t*,
                             size_t& byteCount, PreviewProgressCallback progress, void* userData) override {
        const std::string name = record.Name();
        tempPath = ScanLogDir() / (LowerExtension(name) == "jpg" ? std::string("tmp.jpg") : name);
        std::filesystem::create_directories(tempPath.parent_path());
        std::ifstream in(image_, std::ios::binary);
        std::ofstream out(tempPath, std::ios::binary | std::ios::trunc);
        in.seekg(static_cast<std::streamoff>(record.location));
        std::vector<char> chunk(1 << 16);
        const uint64_t size = record.size;
        for (uint64_t done = 0; done < size;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - done));
            in.read(chunk.data(), static_cast<std::streamsize>(take));
            out.write(chunk.data(), static_cast<std::streamsize>(take));
            done += take;
            if (int answer = progress(userData, static_cast<int>(done * 100 / size), 0)) return answer;
        }
        byteCount = 0;
        return 0;
    }

  private:
    std::filesystem::path image_;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: preview_bench SAMPLE_DIR [RUNS]\n");
        return 1;
    }
    const std::filesystem::path samples = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir work;
    qputenv("SORVANE_DATA_DIR", work.filePath(QStringLiteral("data")).toLocal8Bit());
    app::LanguageService::ReloadInstance(std::filesystem::path(SORVANE_SOURCE_DIR) / "app" / "data");
    const QString programDir = QStringLiteral(SORVANE_BINARY_DIR "/app");

    // The image: each file at a 1 MiB boundary after some unrelated bytes.
    const std::filesystem::path image = work.filePath(QStringLiteral("disk.img")).toStdString();
    std::vector<FoundItemRecord> rows;
    {
        std::ofstream out(image, std::ios::binary);
        for (const char* name : {"big.jpg", "pages.pdf"}) {
            std::ifstream in(samples / name, std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
            if (bytes.empty()) {
                std::fprintf(stderr, "missing sample %s\n", name);
                return 1;
            }
            uint64_t at = (static_cast<uint64_t>(out.tellp()) / (1 << 20) + 1) << 20;
            std::vector<char> gap(at - static_cast<uint64_t>(out.tellp()), '\x5a');
            out.write(gap.data(), static_cast<std::streamsize>(gap.size()));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            FoundItemRecord row{};
            row.SetName(name);
            row.location = at;
            row.size = bytes.size();
            rows.push_back(row);
        }
    }

    QWidget window;
    window.resize(800, 500);
    auto* pane = new QTextBrowser(&window);
    pane->resize(760, 300);
    window.show();
    ImageEngine engine(image);
    app::CPreviewController controller(pane, &window, programDir,
                                       QString::fromStdString(ScanLogDir().string()));

    std::printf("%-10s %10s %14s %14s %8s\n", "file", "KiB", "preview ms", "alone ms", "ratio");
    for (const FoundItemRecord& row : rows) {
        const std::string name = row.Name();
        const QString source = QString::fromStdString((samples / name).string());
        std::vector<double> previewMs, aloneMs;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            controller.Preview(row, &engine);
            previewMs.push_back(clock.nsecsElapsed() / 1e6);
            if (controller.Pane().PictureCount() != 1) {
                std::fprintf(stderr, "%s: the pane shows no picture\n", name.c_str());
                return 1;
            }
            clock.restart();
            if (name == "big.jpg") {
                QImageReader reader(source);
                if (reader.read().isNull()) return 1;
            } else {
                QProcess tool;
                tool.start(programDir + QStringLiteral("/tool"),
                           {source, QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                            QStringLiteral("1"), work.filePath(QStringLiteral("alone"))});
                if (!tool.waitForFinished(30000) || tool.exitCode() != 0) return 1;
            }
            aloneMs.push_back(clock.nsecsElapsed() / 1e6);
        }
        const double preview = Median(previewMs), alone = Median(aloneMs);
        std::printf("%-10s %10.0f %14.1f %14.1f %8.2f\n", name.c_str(), static_cast<double>(row.size) / 1024,
                    preview, alone, preview / alone);
    }
    return 0;
}
