#include "carving/carved_file_measure.h"

#include <gtest/gtest.h>

#include <string>

#include "carving/carving_test_support.h"
#include "carving/size_finders.h"

namespace sorvane {
namespace {

using namespace carvingtest;

struct Identified {
    int status = 0;
    std::string name;
    FileTypeCode type = kTypeNotRecognised;
    uint64_t size = 0;
    ContentVerdict verdict = ContentVerdict::kNotChecked;
};

class CarvedFileMeasureTest : public ::testing::Test {
  protected:
    void SetUp() override { image_ = std::make_unique<TestImage>(dir_ / "disk.img", 4096); }
    void TearDown() override { reader_.Close(); }
    void Open() {
        reader_.Close();
        image_->Open(reader_);
    }
    Identified Identify(uint64_t sector) {
        if (!reader_.IsOpen()) Open();
        Bytes buffer = image_->Sector(sector);
        CarveRequest request = RequestAt(&reader_, buffer, sector, 100000);
        request.sectorsDone = 1000;
        request.remainingSeconds = 42;
        request.foundCount = 7;
        CarvedFile found;
        Identified out;
        out.status = IdentifyFileAt(job_, request, found);
        out.name = found.name;
        out.type = found.type;
        out.size = found.size;
        out.verdict = found.verdict;
        return out;
    }

