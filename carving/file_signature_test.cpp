#include "carving/file_signature.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "carving/carving_test_support.h"

namespace sorvane {
namespace {

using namespace carvingtest;

class FileSignatureTest : public ::testing::Test {
  protected:
    void TearDown() override { reader_.Close(); }
    // An image with `bytes` at `sector`, opened and set as the context's disk
    // with the current sector at `sector`.
    Bytes PlaceAndRead(const Bytes& bytes, uint64_t sector = 10, uint64_t sectors = 400) {
        image_ = std::make_unique<TestImage>(dir_ / "disk.img", sectors);
        image_->Put(sector, bytes);
        reader_.Close();
        image_->Open(reader_);
        SetJobFor(job_, &reader_, sector);
        return image_->Sector(sector);
    }
    FileTypeCode Recognise(const Bytes& sector) {
        return RecogniseSector(job_, sector.data(), sector.size());
    }
    CarveJob job_;

    testkit::TempDir dir_;
    std::unique_ptr<TestImage> image_;
    DiskReader reader_;
};

TEST_F(FileSignatureTest, TableHoldsTheRowsInTheirOrderAndEndsWithTheTerminator) {
    const char* expected =
        "mpeg mpg vob mp4 rmvb rm wmv asf wma swf avi flv 3gp mkv ts mts mxf mp3 mid ape wav mov mp2 mmf fla "
        "gif "
        "bmp dib jpg jpeg jpe jfif png psd tif tiff ico doc dot wps wpt xls xlt xla et ett ppt pot pps dps "
        "dpt ole "
        "docx docm dotm dotx xlsx xlsb xlsm xlsx xlam xltx xltm pptx pptm potx potm ppsx ppsm mso07 pdf gz "
        "gzip 7z "
        "zip rar cab exe dll sys gho db dbx pst fla ttf ico "
        // rows added later, after the first ones so that their type codes stay
        "gz ttf otf rar m4a m4b 3g2 m2ts mp2 bmp";
    std::string order;
    for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
        if (r) order += ' ';
        order += FileSignatureTable[r].extension;
        EXPECT_NE(FileSignatureTable[r].recognise, nullptr);
    }
    EXPECT_EQ(order, expected);
    EXPECT_EQ(FileSignatureTable[kFileSignatureRowCount].code, kTypeNotRecognised);
    EXPECT_EQ(FileSignatureTable[kFileSignatureRowCount].extension, nullptr);
    // Only the types that are recognised but never carved lack a size finder.
    for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
        FileTypeCode c = FileSignatureTable[r].code;
        bool neverCarved = c == kTypeExe || c == kTypeDll || c == kTypeSys || c == kTypeGho;
        EXPECT_EQ(FileSignatureTable[r].findSize == nullptr, neverCarved) << FileSignatureTable[r].extension;
    }
    // Every code has a first row, whose extension names carved files.
    for (int c = 0; c < kTypeNotRecognised; ++c)
        EXPECT_NE(FirstRowOfCode(static_cast<FileTypeCode>(c)), nullptr);
    EXPECT_STREQ(FirstRowOfCode(kTypeXls)->extension, "xls");
    EXPECT_STREQ(FirstRowOfCode(kTypeJpg)->extension, "jpg");
    EXPECT_STREQ(FirstRowOfCode(kTypeMpeg)->extension, "mpeg");
    EXPECT_EQ(FirstRowOfCode(kTypeNotRecognised), nullptr);
}

