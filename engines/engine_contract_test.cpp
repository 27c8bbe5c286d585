// What every caller relies on, checked for every engine over the same images:
// the quick FAT and NTFS engines, the deep FAT and NTFS engines and the raw
// scan (each as the deep scan leaves it), and the deep scan coordinator that
// presents the four as one. Toolkit images always; the public images when
// they are there. Each check reads the images only: their hashes must not change.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engines/engine_factory.h"
#include "engines/fast_exfat_recovery.h"
#include "engines/fast_fat_recovery.h"
#include "engines/fast_ntfs_recovery.h"
#include "engines/professional_recovery.h"
#include "engines/result_walker.h"
#include "platform/result_codes.h"
#include "platform/text_encoding.h"
#include "results/file_categories.h"
#include "results/scan_resume_store.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane {
namespace {

using testkit::ImageKind;

constexpr uint16_t kLetter = 7;

// One image an engine is checked on: a toolkit kind, or a public image by name.
struct Source {
    bool toolkit = true;
    ImageKind kind = ImageKind::kFat16;
    const char* realName = nullptr;
};

Source Toolkit(ImageKind kind) { return {true, kind, nullptr}; }
Source Public(const char* name) { return {false, ImageKind::kFat16, name}; }

// An engine after its scan, with whatever owns it. For the deep scan's
// sub-engines the owner is the coordinator that fed them.
struct Scanned {
    std::unique_ptr<IFileRecoveryParse> owner;
    IFileRecoveryParse* engine = nullptr;
    CProfessionalRecovery* coordinator = nullptr;  // set when `engine` is the coordinator
    int scanResult = 0;
};

template <typename Engine>
Scanned ScanWith(const std::filesystem::path& image, ScanProgressCallback progress, void* userData) {
    Scanned s;
    auto engine = std::make_unique<Engine>();
    EXPECT_EQ(OpenOnImage(*engine, image, kLetter), 0) << image;
    engine->SetCallbacks(progress, nullptr, userData, 100);
    s.scanResult = engine->Scan(nullptr);
    s.engine = engine.get();
    s.owner = std::move(engine);
    return s;
}

// An engine that scans on its own.
template <typename Engine>
struct OwnScan {
    static constexpr bool kScansItself = true;
    static Scanned Scan(const std::filesystem::path& image, ScanProgressCallback p = nullptr,
                        void* u = nullptr) {
        return ScanWith<Engine>(image, p, u);
    }
};

// A sub-engine of the deep scan, which only the coordinator feeds: picked
// out of a finished deep scan by the kind's `Pick`.
template <typename Kind>
struct DeepPart {
    static constexpr bool kScansItself = false;
    static Scanned Scan(const std::filesystem::path& image, ScanProgressCallback p = nullptr,
                        void* u = nullptr) {
        Scanned s = ScanWith<CProfessionalRecovery>(image, p, u);
        s.engine = Kind::Pick(static_cast<CProfessionalRecovery&>(*s.owner));
        return s;
    }
};

struct QuickFat : OwnScan<CFastFatRecovery> {
    static std::vector<Source> Sources() { return {Toolkit(ImageKind::kFat16), Public("6-fat-undel.dd")}; }
};

struct QuickNtfs : OwnScan<CFastNtfsRecovery> {
    static std::vector<Source> Sources() { return {Toolkit(ImageKind::kNtfs), Public("7-ntfs-undel.dd")}; }
};

struct QuickExfat : OwnScan<CFastExfatRecovery> {
    static std::vector<Source> Sources() {
        return {Toolkit(ImageKind::kExfat), Public("exfat_win.raw"), Public("win_exfat_7.raw")};
    }
};

struct DeepFat : DeepPart<DeepFat> {
    static std::vector<Source> Sources() {
        return {Toolkit(ImageKind::kFat16Reformatted), Public("6-fat-undel.dd")};
    }
    static IFileRecoveryParse* Pick(CProfessionalRecovery& c) { return &c.DeepFat(); }
};

struct DeepNtfs : DeepPart<DeepNtfs> {
    // A live NTFS volume's file records are all allocated space, which the
    // deep pass leaves to the quick engine: only a reformatted one feeds it.
    static std::vector<Source> Sources() { return {Toolkit(ImageKind::kNtfsReformatted)}; }
    static IFileRecoveryParse* Pick(CProfessionalRecovery& c) { return &c.DeepNtfs(); }
};

struct DeepExfat : DeepPart<DeepExfat> {
    static std::vector<Source> Sources() { return {Toolkit(ImageKind::kExfatReformatted)}; }
    static IFileRecoveryParse* Pick(CProfessionalRecovery& c) { return &c.DeepExfat(); }
};

struct RawScan : DeepPart<RawScan> {
    static std::vector<Source> Sources() {
        return {Toolkit(ImageKind::kFat16Reformatted), Public("8-jpeg-search.dd")};
    }
    static IFileRecoveryParse* Pick(CProfessionalRecovery& c) { return &c.Carver(); }
};

struct Coordinator {
    static constexpr bool kScansItself = true;
    static std::vector<Source> Sources() {
        return {Toolkit(ImageKind::kFat16Reformatted), Toolkit(ImageKind::kNtfsReformatted),
                Public("6-fat-undel.dd")};
    }
    static Scanned Scan(const std::filesystem::path& image, ScanProgressCallback p = nullptr,
                        void* u = nullptr) {
        Scanned s = ScanWith<CProfessionalRecovery>(image, p, u);
        s.coordinator = static_cast<CProfessionalRecovery*>(s.owner.get());
        return s;
    }
};

// A record as the engines identify it: which engine made it and its number there.
using RecordId = std::pair<uint32_t, uint32_t>;
RecordId IdOf(const FoundItemRecord& r) {
    return {static_cast<uint32_t>(r.engineCode), static_cast<uint32_t>(r.recordNumber)};
}

std::vector<WalkedItem> Walk(IFileRecoveryParse& engine) {
    std::vector<WalkedItem> all;
    EXPECT_EQ(WalkResults(engine,
                          [&](const WalkedItem& item) {
                              all.push_back(item);
                              return true;
                          }),
              0);
    return all;
}

size_t FileCount(const std::vector<WalkedItem>& items) {
    return static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const WalkedItem& i) { return !i.record.IsFolder(); }));
}

