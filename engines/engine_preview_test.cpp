// Preview extraction of the quick NTFS, deep NTFS and deep FAT engines on
// images made by real tools: progress goes to the preview callback (so the
// preview window's bar moves and its cancel works), never to the copy
// callback; a preview into the memory buffer reads the file only as far as the
// buffer reaches and writes nothing; a cancelled preview leaves no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engines/engine_factory.h"
#include "engines/fast_ntfs_recovery.h"
#include "engines/professional_recovery.h"
#include "platform/data_dirs.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::TempDir;

// What the callbacks heard, and files that appeared in the preview folder
// while a copy ran.
struct Heard {
    std::vector<std::pair<int, int>> preview;  // (percent, error)
    int copyCalls = 0;
    int cancelAfter = -1;  // answer kCancelCode once this many preview calls were made
    std::set<std::filesystem::path> before;
    std::set<std::filesystem::path> appeared;

    void LookForNewFiles() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(ScanLogDir(), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file() && !before.count(it->path())) appeared.insert(it->path());
        }
    }
};

std::set<std::filesystem::path> FilesBelow(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) files.insert(it->path());
    return files;
}

int OnPreview(void* userData, int percent, int error) {
    auto* heard = static_cast<Heard*>(userData);
    heard->preview.emplace_back(percent, error);
    heard->LookForNewFiles();
    if (heard->cancelAfter >= 0 && static_cast<int>(heard->preview.size()) > heard->cancelAfter)
        return kCancelCode;
    return 0;
}

int OnCopy(void* userData, int, int, int, const std::filesystem::path&) {
    auto* heard = static_cast<Heard*>(userData);
    ++heard->copyCalls;
    heard->LookForNewFiles();
    return 0;
}

bool InList(std::string_view list, const std::string& ext) {
    return !ext.empty() && list.find(ext) != std::string_view::npos;
}

const std::string kPreviewDocuments =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|"
    "*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// The largest file of `code` whose extension passes `want`.
const FoundItemRecord* Largest(const FoundItemList& files, EngineCode code,
                               const std::function<bool(const std::string&)>& want) {
    const FoundItemRecord* best = nullptr;
    for (const auto& r : files) {
        if (r.IsFolder() || r.Engine() != code || !want(LowerExtension(r.Name()))) continue;
        if (!best || r.size > best->size) best = &r;
    }
    return best;
}

class EnginePreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testkit::SetEnv("SORVANE_DATA_DIR", data_.Path() / "Sorvane");
        CScanResumeStore::ResetInstanceForTests();
    }
    void TearDown() override {
        CScanResumeStore::ResetInstanceForTests();
        testkit::UnsetEnv("SORVANE_DATA_DIR");
    }

    // The checks every engine must pass, on its files of engine code `code`.
    void CheckPreviews(IFileRecoveryParse& engine, EngineCode code) {
        FoundItemList files;
        EXPECT_EQ(engine.FindByExtension(AllCategoriesPattern() + "|.other", files), 1);
        Heard heard;
        engine.SetCallbacks(nullptr, OnCopy, &heard, 100);

        // A media file: the preview callback hears the copy step by step.
        const FoundItemRecord* media = Largest(files, code, [](const std::string& ext) {
            return InList(kAudioExtensions, ext) || InList(kVideoExtensions, ext);
        });
        ASSERT_NE(media, nullptr);
        ASSERT_GT(+media->size, 200000u);
        std::filesystem::path temp;
        std::vector<uint8_t> buffer(1 << 20);
        size_t count = buffer.size();
        ASSERT_EQ(engine.PreviewItem(*media, temp, buffer.data(), count, OnPreview, &heard), 0);
        EXPECT_EQ(temp, ScanLogDir() / "tmp.avi");
        EXPECT_EQ(std::filesystem::file_size(temp), +media->size);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(heard.copyCalls, 0) << "a preview must not report through the copy callback";
        ASSERT_GE(heard.preview.size(), 2u);
        EXPECT_EQ(heard.preview.back(), std::make_pair(100, 0));
        EXPECT_TRUE(std::is_sorted(heard.preview.begin(), heard.preview.end()));
        // The same bytes a recovery writes.
        const std::filesystem::path recovered = data_ / "recovered.bin";
        ASSERT_EQ(engine.RecoverItem(*media, recovered, 0), 0);
        EXPECT_EQ(testkit::FileSha256(temp), testkit::FileSha256(recovered));
        EXPECT_GT(heard.copyCalls, 0) << "a recovery still reports through the copy callback";

        // Cancelling from the preview window stops the copy and leaves no file.
        heard = Heard{};
        heard.cancelAfter = 1;
        count = buffer.size();
        EXPECT_EQ(engine.PreviewItem(*media, temp, buffer.data(), count, OnPreview, &heard), kCancelCode);
        EXPECT_EQ(heard.preview.size(), 2u);
        EXPECT_FALSE(std::filesystem::exists(ScanLogDir() / "tmp.avi"));
        EXPECT_TRUE(temp.empty());

        // A file shown from its bytes: only the buffer's worth is read, and
        // nothing is written anywhere on the way.
        const FoundItemRecord* other = Largest(files, code, [](const std::string& ext) {
            return !InList(kPhotoExtensions, ext) && !InList(kAudioExtensions, ext) &&
                   !InList(kVideoExtensions, ext) && !InList(kPreviewDocuments, ext);
        });
        ASSERT_NE(other, nullptr);
        ASSERT_GT(+other->size, 4u);
        heard = Heard{};
        heard.before = FilesBelow(ScanLogDir());
        const size_t capacity = static_cast<size_t>(other->size / 2);
        buffer.assign(capacity + 1, 0xEE);
        count = capacity;
        ASSERT_EQ(engine.PreviewItem(*other, temp, buffer.data(), count, OnPreview, &heard), 0);
        EXPECT_TRUE(temp.empty());
        EXPECT_EQ(count, capacity);
        EXPECT_EQ(buffer[capacity], 0xEE) << "nothing past the capacity is written";
        EXPECT_TRUE(heard.appeared.empty()) << "a buffer preview wrote " << heard.appeared.begin()->string();
        EXPECT_EQ(heard.copyCalls, 0);
        if (other->size > 4 * 65536) {
            ASSERT_FALSE(heard.preview.empty());
            EXPECT_LT(heard.preview.back().first, 100) << "the copy went on past what the buffer holds";
        }
        ASSERT_EQ(engine.RecoverItem(*other, recovered, 0), 0);
        std::vector<uint8_t> whole = testkit::ReadFile(recovered);
        ASSERT_GE(whole.size(), capacity);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + capacity, whole.begin()));
    }

    // Scans the image with `Engine` after `reformat` (a shell command taking
    // the image's path, or none) and previews what `code` found; the image
    // never changes after the reformat.
    template <typename Engine>
    void ScanAndPreview(testkit::ImageKind kind, const std::string& reformat, EngineCode code) {
        TempDir work;
        SORVANE_BUILD_IMAGE_OR_SKIP(image, kind, work.Path());
        if (!reformat.empty()) {
            ASSERT_EQ(testkit::RunCommand(reformat + " " + testkit::ShellQuote(image.image.string()) +
                                          " >/dev/null 2>&1"),
                      0);
        }
        const std::string before = testkit::FileSha256(image.image);
        Engine engine;
        ASSERT_EQ(OpenOnImage(engine, image.image, 7), 0);
        ASSERT_EQ(engine.Scan(nullptr), 0);
        CheckPreviews(engine, code);
        EXPECT_EQ(testkit::FileSha256(image.image), before);
    }

    TempDir data_;
};

TEST_F(EnginePreviewTest, QuickNtfs) {
    ScanAndPreview<CFastNtfsRecovery>(testkit::ImageKind::kNtfs, "", EngineCode::kQuickNtfs);
}

TEST_F(EnginePreviewTest, DeepNtfsOnAQuickReformattedVolume) {
    ScanAndPreview<CProfessionalRecovery>(testkit::ImageKind::kNtfs,
                                          "mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 64 -S 32 -L REFORMAT",
                                          EngineCode::kDeepNtfs);
}

TEST_F(EnginePreviewTest, DeepFatOnAReformattedVolume) {
    ScanAndPreview<CProfessionalRecovery>(testkit::ImageKind::kFat32,
                                          "mkfs.fat -F 32 -s 1 -S 512 -n REFORMAT", EngineCode::kDeepFat);
}

}  // namespace
}  // namespace sorvane