    testkit::TempDir dir_;
    std::unique_ptr<TestImage> image_;
    DiskReader reader_;
    CarveJob job_;
};

TEST_F(CarvedFileMeasureTest, JpegEndsAtTheFirstEndMarkerFollowedOnlyByZeros) {
    // The end marker in the first sector, followed by zeros: the file ends there.
    image_->Put(100, MakeJpeg(300));
    Identified small = Identify(100);
    EXPECT_EQ(small.status, 0);
    EXPECT_EQ(small.name, "100.jpg");
    EXPECT_EQ(small.type, kTypeJpg);
    EXPECT_EQ(small.size, 300u);

    // An end marker followed by non-zero bytes in its sector is body data.
    Bytes body = MakeJpeg(1500);
    body[200] = 0xFF;
    body[201] = 0xD9;
    image_->Put(200, body);
    image_->Put(210, MakePe(0x0102));  // the next file begins here
    Identified longer = Identify(200);
    EXPECT_EQ(longer.size, 1500u);

    // A marker that ends its sector exactly ends the file even with data after it.
    Bytes exact = MakeJpeg(1024);
    image_->Put(300, exact);
    image_->Put(302, Bytes(512, 0x77));
    image_->Put(303, MakePe(0x0102));
    EXPECT_EQ(Identify(300).size, 1024u);

    // The last marker of the walk wins over earlier ones (thumbnails end with one too).
    Bytes withThumb(70000, 0x22);
    std::memcpy(withThumb.data(), MakeJpeg(16).data(), 12);
    withThumb[2046] = 0xFF;
    withThumb[2047] = 0xD9;  // ends sector 3: passes the zero-tail rule
    withThumb[69998] = 0xFF;
    withThumb[69999] = 0xD9;
    image_->Put(1000, withThumb);
    EXPECT_EQ(Identify(1000).size, 70000u);
}

TEST_F(CarvedFileMeasureTest, WalkEndsAtAnyRecognisedSectorOrFileSystemMetadata) {
    Bytes psd = Text("8BPS");
    psd.resize(40 * 512, 0x55);
    image_->Put(100, psd);
    image_->Put(120, MakeBmpHeader(5000));  // a file starts inside the picture's body
    EXPECT_EQ(Identify(100).size, 20u * 512);

    image_->Put(400, psd);
    Bytes record = Text("FILE0");
    record.resize(512, 0);
    image_->Put(405, record);
    EXPECT_EQ(Identify(400).size, 5u * 512);

    image_->Put(500, psd);
    image_->Put(503, MakePe(0x0102));  // never carved itself, but it still ends the file before it
    EXPECT_EQ(Identify(500).size, 3u * 512);
    EXPECT_EQ(Identify(503).status, 87);

    image_->Put(600, psd);
    Bytes boot(512, 0);
    boot[0] = 0xEB;
    boot[1] = 0x58;
    boot[2] = 0x90;
    std::memcpy(boot.data() + 3, "MSWIN4.1", 8);
    image_->Put(611, boot);
    EXPECT_EQ(Identify(600).size, 11u * 512);

    image_->Put(700, psd);
    Bytes restart = Text("RSTR");
    restart.resize(512, 0);
    const uint8_t ntfs[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    std::memcpy(restart.data() + 300, ntfs, 8);
    image_->Put(702, restart);
    EXPECT_EQ(Identify(700).size, 2u * 512);
}

// A directory sector of a FAT volume that mkfs.fat and mcopy made ends a walk.
TEST_F(CarvedFileMeasureTest, WalkEndsAtARealFatDirectorySector) {
    if (!testkit::HaveProgram("mkfs.fat") || !testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools missing";
    std::filesystem::path fat = dir_ / "fat.img";
    std::string q = testkit::ShellQuote(fat.string());
    ASSERT_EQ(testkit::RunCommand("mkfs.fat -C -F 16 -n CARVE " + q + " 32768 >/dev/null 2>&1"), 0);
    testkit::WriteFile(dir_ / "A.TXT", Text("alpha"));
    testkit::WriteFile(dir_ / "Bee file.txt", Text("beta"));
    ASSERT_EQ(
        testkit::RunCommand("mcopy -i " + q + " " + testkit::ShellQuote((dir_ / "A.TXT").string()) + " " +
                            testkit::ShellQuote((dir_ / "Bee file.txt").string()) + " ::/ >/dev/null 2>&1"),
        0);
    std::string before = testkit::FileSha256(fat);
    // The root directory follows the reserved sectors and the two tables.
    Bytes boot = testkit::ReadFile(fat);
    ByteView v(boot.data(), boot.size());
    uint64_t rootSector = v.U16(14) + uint64_t{v.U8(16)} * v.U16(22);
    Bytes root(boot.begin() + static_cast<std::ptrdiff_t>(rootSector * 512),
               boot.begin() + static_cast<std::ptrdiff_t>(rootSector * 512 + 512));
    ASSERT_TRUE(IsFileSystemMetadataSector(root.data(), 512));

    Bytes psd = Text("8BPS");
    psd.resize(20 * 512, 0x55);
    image_->Put(100, psd);
    image_->Put(107, root);
    EXPECT_EQ(Identify(100).size, 7u * 512);
    EXPECT_EQ(testkit::FileSha256(fat), before);
}

TEST_F(CarvedFileMeasureTest, MpegIgnoresItsOwnPackHeadersButOtherFilesDoNot) {
    Bytes pack(512, 0);
    const uint8_t head[] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0x03, 0xFF, 0xF8, 0, 0, 1, 0xBB};
    std::memcpy(pack.data(), head, sizeof head);
    Bytes stream;
    for (int i = 0; i < 10; ++i) Append(stream, pack);
    Bytes end = {0, 0, 1, 0xB9};
    Append(stream, end);
    image_->Put(100, stream);
    Identified mpeg = Identify(100);
    EXPECT_EQ(mpeg.type, kTypeMpeg);
    EXPECT_EQ(mpeg.name, "100.mpeg");
    EXPECT_EQ(mpeg.size, 10u * 512 + 4);

    Bytes psd = Text("8BPS");
    psd.resize(10 * 512, 0x55);
    image_->Put(300, psd);
    image_->Put(304, pack);
    EXPECT_EQ(Identify(300).size, 4u * 512);
}

TEST_F(CarvedFileMeasureTest, HeaderSizesAreCapped) {
    // A size field past the type's limit is not trusted: the walk measures
    // the picture (here to the end of the disk).
    image_->Put(10, MakeBmpHeader(0x20000000));
    Identified bmp = Identify(10);
    EXPECT_EQ(bmp.type, kTypeBmp);
    EXPECT_EQ(bmp.size, (4096u - 10) * 512);
    image_->Put(11, MakeBmpHeader(123456));
    EXPECT_EQ(Identify(11).size, 123456u);

    Bytes swf = Text("FWS\x05");
    swf.resize(512, 0);
    PutU32(swf.data() + 4, 0x30000000);
    image_->Put(12, swf);
    EXPECT_EQ(Identify(12).size, 268435456u);
    swf[0] = 'C';
    swf[3] = 9;
    image_->Put(13, swf);
    EXPECT_EQ(Identify(13).size, 512u);  // a compressed file's length field is not trusted

    Bytes cab = Text("MSCF");
    cab.resize(512, 0);
    PutU32(cab.data() + 8, 0xF0000000);
    image_->Put(14, cab);
    EXPECT_EQ(Identify(14).size, 1073741824u);
}

TEST_F(CarvedFileMeasureTest, WalkStopsAtItsLimit) {
    // A 128 MiB limit over an image of zeros: the walk reads exactly that far.
    TestImage big(dir_ / "big.img", 270000);
    Bytes tif = {0x49, 0x49, 0x2A, 0x00};
    tif.resize(512, 0x10);
    big.Put(5, tif);
    DiskReader reader;
    big.Open(reader);
    Bytes buffer = big.Sector(5);
    CarvedFile found;
    ASSERT_EQ(IdentifyFileAt(job_, RequestAt(&reader, buffer, 5, 270000), found), 0);
    EXPECT_EQ(found.size, 512u + 134217728u);
    reader.Close();
}

TEST_F(CarvedFileMeasureTest, FooterInTheLastSectorsOfTheDiskIsStillFound) {
    // The disk ends 3 sectors after the picture starts: fewer than a chunk.
    TestImage small(dir_ / "small.img", 104);
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(1300, 0x31);
    const uint8_t iend[8] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    std::memcpy(png.data() + 1292, iend, 8);
    small.Put(101, png);
    DiskReader reader;
    small.Open(reader);
    Bytes buffer = small.Sector(101);
    CarvedFile found;
    ASSERT_EQ(IdentifyFileAt(job_, RequestAt(&reader, buffer, 101, 104), found), 0);
    EXPECT_EQ(found.size, 1300u);
    reader.Close();
}

struct ProgressLog {
    int calls = 0;
    int answerOnCall = 0;  // 0: never
    int answer = 0;
    int lastPercent = 0;
    uint64_t lastProcessed = 0, lastTotal = 0, lastFound = 0;
    int64_t lastRemaining = 0;
    int lastWeight = 0;
};

int RecordProgress(void* userData, int percent, int weight, int64_t remaining, uint64_t processed,
                   uint64_t total, uint64_t found) {
    auto* log = static_cast<ProgressLog*>(userData);
    ++log->calls;
    log->lastPercent = percent;
    log->lastWeight = weight;
    log->lastRemaining = remaining;
    log->lastProcessed = processed;
    log->lastTotal = total;
    log->lastFound = found;
    return log->calls == log->answerOnCall ? log->answer : 0;
}

TEST_F(CarvedFileMeasureTest, WalkReportsProgressAndACancelStopsIt) {
    Bytes psd = Text("8BPS");
    psd.resize(512, 0x55);
    image_->Put(100, psd);  // followed by zeros up to the end of the 4096-sector image
    ProgressLog log;
    CarveJob& ctx = job_;
    ctx.scanProgress = RecordProgress;
    ctx.userData = &log;
    ctx.weight = 90;
    Identified whole = Identify(100);
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.size, (4096u - 100) * 512);
    // One report per 64 KiB chunk: 3995 sectors after the first one.
    EXPECT_EQ(log.calls, (3995 + 127) / 128);
    EXPECT_EQ(log.lastProcessed, 1000u + 3995);
    EXPECT_EQ(log.lastTotal, 100000u);
    EXPECT_EQ(log.lastPercent, static_cast<int>((1000 + 3995) * 100 / 100000 + 10));
    EXPECT_EQ(log.lastWeight, 90);
    EXPECT_EQ(log.lastRemaining, 42);
    EXPECT_EQ(log.lastFound, 7u);

    ProgressLog cancel;
    cancel.answerOnCall = 3;
    cancel.answer = kCancelCode;
    ctx.userData = &cancel;
    Identified cancelled = Identify(100);
    EXPECT_EQ(cancelled.status, kCancelCode);
    EXPECT_EQ(cancelled.size, 512u + 2 * 128 * 512);  // the chunks before the cancelling report
    EXPECT_EQ(cancelled.name, "100.psd");

    ProgressLog other;
    other.answerOnCall = 2;
    other.answer = 5;  // any other answer only shortens the file
    ctx.userData = &other;
    Identified shortened = Identify(100);
    EXPECT_EQ(shortened.status, 0);
    EXPECT_EQ(shortened.size, 512u + 128 * 512);
}

TEST_F(CarvedFileMeasureTest, UnrecognisedAndNeverCarvedTypesGiveInvalidParameter) {
    EXPECT_EQ(Identify(5).status, 87);  // zeros
    Bytes gho = {0xFE, 0xEF, 0x00, 0x00};
    gho.resize(512, 1);
    image_->Put(6, gho);
    Identified ghost = Identify(6);
    EXPECT_EQ(ghost.status, 87);
    EXPECT_EQ(ghost.type, kTypeGho);
}

TEST_F(CarvedFileMeasureTest, CompoundFileSizeComesFromItsAllocationTable) {
    Bytes doc = MakeCompoundFile("WordDocument", 20);
    image_->Put(100, doc);
    image_->Put(100 + doc.size() / 512, Bytes(512, 0x61));  // data after the file
    Identified found = Identify(100);
    EXPECT_EQ(found.type, kTypeDoc);
    EXPECT_EQ(found.name, "100.doc");
    EXPECT_EQ(found.size, doc.size());

    // An allocation sector that lies beyond the disk cannot be read: the rule
    // gives up and the walk measures the file, never a byte count of sectors.
    Bytes damaged = doc;
    PutU32(damaged.data() + 76, 0x00FFFFFF);
    image_->Put(300, damaged);
    image_->Put(330, MakePe(0x0102));
    EXPECT_EQ(CompoundFileSizeFromAllocationTable(job_, damaged.data(), 512), 0u);
    Identified walked = Identify(300);
    EXPECT_EQ(walked.size, 30u * 512);

    Bytes badShift = doc;
    PutU16(badShift.data() + 30, 10);
    EXPECT_EQ(CompoundFileSizeFromAllocationTable(job_, badShift.data(), 512), 0u);
}

TEST_F(CarvedFileMeasureTest, CompoundFileWithIndexSectorsFollowsTheChain) {
    // 110 allocation sectors: 109 in the header, the last one in an index sector.
    Bytes header = MakeCompoundFile("Contents", 1);
    header.resize(512);
    PutU32(header.data() + 44, 110);
    PutU32(header.data() + 72, 1);
    PutU32(header.data() + 68, 0);  // index sector at file sector 0
    Bytes index(512, 0xFF);
    PutU32(index.data(), 1);  // allocation sector 110 is file sector 1
    Bytes lastTable(512, 0xFF);
    for (int i = 0; i < 28; ++i) PutU32(lastTable.data() + 4 * i, 0);  // 28 used, 100 free entries
    image_->Put(50, header);
    image_->Put(51, index);
    image_->Put(52, lastTable);
    Open();
    SetJobFor(job_, &reader_, 50);
    EXPECT_EQ(CompoundFileSizeFromAllocationTable(job_, header.data(), 512), (110u * 128 + 1 - 100) * 512);
}

TEST_F(CarvedFileMeasureTest, TransportStreamEndsAtItsFirstBadPacketAndIsRememberedForTheScan) {
    Bytes ts = MakeTransportStream(60);  // 11280 bytes
    image_->Put(100, ts);
    Bytes after(600, 0x11);  // not a packet start at byte 11280
    image_->Put(100 + 11280 / 512, Bytes());
    std::fstream f(image_->Path(), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(100 * 512 + 11280);
    f.write(reinterpret_cast<const char*>(after.data()), 600);
    f.close();
    Identified found = Identify(100);
    EXPECT_EQ(found.type, kTypeTs);
    EXPECT_EQ(found.size, 11280u);
    ASSERT_EQ(job_.tsRanges.size(), 1u);
    EXPECT_EQ(job_.tsRanges[0].firstSector, 100u);
    EXPECT_EQ(job_.tsRanges[0].lastSector, 100u + 22);
    // Identified again in the same scan, it is inside the carved range.
    EXPECT_EQ(Identify(100).status, 87);
    job_.tsRanges.clear();
    EXPECT_EQ(Identify(100).status, 0);
}

TEST_F(CarvedFileMeasureTest, EachScanKeepsItsOwnCarvingState) {
    // What one scan carved hides nothing from another scan, and a quick
    // engine's content check of a file found by name leaves a scan's state alone.
    image_->Put(100, MakeTransportStream(60));
    Open();
    EXPECT_EQ(Identify(100).status, 0);
    ASSERT_EQ(job_.tsRanges.size(), 1u);
    Bytes first = image_->Sector(100);
    EXPECT_TRUE(MatchesExtension(first.data(), first.size(), "ts", &reader_, kSectorSize, 100));
    EXPECT_EQ(job_.tsRanges.size(), 1u);
    EXPECT_TRUE(job_.inTransportStream);
    EXPECT_EQ(Identify(100).status, 87);  // still inside this scan's stream

    CarveJob otherScan;
    CarvedFile found;
    EXPECT_EQ(IdentifyFileAt(otherScan, RequestAt(&reader_, first, 100, 4096), found), 0);
    EXPECT_EQ(found.type, kTypeTs);
    EXPECT_EQ(job_.tsRanges.size(), 1u);
}

TEST_F(CarvedFileMeasureTest, MidiFollowsItsTrackChain) {
    Bytes midi = MakeMidi(3, 400);  // 14 + 3 x 408 = 1238 bytes; tracks cross sectors
    image_->Put(100, midi);
    image_->Put(103, Bytes(512, 0x4D));
    image_->Put(110, MakePe(0x0102));
    Identified found = Identify(100);
    EXPECT_EQ(found.type, kTypeMid);
    EXPECT_EQ(found.size, 1238u);

    Bytes tiny = MakeMidi(2, 40);  // wholly inside its first sector
    image_->Put(200, tiny);
    image_->Put(201, Bytes(512, 0x4D));
    EXPECT_EQ(Identify(200).size, tiny.size());
}

TEST_F(CarvedFileMeasureTest, RarApeAndMp3FindTheirFooters) {
    Bytes rar = MakeRar(3000);
    image_->Put(100, rar);
    image_->Put(120, Bytes(512, 0x44));
    EXPECT_EQ(Identify(100).size, rar.size());

    Bytes ape = Text("MAC ");
    ape.resize(3000, 0x12);
    const uint8_t tag[10] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
    std::memcpy(ape.data() + 2000, tag, 10);  // tag header
    std::memcpy(ape.data() + 2968, tag, 10);  // tag footer: the last 32 bytes
    image_->Put(300, ape);
    image_->Put(310, Bytes(512, 0x44));
    EXPECT_EQ(Identify(300).size, 3000u);

    Bytes mp3 = Text("ID3\x04");
    mp3.resize(10, 0);
    mp3.resize(5000, 0x66);
    std::memcpy(mp3.data() + 5000 - 128, "TAG", 3);
    image_->Put(400, mp3);
    image_->Put(420, MakePe(0x0102));
    EXPECT_EQ(Identify(400).size, 5000u);
}

TEST_F(CarvedFileMeasureTest, ArchiveEndsAtItsOwnEndRecordNotAtTheNextArchives) {
    auto archive = [](const std::string& name, size_t size) {
        Bytes b = MakeZipStart(name, size);
        const uint8_t eocd[4] = {0x50, 0x4B, 0x05, 0x06};
        std::memcpy(b.data() + size - 22, eocd, 4);
        std::memset(b.data() + size - 18, 0, 18);
        return b;
    };
    Bytes first = archive("a.txt", 3000), second = archive("b.txt", 5000);
    image_->Put(100, first);
    image_->Put(110, second);  // in the same 64 KiB chunk as the first one's end
    Identified found = Identify(100);
    EXPECT_EQ(found.type, kTypeZip);
    EXPECT_EQ(found.size, 3000u);
    EXPECT_EQ(Identify(110).size, 5000u);
}

}  // namespace
}  // namespace sorvane