template <typename Kind>
class EngineContractTest : public ::testing::Test {
  protected:
    void SetUp() override { CScanResumeStore::ResetInstanceForTests(); }
    void TearDown() override {
        for (const auto& [image, hash] : hashes_) EXPECT_EQ(testkit::FileSha256(image), hash) << image;
        CScanResumeStore::ResetInstanceForTests();
    }

    // The images this engine is checked on that are available, each hashed
    // before anything reads it.
    std::vector<std::filesystem::path> Images() {
        std::vector<std::filesystem::path> images;
        for (const Source& source : Kind::Sources()) {
            std::filesystem::path image;
            if (source.toolkit) {
                const testkit::BuiltImage& built = testkit::SharedImage(source.kind);
                if (!built.skipReason.empty()) continue;
                EXPECT_TRUE(built.error.empty()) << built.error;
                if (!built.Ok()) continue;
                image = built.image;
            } else {
                std::filesystem::path dir = testkit::RealImagesDir();
                if (dir.empty() || !std::filesystem::exists(dir / source.realName)) continue;
                image = dir / source.realName;
            }
            if (!hashes_.count(image)) hashes_[image] = testkit::FileSha256(image);
            images.push_back(image);
        }
        return images;
    }

    testkit::ScopedDataDir data_;
    std::map<std::filesystem::path, std::string> hashes_;
};

using EngineKinds =
    ::testing::Types<QuickFat, QuickNtfs, QuickExfat, DeepFat, DeepNtfs, DeepExfat, RawScan, Coordinator>;
class EngineKindNames {
  public:
    template <typename T>
    static std::string GetName(int) {
        if (std::is_same_v<T, QuickFat>) return "QuickFat";
        if (std::is_same_v<T, QuickNtfs>) return "QuickNtfs";
        if (std::is_same_v<T, QuickExfat>) return "QuickExfat";
        if (std::is_same_v<T, DeepFat>) return "DeepFat";
        if (std::is_same_v<T, DeepNtfs>) return "DeepNtfs";
        if (std::is_same_v<T, DeepExfat>) return "DeepExfat";
        if (std::is_same_v<T, RawScan>) return "RawScan";
        return "Coordinator";
    }
};
TYPED_TEST_SUITE(EngineContractTest, EngineKinds, EngineKindNames);

