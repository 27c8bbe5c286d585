#include "engines/file_type_recovery.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "carving/carving_test_support.h"
#include "platform/fault_plan.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

using namespace carvingtest;

// Runs the engine over an image as the deep scan's pass does: sector by
// sector, skipping what each carved file covers.
struct PassResult {
    int status = 0;
    uint64_t found = 0;
    std::vector<uint64_t> examined;  // sectors handed to the engine
};

PassResult RunPass(CFileTypeRecovery& engine, DiskReader& reader, uint64_t first, uint64_t end) {
    PassResult result;
    Bytes sector(kSectorSize);
    for (uint64_t s = first; s < end;) {
        uint32_t got = 0;
        if (ReadSectors(1, reader, sector.data(), s, kSectorSize, &got) != 0) break;
        result.examined.push_back(s);
        uint64_t consumed = 1;
        int rc = engine.RecordCarvedFile(PassSector{ByteView(sector.data(), sector.size()), s, kSectorSize},
                                         CarveProgress{s - first, end - first, -1}, &reader, consumed,
                                         result.found);
        if (rc == kCancelCode) {
            result.status = rc;
            break;
        }
        s += consumed;
    }
    return result;
}

class FileTypeRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override { CScanResumeStore::ResetInstanceForTests(); }
    void TearDown() override {
        reader_.Close();
        FaultPlan::Instance().Clear();
        CScanResumeStore::ResetInstanceForTests();
    }

    testkit::ScopedDataDir data_;
    DiskReader reader_;
};

TEST_F(FileTypeRecoveryTest, LogNamesFollowTheFileTypePattern) {
    EXPECT_EQ(FileTypeLogName(2048, 2026, 3, 7, 9, 5), "File_Type_2048_2026379 5");
    EXPECT_EQ(FileTypeLogName(0, 2026, 12, 31, 23, 59),
              "File_Type_0_2026123123"
              "59");
}

// A 1000-byte JPEG at sector 81920 moves the pass to 81922; a BMP header there
// only to 81921, so files inside a BMP are still found. Recovering the JPEG
// reads its two sectors (the image ends right after them) and writes exactly
// 1000 bytes, replacing a longer file of the same name.
TEST_F(FileTypeRecoveryTest, JpegAtSector81920SkipsItsSectorsAndRecoversExactly) {
    TestImage image(data_ / "disk.img", 81922);
    Bytes jpeg = MakeJpeg(1000);
    image.Put(81920, jpeg);
    std::string before = testkit::FileSha256(image.Path());
    image.Open(reader_);

    CFileTypeRecovery engine;
    ASSERT_EQ(engine.Attach(ImageSource(image.Path(), 9), "File_Type_0_test"), 0);
    Bytes sector = image.Sector(81920);
    uint64_t consumed = 1, found = 4;
    ASSERT_EQ(engine.RecordCarvedFile(PassSector{ByteView(sector.data(), 512), 81920, 512},
                                      CarveProgress{100, 81922, 30}, &reader_, consumed, found),
              0);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(found, 5u);
    EXPECT_EQ(engine.GetFoundCount(), 1u);

    FoundItemList list;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    ASSERT_EQ(list.size(), 1u);
    const FoundItemRecord& record = list[0];
    EXPECT_EQ(record.Name(), "81920.jpg");
    EXPECT_EQ(+record.size, 1000u);
    EXPECT_EQ(+record.location, 81920u);
    EXPECT_EQ(+record.letter, 9);
    EXPECT_EQ(record.Engine(), EngineCode::kRawSignature);
    EXPECT_EQ(+record.isFolder, 0u);
    // The hand-made picture has neither a frame nor a scan: its own
    // structure says it is damaged (its end marker still measured it).
    EXPECT_EQ(+record.contentCheck, kContentDamaged);
    EXPECT_EQ(+record.recordNumber, 1u);
    EXPECT_EQ(+record.clusterBytes, 0xFFFFFFFFu);
    EXPECT_EQ(+record.key, 0u);
    EXPECT_EQ(+record.dataStart, 0u);

    std::filesystem::path destination = data_ / "out" / "photo" / "81920.jpg";
    std::filesystem::create_directories(destination.parent_path());
    testkit::WriteFile(destination, Bytes(5000, 0xEE));  // an earlier, longer file
    ASSERT_EQ(engine.RecoverItem(record, destination, 0), 0);
    EXPECT_EQ(testkit::ReadFile(destination), jpeg);

    // Parents of the destination are created.
    std::filesystem::path deep = data_ / "fresh" / "a" / "b" / "81920.jpg";
    ASSERT_EQ(engine.RecoverItem(record, deep, 0), 0);
    EXPECT_EQ(testkit::ReadFile(deep), jpeg);
    EXPECT_EQ(testkit::FileSha256(image.Path()), before);

    // The same sector holding a BMP header: the pass goes on at the next sector.
    TestImage bmpImage(data_ / "bmp.img", 81930);
    bmpImage.Put(81920, MakeBmpHeader(3000));
    DiskReader bmpReader;
    bmpImage.Open(bmpReader);
    Bytes bmp = bmpImage.Sector(81920);
    consumed = 1;
    ASSERT_EQ(engine.RecordCarvedFile(PassSector{ByteView(bmp.data(), 512), 81920, 512},
                                      CarveProgress{0, 81930, -1}, &bmpReader, consumed, found),
              0);
    EXPECT_EQ(consumed, 1u);
    bmpReader.Close();
}