TEST_F(FileSignatureTest, JpegNeedsJfifOrExifAfterItsFirstSegment) {
    Bytes jfif = MakeJpeg(512);
    EXPECT_EQ(Recognise(jfif), kTypeJpg);
    Bytes exif(512, 0);
    const uint8_t exifHead[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x80, 'E', 'x', 'i', 'f', 0, 0};
    std::memcpy(exif.data(), exifHead, sizeof exifHead);
    EXPECT_EQ(Recognise(exif), kTypeJpg);
    Bytes quantTable(512, 0);
    const uint8_t dqt[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    std::memcpy(quantTable.data(), dqt, sizeof dqt);
    EXPECT_EQ(Recognise(quantTable), kTypeNotRecognised);
    Bytes swapped = exif;
    swapped[3] = 0xE0;  // Exif text after an APP0 marker
    EXPECT_EQ(Recognise(swapped), kTypeNotRecognised);
}

TEST_F(FileSignatureTest, ContentCheckAcceptsUnknownExtensionsAndNeverMso07) {
    Bytes jfif = MakeJpeg(512);
    EXPECT_TRUE(MatchesExtension(jfif.data(), jfif.size(), "txt", nullptr, 512, 0));
    EXPECT_TRUE(MatchesExtension(jfif.data(), jfif.size(), "JPG", nullptr, 512, 0));
    EXPECT_TRUE(MatchesExtension(jfif.data(), jfif.size(), "jfif", nullptr, 512, 0));
    EXPECT_FALSE(MatchesExtension(jfif.data(), jfif.size(), "png", nullptr, 512, 0));
    EXPECT_FALSE(MatchesExtension(jfif.data(), jfif.size(), "mso07", nullptr, 512, 0));

    Bytes word = PlaceAndRead(MakeZipStart("word/document.xml"), 20);
    EXPECT_TRUE(MatchesExtension(word.data(), word.size(), "docx", &reader_, 512, 20));
    EXPECT_TRUE(MatchesExtension(word.data(), word.size(), "DOCM", &reader_, 512, 20));
    EXPECT_FALSE(MatchesExtension(word.data(), word.size(), "xlsx", &reader_, 512, 20));
    EXPECT_FALSE(MatchesExtension(word.data(), word.size(), "mso07", &reader_, 512, 20));
    EXPECT_TRUE(MatchesExtension(word.data(), word.size(), "zip", &reader_, 512, 20));
    // Without a disk the sub-type cannot be read: the document is not confirmed.
    EXPECT_FALSE(MatchesExtension(word.data(), word.size(), "docx", nullptr, 512, 20));

    Bytes dll = MakePe(0x2002);
    EXPECT_TRUE(MatchesExtension(dll.data(), dll.size(), "dll", nullptr, 512, 0));
    EXPECT_FALSE(MatchesExtension(dll.data(), dll.size(), "exe", nullptr, 512, 0));
}

TEST_F(FileSignatureTest, PortableExecutablesAreToldApartByTheirFlags) {
    Bytes exe = MakePe(0x0102), dll = MakePe(0x2102), sys = MakePe(0x1102), object = MakePe(0x0100);
    EXPECT_EQ(Recognise(exe), kTypeExe);
    EXPECT_EQ(Recognise(dll), kTypeDll);
    EXPECT_EQ(Recognise(sys), kTypeSys);
    EXPECT_EQ(Recognise(object), kTypeNotRecognised);  // not marked executable
    Bytes farHeader = MakePe(0x0102);
    PutU32(farHeader.data() + 60, 489);  // the header would not fit in the sector
    EXPECT_EQ(Recognise(farHeader), kTypeNotRecognised);
}

TEST_F(FileSignatureTest, CompoundFileSubTypeComesFromStreamsClassOrFirstSector) {
    Bytes xls = PlaceAndRead(MakeCompoundFile("Workbook", 4));
    EXPECT_EQ(Recognise(xls), kTypeXls);
    EXPECT_STREQ(FirstRowOfCode(Recognise(xls))->extension, "xls");

    Bytes other = PlaceAndRead(MakeCompoundFile("Contents", 4));
    EXPECT_EQ(Recognise(other), kTypeOle);
    EXPECT_STREQ(FirstRowOfCode(Recognise(other))->extension, "ole");

    Bytes word = PlaceAndRead(MakeCompoundFile("WORDDOCUMENT", 4));  // names compare ignoring case
    EXPECT_EQ(Recognise(word), kTypeDoc);
    Bytes slides = PlaceAndRead(MakeCompoundFile("PowerPoint Document", 4));
    EXPECT_EQ(Recognise(slides), kTypePpt);

    const uint8_t wordClass[16] = {0x06, 0x09, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(Recognise(PlaceAndRead(MakeCompoundFile("Contents", 4, wordClass))), kTypeDoc);
    const uint8_t excel5Class[16] = {0x10, 0x08, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(Recognise(PlaceAndRead(MakeCompoundFile("Contents", 4, excel5Class))), kTypeXls);
    // A Word information block in the first stream sector decides at once.
    EXPECT_EQ(Recognise(PlaceAndRead(MakeCompoundFile("Contents", 4, nullptr, 0xA5EC))), kTypeDoc);

    // A directory sector that cannot be read leaves a compound file of no known kind.
    Bytes damaged = MakeCompoundFile("Workbook", 4);
    PutU32(damaged.data() + 48, 0x7FFFFFF0);
    EXPECT_EQ(Recognise(PlaceAndRead(damaged)), kTypeOle);
}

TEST_F(FileSignatureTest, FlaIsOnlyTheShortCompoundMagicSoOfficeFilesStayOffice) {
    Bytes office = PlaceAndRead(MakeCompoundFile("Workbook", 2));
    EXPECT_EQ(Recognise(office), kTypeXls);
    Bytes fla(512, 0);
    const uint8_t shortMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0x00, 0x00, 0x00, 0x00};
    std::memcpy(fla.data(), shortMagic, 8);
    EXPECT_EQ(Recognise(fla), kTypeFla);
    EXPECT_TRUE(MatchesExtension(fla.data(), fla.size(), "fla", nullptr, 512, 0));
}

TEST_F(FileSignatureTest, ZipEntryNamesDecideTheOfficeOpenXmlSubType) {
    EXPECT_EQ(Recognise(PlaceAndRead(MakeZipStart("word/document.xml"))), kTypeDocx);
    EXPECT_EQ(Recognise(PlaceAndRead(MakeZipStart("ppt/slides/slide1.xml"))), kTypePptx);
    EXPECT_EQ(Recognise(PlaceAndRead(MakeZipStart("XL/workbook.xml"))), kTypeXlsx);
    EXPECT_EQ(Recognise(PlaceAndRead(MakeZipStart("photos/cat.jpg"))), kTypeZip);
    EXPECT_STREQ(FirstRowOfCode(Recognise(PlaceAndRead(MakeZipStart("word/x"))))->extension, "docx");

    // The first entry is the content-types part; the next one, two sectors on, decides.
    Bytes parts = MakeZipStart("[Content_Types].xml", 1024);
    Append(parts, MakeZipStart("xl/workbook.xml", 512));
    EXPECT_EQ(Recognise(PlaceAndRead(parts)), kTypeXlsx);

    // Names after the end of the central directory belong to something else.
    Bytes ended = MakeZipStart("readme.txt", 512);
    const uint8_t eocd[4] = {0x50, 0x4B, 0x05, 0x06};
    std::memcpy(ended.data() + 200, eocd, 4);
    Append(ended, MakeZipStart("word/document.xml", 512));
    EXPECT_EQ(Recognise(PlaceAndRead(ended)), kTypeZip);

    // A name 21 sectors on lies beyond the five blocks that are read.
    Bytes late = MakeZipStart("readme.txt", 21 * 512);
    Append(late, MakeZipStart("word/document.xml", 512));
    EXPECT_EQ(Recognise(PlaceAndRead(late)), kTypeZip);
}

TEST_F(FileSignatureTest, TransportStreamIsNotReportedInsideACarvedRangeUntilANewScan) {
    Bytes first = PlaceAndRead(MakeTransportStream(100), 50);
    EXPECT_EQ(Recognise(first), kTypeTs);

    CarveJob& ctx = job_;
    ctx.tsRanges.push_back({50, 86});
    ctx.inTransportStream = true;
    EXPECT_EQ(Recognise(first), kTypeNotRecognised);  // already carved in this scan
    ctx.tsRanges.clear();                             // a new deep scan starts
    EXPECT_EQ(Recognise(first), kTypeTs);

    // A sector whose packet grid runs on from the sector before continues the stream.
    Bytes shifted(136, 0);
    Append(shifted, MakeTransportStream(40));  // packets at 136, 324, then 512: the next sector's start
    PlaceAndRead(shifted, 50);
    Bytes continued = image_->Sector(51);
    SetJobFor(job_, &reader_, 51);
    ctx.inTransportStream = true;
    EXPECT_EQ(Recognise(continued), kTypeNotRecognised);
    ctx.inTransportStream = false;  // nothing was being measured: the sector is taken as a start
    EXPECT_EQ(Recognise(continued), kTypeTs);

    Bytes broken = first;
    broken[376] = 0x00;
    EXPECT_EQ(Recognise(broken), kTypeNotRecognised);

    // A stray sync byte in the data before a stream does not make it a
    // continuation: the stream is found.
    Bytes before(512, 0x11);
    before[512 - 188] = 0x47;
    Append(before, MakeTransportStream(40));
    Bytes start = PlaceAndRead(before, 60);
    start = image_->Sector(61);
    SetJobFor(job_, &reader_, 61);
    ctx.inTransportStream = true;
    EXPECT_EQ(Recognise(start), kTypeTs);
}

// The deep scan hands a recogniser the rest of its chunk, which may run past
// the end of a short stream: the bytes after it must not hide the stream.
TEST_F(FileSignatureTest, StreamsShorterThanTheBufferAreStillFound) {
    Bytes ts = MakeTransportStream(40);  // 7520 bytes
    Bytes m2ts;
    for (size_t p = 0; p < 40; ++p) {
        Bytes packet(192, 0xFF);
        packet[4] = 0x47;
        packet[5] = 0x41;
        Append(m2ts, packet);
    }
    for (const auto& [stream, code] : {std::pair{ts, kTypeTs}, std::pair{m2ts, kTypeM2ts}}) {
        Bytes chunk = stream;
        chunk.resize(65536, 0x5A);  // what follows the stream in the chunk
        PlaceAndRead(chunk, 20, 400);
        EXPECT_EQ(RecogniseSector(job_, chunk.data(), chunk.size()), code);
        EXPECT_EQ(RecogniseSectorInTableOrder(job_, chunk.data(), chunk.size()), code);
    }
}

TEST_F(FileSignatureTest, MtsAfterAnotherMtsNeedsAZeroTimestamp) {
    Bytes mts(512, 0);
    const uint8_t pat[8] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
    std::memcpy(mts.data() + 8, pat, 8);
    mts[0] = 0x12;  // a non-zero timestamp
    mts[4] = 0x47;
    EXPECT_EQ(Recognise(mts), kTypeMts);
    job_.inMts = true;
    EXPECT_EQ(Recognise(mts), kTypeNotRecognised);
    mts[0] = 0;
    EXPECT_EQ(Recognise(mts), kTypeMts);
}

TEST_F(FileSignatureTest, HeaderFieldRulesOfIconFontGzipAndOthers) {
    Bytes ico(512, 0);
    const uint8_t icoHead[6] = {0, 0, 1, 0, 2, 0};
    std::memcpy(ico.data(), icoHead, 6);
    PutU32(ico.data() + 6 + 8, 100);
    PutU32(ico.data() + 6 + 12, 38);
    PutU32(ico.data() + 22 + 8, 50);
    PutU32(ico.data() + 22 + 12, 138);
    EXPECT_EQ(Recognise(ico), kTypeIco);
    PutU32(ico.data() + 22 + 12, 139);  // images must follow one another
    EXPECT_EQ(Recognise(ico), kTypeNotRecognised);

    Bytes gz(512, 0);
    const uint8_t gzHead[10] = {0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0x02, 0x03};
    std::memcpy(gz.data(), gzHead, 10);
    EXPECT_EQ(Recognise(gz), kTypeGz);
    gz[8] = 0;  // the default compression level leaves the extra flags 0
    EXPECT_EQ(Recognise(gz), kTypeGz);
    gz[8] = 1;  // no compressor writes this
    EXPECT_EQ(Recognise(gz), kTypeNotRecognised);
    gz[8] = 0;
    gz[3] = 0x20;  // a reserved flag bit
    EXPECT_EQ(Recognise(gz), kTypeNotRecognised);

    Bytes mpeg(512, 0);
    const uint8_t pack[] = {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1, 0, 0, 1, 0xBB};
    std::memcpy(mpeg.data(), pack, sizeof pack);
    EXPECT_EQ(Recognise(mpeg), kTypeMpeg);
    mpeg[15] = 0xBC;
    EXPECT_EQ(Recognise(mpeg), kTypeNotRecognised);

    Bytes swf = Text("FWS\x05");
    swf.resize(512, 0);
    EXPECT_EQ(Recognise(swf), kTypeSwf);
    swf[3] = 6;  // uncompressed files of version 6 and later are not taken
    EXPECT_EQ(Recognise(swf), kTypeNotRecognised);
}

// Every recogniser on every prefix of every sample, in buffers of exactly that
// length, so a read past a short buffer shows up under AddressSanitizer; and a
// prefix shorter than the recogniser needs never gives a type.
TEST_F(FileSignatureTest, ShortBuffersNeverReadPastTheirEnd) {
    std::vector<Bytes> samples = {
        MakeJpeg(512),          MakeBmpHeader(1000),       MakePe(0x0102), MakeMidi(2, 40), MakeRar(100),
        MakeTransportStream(3), MakeZipStart("word/a.xml")};
    Bytes mp3 = Text("ID3\x04");
    mp3.resize(32, 0);
    samples.push_back(mp3);
    samples.push_back(Bytes{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C});
    samples.push_back(Bytes{0xFE, 0xEF, 0x00, 0x00, 0x01});
    Bytes first = PlaceAndRead(MakeCompoundFile("Workbook", 2));
    samples.push_back(first);
    for (const Bytes& sample : samples) {
        for (size_t n = 0; n <= std::min<size_t>(sample.size(), 600); ++n) {
            Bytes cut(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(n));
            for (size_t r = 0; r < kFileSignatureRowCount; ++r)
                FileSignatureTable[r].recognise(job_, cut.empty() ? nullptr : cut.data(), n);
        }
    }
    Bytes mp3Short(mp3.begin(), mp3.begin() + 9);
    EXPECT_EQ(RecogniseSectorInTableOrder(job_, mp3Short.data(), mp3Short.size()), kTypeNotRecognised);
    Bytes jpegShort(samples[0].begin(), samples[0].begin() + 15);
    EXPECT_EQ(RecogniseSectorInTableOrder(job_, jpegShort.data(), jpegShort.size()), kTypeNotRecognised);
}

// The first-byte dispatch must give the same first answer as trying every row
// in table order: random sectors, sectors of every known signature with random
// damage after their first bytes, and uniform sectors.
TEST_F(FileSignatureTest, FastDispatchGivesTheSameFirstMatchAsTheTable) {
    // The disk the compound-file, Office Open XML and transport-stream rules read.
    std::vector<uint64_t> regions;
    Bytes disk;
    auto region = [&](const Bytes& bytes) {
        regions.push_back(disk.size() / 512);
        Append(disk, bytes);
        disk.resize((disk.size() + 511) / 512 * 512, 0);
    };
    region(MakeCompoundFile("Workbook", 3));
    region(MakeCompoundFile("WordDocument", 3));
    region(MakeCompoundFile("PowerPoint Document", 3));
    region(MakeCompoundFile("Contents", 3));
    region(MakeZipStart("xl/workbook.xml", 2048));
    region(MakeZipStart("word/document.xml", 2048));
    region(MakeZipStart("ppt/presentation.xml", 2048));
    region(MakeZipStart("notes.txt", 2048));
    region(MakeTransportStream(40));
    PlaceAndRead(disk, 0, 200);

    std::vector<Bytes> seeds = {MakeJpeg(512),
                                MakeBmpHeader(4000),
                                MakePe(0x2102),
                                MakePe(0x0102),
                                MakePe(0x1102),
                                MakeMidi(1, 100),
                                MakeRar(600),
                                MakeTransportStream(3),
                                MakeZipStart("word/document.xml"),
                                MakeCompoundFile("Workbook", 3)};
    const std::string texts[] = {
        std::string("ID3\x03\0\0\0\0\0\x10", 10),
        std::string("RIFF\x10\0\0\0WAVEfmt ", 16),
        std::string("RIFF\0\0\0\0AVI LIST", 16),
        std::string("MThd\0\0\0\x06\0\x01\0\x01\0\x60MTrk", 18),
        "MAC ",
        "MMMD",
        "MSCF",
        std::string("SQLite format 3\0", 16),
        std::string("!BDN\0\0\0\0SM", 10),
        "%PDF-1.4",
        "GIF89a",
        "8BPS",
        ".RMF",
        std::string("\0\0\0\x18"
                    "ftyp3gp4",
                    12),
        std::string("\0\0\0\x18"
                    "ftypisom",
                    12),
        std::string("\0\0\0\x18"
                    "ftypqt  ",
                    12),
        "moov",
        std::string("FLV\x01\x05\0\0\0\x09", 9),
        "CWS\x08",
        "FWS\x04",
        "\x1a\x45\xdf\xa3",
        std::string("II*\0", 4),
        std::string("MM\0*", 4),
        "\x89PNG\r\n\x1a\n",
        "\xcf\xad\x12\xfe",
        std::string("\xfe\xef\0\0", 4),
        std::string("\0\x01\0\0\0\x01\0\x10\0\x10\0\x10\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x01\0\0", 32),
        std::string("\0\0\x01\0\x01\0\x10\x10\0\0\0\0\0\0\0\0\0\0\x16\0\0\0", 22),
        std::string("\0\0\x01\xba\x21\0\x01\0\x01\x80\0\x01\0\0\x01\xbb", 16),
        std::string("\0\0\x01\xb3\x04\0\x30\x13\xff\xff\xe0\x18\0\0\x01\xb8", 16),
        std::string("\xff\xfd\xe4\0", 4),
        std::string("\x1f\x8b\x08\x08\0\0\0\0\x02\x03", 10),
        std::string("\x37\x7a\xbc\xaf\x27\x1c", 6),
        std::string("\x30\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c", 16),
        std::string("\x06\x0e\x2b\x34\x02\x05\x01\x01\x0d\x01\x02\x01\x01\x02\x04\x00", 16),
        std::string("\0\0\0\0\x47\x40\0\x10\0\0\xb0\x11\0\0\xc1\0", 16),
        std::string("\xd0\xcf\x11\xe0\0\0\0\0", 8)};
    for (const std::string& t : texts) {
        Bytes b(t.begin(), t.end());
        b.resize(512, 0);
        seeds.push_back(b);
    }
    std::mt19937 random(12345);
    std::set<int> seen;
    auto check = [&](Bytes sector, uint64_t at, bool inStream) {
        sector.resize(512, 0);
        SetJobFor(job_, &reader_, at);
        job_.inTransportStream = inStream;
        job_.inMts = inStream;
        FileTypeCode fast = RecogniseSector(job_, sector.data(), sector.size());
        FileTypeCode slow = RecogniseSectorInTableOrder(job_, sector.data(), sector.size());
        ASSERT_EQ(fast, slow) << "first bytes " << int(sector[0]) << " " << int(sector[1]) << " at " << at;
        seen.insert(slow);
        ASSERT_EQ(AnyRecogniserAccepts(job_, sector.data(), sector.size(), false),
                  slow != kTypeNotRecognised);
        ASSERT_EQ(AnyRecogniserAccepts(job_, sector.data(), sector.size(), true),
                  slow != kTypeNotRecognised && slow != kTypeMpeg);
        // The deep scan passes over what the screen rejects without asking.
        if (slow != kTypeNotRecognised) {
            ASSERT_TRUE(AnyRecogniserMaySayYes(sector.data(), sector.size()));
        }
    };
    for (int i = 0; i < 20000; ++i) {
        Bytes sector(512);
        for (auto& byte : sector) byte = static_cast<uint8_t>(random());
        check(sector, random() % 150, random() & 1);
    }
    for (const Bytes& seed : seeds) {
        for (uint64_t at : regions) {
            check(seed, at, false);
            check(seed, at, true);
        }
        for (int i = 0; i < 300; ++i) {
            Bytes damaged = seed;
            damaged.resize(512, 0);
            int flips = 1 + static_cast<int>(random() % 3);
            for (int f = 0; f < flips; ++f) damaged[random() % 64] = static_cast<uint8_t>(random());
            check(damaged, regions[random() % regions.size()], random() & 1);
        }
    }
    for (int value = 0; value < 256; ++value) check(Bytes(512, static_cast<uint8_t>(value)), 3, false);
    // The samples reach every type a recogniser can give, so the comparison
    // covered real matches and not only rejections.
    EXPECT_EQ(seen.size(), 49u);  // codes 0 to 49 but 7, which no recogniser gives
}

}  // namespace
}  // namespace sorvane