// The extension search is the first thing asked after the scan: it must see
// every record the scan wrote, the same ones the folder-by-folder listing
// shows (the coordinator leaves out carved files that a file-system file
// already covers). The file count of the root is the number of files listed,
// added to what the caller's counter held; the coordinator's is the sum of its
// engines'. Each folder's count is the number of files listed below it.
TYPED_TEST(EngineContractTest, ListingsSearchesAndCountsAgree) {
    auto images = this->Images();
    if (images.empty()) GTEST_SKIP() << "no image for this engine";
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        Scanned s = TypeParam::Scan(image);
        ASSERT_EQ(s.scanResult, 0);
        IFileRecoveryParse& engine = *s.engine;

        FoundItemList searched;
        EXPECT_EQ(engine.FindByExtension(AllCategoriesPattern() + "|" + std::string(kOtherPattern), searched),
                  1)
            << "every log was read";
        const std::vector<WalkedItem> walked = Walk(engine);
        const size_t files = FileCount(walked);
        EXPECT_GT(files, 0u) << "every image holds something to find";

        std::set<RecordId> listedFiles, listedOwnFiles;
        for (const WalkedItem& item : walked) {
            if (item.record.IsFolder()) continue;
            listedFiles.insert(IdOf(item.record));
            if (item.record.Engine() != EngineCode::kRawSignature || !s.coordinator)
                listedOwnFiles.insert(IdOf(item.record));
        }
        std::set<RecordId> found;
        for (const FoundItemRecord& r : searched) found.insert(IdOf(r));
        for (const RecordId& id : listedOwnFiles)
            EXPECT_TRUE(found.count(id)) << id.first << ":" << id.second;
        for (const FoundItemRecord& r : searched) {
            std::string path;
            EXPECT_EQ(engine.GetFolderPath(r, path), 0);
            EXPECT_TRUE(listedFiles.count(IdOf(r))) << "searched but not listed: " << path << r.Name();
        }

        // The coordinator counts what its merged search lists, a file that two
        // engines found once.
        size_t searchedFiles = 0;
        for (const FoundItemRecord& r : searched) searchedFiles += r.IsFolder() ? 0 : 1;
        const size_t rootFiles = s.coordinator ? searchedFiles : files;
        uint32_t count = 0;
        EXPECT_EQ(engine.CountFiles(nullptr, 0, count), 0);
        EXPECT_EQ(count, rootFiles);
        uint32_t added = 5;
        EXPECT_EQ(engine.CountFiles(nullptr, 0, added), 0);
        EXPECT_EQ(added, rootFiles + 5) << "a count adds to the caller's counter";
        EXPECT_EQ(engine.CountFiles(nullptr, 3, count), kErrInvalidParameter);

        if (s.coordinator) {
            uint32_t parts = 0;
            if (IFileRecoveryParse* quick = s.coordinator->QuickEngine()) {
                EXPECT_EQ(quick->CountFiles(nullptr, 0, parts), 0);
            }
            EXPECT_EQ(s.coordinator->DeepFat().CountFiles(nullptr, 0, parts), 0);
            EXPECT_EQ(s.coordinator->DeepNtfs().CountFiles(nullptr, 0, parts), 0);
            EXPECT_EQ(s.coordinator->DeepExfat().CountFiles(nullptr, 0, parts), 0);
            EXPECT_EQ(s.coordinator->Carver().CountFiles(nullptr, 0, parts), 0);
            EXPECT_LE(count, parts) << "the coordinator counts no more than its engines together";
        }

        for (const WalkedItem& folder : walked) {
            if (!folder.record.IsFolder()) continue;
            const std::string below = folder.folderPath + folder.record.Name() + "/";
            size_t expected = 0;
            for (const WalkedItem& item : walked)
                if (!item.record.IsFolder() && item.folderPath.rfind(below, 0) == 0 &&
                    item.record.Engine() == folder.record.Engine())
                    ++expected;
            uint32_t inFolder = 0;
            EXPECT_EQ(engine.CountFiles(&folder.record, folder.level + 1, inFolder), 0);
            EXPECT_EQ(inFolder, expected) << below;
        }
    }
}

// Every list comes files first, then by name ignoring case; a null folder
// with a non-zero level is refused.
TYPED_TEST(EngineContractTest, ChildrenComeInTheStatedOrder) {
    auto images = this->Images();
    if (images.empty()) GTEST_SKIP() << "no image for this engine";
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        Scanned s = TypeParam::Scan(image);
        ASSERT_EQ(s.scanResult, 0);
        FoundItemList none;
        EXPECT_EQ(s.engine->ListChildren(nullptr, 2, none), kErrInvalidParameter);

        std::map<std::pair<std::string, uint32_t>, std::vector<FoundItemRecord>> lists;
        for (const WalkedItem& item : Walk(*s.engine))
            lists[{item.folderPath, item.level}].push_back(item.record);
        for (const auto& [where, list] : lists) {
            for (size_t i = 1; i < list.size(); ++i) {
                const FoundItemRecord& a = list[i - 1];
                const FoundItemRecord& b = list[i];
                EXPECT_FALSE(a.IsFolder() && !b.IsFolder()) << where.first << ": a folder before a file";
                if (a.IsFolder() == b.IsFolder()) {
                    EXPECT_LE(CompareNamesIgnoringCase(a.Name(), b.Name()), 0)
                        << where.first << ": " << a.Name() << " before " << b.Name();
                }
            }
        }
    }
}