TEST_F(FileTypeRecoveryTest, PassSkipsTheBodiesOfCarvedFilesButNotOfHeaderSizedOnes) {
    TestImage image(data_ / "disk.img", 400);
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(3000, 0x31);
    const uint8_t iend[8] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    std::memcpy(png.data() + 2992, iend, 8);
    image.Put(10, png);
    image.Put(12, MakeBmpHeader(700));  // inside the picture's body: never examined
    Bytes wav = Text("RIFF");
    wav.resize(4, 0);
    Append(wav, Bytes(4, 0));
    Append(wav, Text("WAVEfmt "));
    wav.resize(4000, 0x01);
    PutU32(wav.data() + 4, 3992);
    image.Put(100, wav);
    image.Put(103, MakeJpeg(1024));  // inside the WAV: still found
    image.Open(reader_);

    CFileTypeRecovery engine;
    ASSERT_EQ(engine.Attach(ImageSource(image.Path(), 1), "File_Type_0_pass"), 0);
    PassResult pass = RunPass(engine, reader_, 0, 400);
    EXPECT_EQ(pass.status, 0);
    EXPECT_EQ(pass.found, 3u);
    auto examined = [&](uint64_t s) {
        return std::find(pass.examined.begin(), pass.examined.end(), s) != pass.examined.end();
    };
    EXPECT_TRUE(examined(10));
    EXPECT_FALSE(examined(12));
    EXPECT_TRUE(examined(16));  // the picture covers sectors 10 to 15: its footer wins over the BMP
    EXPECT_TRUE(examined(101));
    EXPECT_TRUE(examined(103));

    FoundItemList list;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    std::vector<std::string> names;
    for (const auto& r : list) names.push_back(r.Name());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"10.png", "100.wav", "103.jpg"}));
    uint32_t count = 0;
    ASSERT_EQ(engine.CountFiles(nullptr, 0, count), 0);
    EXPECT_EQ(count, 3u);

    // Carved files have no folders: a folder record lists and counts nothing.
    FoundItemRecord folder;
    folder.isFolder = 1;
    FoundItemList none;
    EXPECT_EQ(engine.ListChildren(&folder, 1, none), 0);
    EXPECT_TRUE(none.empty());
    uint32_t folderCount = 99;
    EXPECT_EQ(engine.CountFiles(&folder, 1, folderCount), 0);
    std::string path = "x";
    EXPECT_EQ(engine.GetFolderPath(list[0], path), 0);

    FoundItemList jpegs;
    EXPECT_EQ(engine.FindByExtension("*.jpg|*.png", jpegs), 1);
    EXPECT_EQ(jpegs.size(), 2u);
}

int CancelOnSecondReport(void* userData, int, int, int64_t, uint64_t, uint64_t, uint64_t) {
    int* calls = static_cast<int*>(userData);
    return ++*calls == 2 ? kCancelCode : 0;
}

TEST_F(FileTypeRecoveryTest, CancelDuringAWalkReturnsTheCancelCodeAndRecordsNothing) {
    TestImage image(data_ / "disk.img", 2000);
    Bytes tif = {0x49, 0x49, 0x2A, 0x00};
    tif.resize(512, 0x10);
    image.Put(50, tif);  // walked to the end of the image: many chunks
    image.Open(reader_);
    CFileTypeRecovery engine;
    ASSERT_EQ(engine.Attach(ImageSource(image.Path(), 1), "File_Type_0_cancel"), 0);
    int calls = 0;
    engine.SetCallbacks(CancelOnSecondReport, nullptr, &calls, 90);
    Bytes sector = image.Sector(50);
    uint64_t consumed = 1, found = 0;
    EXPECT_EQ(engine.RecordCarvedFile(PassSector{ByteView(sector.data(), 512), 50, 512},
                                      CarveProgress{0, 2000, -1}, &reader_, consumed, found),
              kCancelCode);
    EXPECT_EQ(consumed, 1u);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(engine.GetFoundCount(), 0u);
    FoundItemList list;
    EXPECT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    EXPECT_TRUE(list.empty());

    // An unrecognised sector costs one sector and writes nothing.
    Bytes zeros(512, 0);
    EXPECT_EQ(engine.RecordCarvedFile(PassSector{ByteView(zeros.data(), 512), 3, 512},
                                      CarveProgress{0, 2000, -1}, &reader_, consumed, found),
              87);
    EXPECT_EQ(consumed, 1u);
}