struct CopyCancel {
    int calls = 0;
    static int OnCopy(void* userData, int, int, int, const std::filesystem::path&) {
        ++static_cast<CopyCancel*>(userData)->calls;
        return kCancelCode;
    }
};

// Every listed file can be recovered (exactly its size) and previewed, and
// every top-level folder recovered; a copy the user cancels answers the
// cancel code, unchanged.
TYPED_TEST(EngineContractTest, EveryListedRecordRecoversAndPreviews) {
    auto images = this->Images();
    if (images.empty()) GTEST_SKIP() << "no image for this engine";
    testkit::TempDir out;
    int n = 0;
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        Scanned s = TypeParam::Scan(image);
        ASSERT_EQ(s.scanResult, 0);
        IFileRecoveryParse& engine = *s.engine;
        const std::vector<WalkedItem> walked = Walk(engine);
        const FoundItemRecord* largest = nullptr;
        for (const WalkedItem& item : walked) {
            const FoundItemRecord& r = item.record;
            const std::string label = item.folderPath + r.Name();
            std::filesystem::path target = out / std::to_string(n++);
            if (r.IsFolder()) {
                if (item.level == 0) {
                    EXPECT_EQ(engine.RecoverItem(r, target, 0), 0) << label;
                }
                continue;
            }
            ASSERT_EQ(engine.RecoverItem(r, target, 0), 0) << label;
            std::error_code ec;
            const uint64_t size = r.size;
            EXPECT_EQ(std::filesystem::file_size(target, ec), size) << label;

            std::filesystem::path previewPath;
            std::vector<uint8_t> buffer(4096);
            size_t byteCount = buffer.size();
            EXPECT_EQ(engine.PreviewItem(r, previewPath, buffer.data(), byteCount, nullptr, nullptr), 0)
                << label;
            EXPECT_TRUE(!previewPath.empty() || byteCount == std::min<uint64_t>(size, buffer.size()))
                << label;
            if (!largest || r.size > largest->size) largest = &r;
        }
        ASSERT_NE(largest, nullptr);
        if (largest->size == 0) continue;  // only empty files: a copy with nothing to read has no progress

        CopyCancel cancel;
        engine.SetCallbacks(nullptr, CopyCancel::OnCopy, &cancel, 100);
        EXPECT_EQ(engine.RecoverItem(*largest, out / "cancelled", 0), kCancelCode) << largest->Name();
        EXPECT_GT(cancel.calls, 0);
    }
}

// A folder whose files cannot be read is not recovered in silence: the
// recovery goes on with the others and answers the first failure.
TYPED_TEST(EngineContractTest, FolderRecoveryReportsUnreadableFiles) {
    auto images = this->Images();
    if (images.empty()) GTEST_SKIP() << "no image for this engine";
    testkit::TempDir out;
    int n = 0;
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        Scanned s = TypeParam::Scan(image);
        ASSERT_EQ(s.scanResult, 0);
        std::vector<WalkedItem> folders;
        for (const WalkedItem& item : Walk(*s.engine)) {
            if (!item.record.IsFolder() || item.level != 0) continue;
            uint32_t files = 0;
            ASSERT_EQ(s.engine->CountFiles(&item.record, 1, files), 0);
            if (files > 0) folders.push_back(item);
        }
        if (folders.empty()) continue;  // the raw scan lists no folders

        testkit::ScopedFaults faults;
        faults.Error(image, 0, std::filesystem::file_size(image) / 512);
        for (const WalkedItem& folder : folders) {
            EXPECT_NE(s.engine->RecoverItem(folder.record, out / std::to_string(n++), 0), 0)
                << folder.record.Name();
        }
    }
}

struct ScanCancel {
    int calls = 0;
    static int OnProgress(void* userData, int, int, int64_t, uint64_t, uint64_t, uint64_t) {
        ++static_cast<ScanCancel*>(userData)->calls;
        return kCancelCode;
    }
};

// A scan the user cancels answers the cancel code, unchanged. The deep
// scan's own engines are cancelled through the coordinator that drives them.
TYPED_TEST(EngineContractTest, CancelledScanAnswersTheCancelCode) {
    if (!TypeParam::kScansItself) GTEST_SKIP() << "scanned by the coordinator";
    auto images = this->Images();
    if (images.empty()) GTEST_SKIP() << "no image for this engine";
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        CScanResumeStore::ResetInstanceForTests();
        ScanCancel cancel;
        Scanned s = TypeParam::Scan(image, ScanCancel::OnProgress, &cancel);
        EXPECT_EQ(s.scanResult, kCancelCode);
        EXPECT_GT(cancel.calls, 0);
    }
}

}  // namespace
}  // namespace sorvane