struct CopyLog {
    std::vector<std::pair<int, int>> calls;  // percent, error
};
int RecordCopy(void* userData, int percent, int, int error, const std::filesystem::path&) {
    static_cast<CopyLog*>(userData)->calls.push_back({percent, error});
    return 0;
}

TEST_F(FileTypeRecoveryTest, CopyReportsProgressAndKeepsAFileWithUnreadableSectors) {
    TestImage image(data_ / "disk.img", 600);
    Bytes tif = {0x49, 0x49, 0x2A, 0x00};
    tif.resize(200 * 512, 0x10);
    image.Put(100, tif);
    image.Put(300, MakePe(0x0102));
    image.Open(reader_);
    CFileTypeRecovery engine;
    ASSERT_EQ(engine.Attach(ImageSource(image.Path(), 1), "File_Type_0_copy"), 0);
    CopyLog log;
    engine.SetCallbacks(nullptr, RecordCopy, &log, 100);
    Bytes sector = image.Sector(100);
    uint64_t consumed = 1, found = 0;
    ASSERT_EQ(engine.RecordCarvedFile(PassSector{ByteView(sector.data(), 512), 100, 512},
                                      CarveProgress{0, 600, -1}, &reader_, consumed, found),
              0);
    FoundItemList list;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(+list[0].size, 200u * 512);

    std::filesystem::path out = data_ / "out.tif";
    ASSERT_EQ(engine.CopyCarvedData(list[0], out), 0);
    EXPECT_EQ(testkit::ReadFile(out), tif);
    // 64 KiB pieces: 128 sectors, then 72.
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0], std::make_pair(64, 0));
    EXPECT_EQ(log.calls[1], std::make_pair(100, 0));

    EXPECT_EQ(engine.UnreadableSectorsOfLastCopy(), 0u);

    // The disk fails at the start of the file: the file is kept whole with
    // zeros in those sectors, and the engine says how many there were.
    log.calls.clear();
    FaultPlan::Instance().Add(image.Path(), 100, 110, FaultKind::kError);
    EXPECT_EQ(engine.CopyCarvedData(list[0], out), 0);
    Bytes damaged = tif;
    std::fill_n(damaged.begin(), 11 * 512, 0);
    EXPECT_EQ(testkit::ReadFile(out), damaged);
    EXPECT_EQ(engine.UnreadableSectorsOfLastCopy(), 11u);
    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls.back(), std::make_pair(100, 0));
}

TEST_F(FileTypeRecoveryTest, PreviewWritesPicturesToTheSharedPreviewFile) {
    TestImage image(data_ / "disk.img", 100);
    Bytes jpeg = MakeJpeg(700);
    image.Put(20, jpeg);
    Bytes mid = MakeMidi(1, 40);
    image.Put(40, mid);
    Bytes db(std::begin("SQLite format 3"), std::end("SQLite format 3"));
    db.resize(700, 0x5C);
    image.Put(60, db);
    image.Open(reader_);
    CFileTypeRecovery engine;
    ASSERT_EQ(engine.Attach(ImageSource(image.Path(), 1), "File_Type_0_preview"), 0);
    RunPass(engine, reader_, 0, 100);
    FoundItemList list;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
    ASSERT_EQ(list.size(), 3u);
    auto named = [&](const std::string& name) {
        for (const auto& r : list)
            if (r.Name() == name) return r;
        ADD_FAILURE() << name << " not found";
        return FoundItemRecord{};
    };
    FoundItemRecord picture = named("20.jpg"), other = named("40.mid"), store = named("60.db");

    std::filesystem::path temp;
    size_t count = 4096;
    std::vector<uint8_t> buffer(4096);
    ASSERT_EQ(engine.PreviewItem(picture, temp, buffer.data(), count, nullptr, nullptr), 0);
    EXPECT_EQ(temp.filename(), "tmp.jpg");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(testkit::ReadFile(temp), jpeg);

    // A MIDI file is audio: it goes to the media preview file.
    ASSERT_EQ(engine.PreviewItem(other, temp, buffer.data(), count, nullptr, nullptr), 0);
    EXPECT_EQ(temp.filename(), "tmp.avi");

    // Anything else is shown from its first bytes, copied into the caller's buffer.
    count = 100;
    ASSERT_EQ(engine.PreviewItem(store, temp, buffer.data(), count, nullptr, nullptr), 0);
    EXPECT_TRUE(temp.empty());
    ASSERT_EQ(count, 100u);
    EXPECT_TRUE(std::equal(db.begin(), db.begin() + 100, buffer.begin()));
}

}  // namespace
}  // namespace sorvane
