// Files whose length only their own structure tells, made by real tools and
// written into card images between random bytes and between zeros, carved by
// the engine in a pass like the deep scan's: each comes back byte for byte,
// whole where its structure can say so; cut short or broken, it is reported
// damaged and never comes back longer than the walk allows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "carving/carving_test_support.h"
#include "carving/content_check.h"
#include "carving/crc32.h"
#include "engines/file_type_recovery.h"
#include "results/scan_resume_store.h"

namespace sorvane {
namespace {

using namespace carvingtest;

struct Structured {
    std::string file;
    FileTypeCode code;
    bool wholeKnown;  // the structure says whether the content is whole
};

// Every file the structured-files script makes, with the type it must be
// found as.
const std::vector<Structured>& StructuredFiles() {
    static const std::vector<Structured> files = {
        {"photo.jpg", kTypeJpg, true},
        {"progressive.jpg", kTypeJpg, true},
        {"exif_thumbnail.jpg", kTypeJpg, true},
        {"picture.png", kTypePng, true},
        {"interlaced.png", kTypePng, true},
        {"animated.gif", kTypeGif, true},
        {"v3.bmp", kTypeBmp, false},
        {"v4.bmp", kTypeBmp, false},
        {"v5.bmp", kTypeBmp, false},
        {"plain.tif", kTypeTif, false},
        {"big_endian_lzw.tif", kTypeTif, false},
        {"tiled.tif", kTypeTif, false},
        {"jpeg_strips.tif", kTypeTif, false},
        {"two_pages.tif", kTypeTif, false},
        {"plain.psd", kTypePsd, false},
        {"rle.psd", kTypePsd, false},
        {"movie_last.mp4", kTypeMp4, false},
        {"movie_first.mp4", kTypeMp4, false},
        {"movie.mov", kTypeMov, false},
        {"phone.3gp", kType3gp, false},
        {"phone.3g2", kType3g2, false},
        {"song.m4a", kTypeM4a, false},
        {"movie.mkv", kTypeMkv, false},
        {"movie.webm", kTypeMkv, false},
        {"movie.flv", kTypeFlv, false},
        {"program.mpg", kTypeMpeg, false},
        {"stream.m2ts", kTypeM2ts, false},
        {"movie.mxf", kTypeMxf, false},
        {"sound.mp2", kTypeMp2, true},
        {"tagged.mp3", kTypeMp3, true},
        {"movie.rm", kTypeRmvb, false},
        {"movie.wmv", kTypeWmv, false},
        {"sound.wma", kTypeWmv, false},
        {"ended.m2v", kTypeMpeg, true},
        {"ended.m1v", kTypeMpeg, true},
        {"deflated.cab", kTypeCab, false},
        {"stored.cab", kTypeCab, false},
        {"letter.pdf", kTypePdf, true},
        {"linearized.pdf", kTypePdf, true},
        {"object_streams.pdf", kTypePdf, true},
        {"updated.pdf", kTypePdf, true},
        {"letter.odt", kTypeZip, true},
        {"commented.zip", kTypeZip, true},
        {"stored.zip", kTypeZip, true},
        {"archive.7z", kType7z, false},
        {"pages.db", kTypeDb, false},
        {"level1.gz", kTypeGz, true},
        {"level2.gz", kTypeGz, true},
        {"level3.gz", kTypeGz, true},
        {"level4.gz", kTypeGz, true},
        {"level5.gz", kTypeGz, true},
        {"level6.gz", kTypeGz, true},
        {"level7.gz", kTypeGz, true},
        {"level8.gz", kTypeGz, true},
        {"level9.gz", kTypeGz, true},
        {"compressed.swf", kTypeSwf, true},
        {"DejaVuSans.ttf", kTypeTtf, false},
        {"DejaVuSerif-Bold.ttf", kTypeTtf, false},
    };
    return files;
}

std::filesystem::path StructuredDir() {
    static std::filesystem::path dir = MadeFilesDir("make_structured_files.sh");
    return dir;
}

Bytes RandomBytes(size_t n, std::mt19937& random) {
    Bytes b(n);
    for (auto& byte : b) byte = static_cast<uint8_t>(random());
    return b;
}

class StructureSizesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testkit::SetEnv("SORVANE_DATA_DIR", dir_.Path() / "data");
        CScanResumeStore::ResetInstanceForTests();
    }
    void TearDown() override {
        testkit::UnsetEnv("SORVANE_DATA_DIR");
        CScanResumeStore::ResetInstanceForTests();
    }

    struct Placed {
        std::string label;
        Bytes bytes;
        uint64_t sector;
    };

    // Writes the files one after another into an image, each starting on a
    // sector and followed by `gapSectors` sectors of random bytes (or zeros);
    // the rest of a file's last sector is filled the same way. Carves the
    // image in one pass and returns the records by start sector.
    std::map<uint64_t, FoundItemRecord> CarveLaidOut(std::vector<Placed>& placed, bool randomGaps,
                                                     const std::string& name) {
        std::mt19937 random(randomGaps ? 2026 : 1);
        uint64_t cursor = 8;
        Bytes disk(cursor * 512, 0);
        if (randomGaps) disk = RandomBytes(disk.size(), random);
        for (Placed& p : placed) {
            p.sector = cursor;
            Append(disk, p.bytes);
            size_t tail = (512 - p.bytes.size() % 512) % 512 + 8 * 512;
            Append(disk, randomGaps ? RandomBytes(tail, random) : Bytes(tail, 0));
            cursor = disk.size() / 512;
        }
        Append(disk, Bytes(16 * 512, 0));
        uint64_t total = disk.size() / 512;
        TestImage image(dir_.Path() / name, total);
        image.Put(0, disk);
        std::string before = testkit::FileSha256(image.Path());

        DiskReader reader;
        image.Open(reader);
        engine_ = std::make_unique<CFileTypeRecovery>();
        engine_->SetNamesFromMetadata(false);  // each file is told by the sector it starts at
        EXPECT_EQ(engine_->AttachToImage(512, "File_Type_0_" + name, 3, image.Path()), 0);
        uint64_t found = 0;
        Bytes sector(512);
        for (uint64_t s = 0; s < total;) {
            uint32_t got = 0;
            EXPECT_EQ(ReadSectors(1, reader, sector.data(), s, 512, &got), 0);
            uint64_t consumed = 1;
            int rc =
                engine_->RecordCarvedFile(512, sector.data(), 512, s, s, total, -1, &reader, consumed, found);
            EXPECT_TRUE(rc == 0 || rc == 87) << rc;
            s += consumed;
        }
        reader.Close();
        FoundItemList list;
        EXPECT_EQ(engine_->ListChildren(nullptr, 0, list), 0);
        std::map<uint64_t, FoundItemRecord> byLocation;
        for (const auto& r : list) byLocation[uint64_t{r.location}] = r;
        EXPECT_EQ(testkit::FileSha256(image.Path()), before) << "the source image was written";
        return byLocation;
    }

    Bytes Recover(const FoundItemRecord& record, const std::string& name) {
        std::filesystem::path out = dir_.Path() / "out" / name;
        EXPECT_EQ(engine_->RecoverItem(record, out, 0), 0);
        return testkit::ReadFile(out);
    }

    testkit::TempDir dir_;
    std::unique_ptr<CFileTypeRecovery> engine_;
};

TEST_F(StructureSizesTest, RealFilesComeBackByteExactBetweenZerosAndBetweenRandomBytes) {
    if (StructuredDir().empty()) GTEST_SKIP() << "the structured files could not be made";
    for (bool randomGaps : {false, true}) {
        SCOPED_TRACE(randomGaps ? "between random bytes" : "between zeros");
        std::vector<Placed> placed;
        std::vector<const Structured*> kinds;
        std::string missing;
        for (const Structured& s : StructuredFiles()) {
            std::filesystem::path path = StructuredDir() / s.file;
            Bytes bytes = std::filesystem::exists(path) ? testkit::ReadFile(path) : Bytes();
            if (bytes.empty()) {
                missing += s.file + " ";
                continue;
            }
            placed.push_back({s.file, bytes, 0});
            kinds.push_back(&s);
        }
        if (!missing.empty()) std::printf("not made here (skipped): %s\n", missing.c_str());
        ASSERT_FALSE(placed.empty());
        auto byLocation = CarveLaidOut(placed, randomGaps, randomGaps ? "random.img" : "zeros.img");
        for (size_t i = 0; i < placed.size(); ++i) {
            const Placed& p = placed[i];
            SCOPED_TRACE(p.label);
            auto it = byLocation.find(p.sector);
            ASSERT_NE(it, byLocation.end()) << "not found";
            const FoundItemRecord& record = it->second;
            EXPECT_EQ(record.Name(),
                      std::to_string(p.sector) + "." + FirstRowOfCode(kinds[i]->code)->extension);
            EXPECT_EQ(+record.size, p.bytes.size());
            Bytes recovered = Recover(record, std::to_string(i) + (randomGaps ? "r" : "z"));
            EXPECT_TRUE(recovered == p.bytes) << "recovered " << recovered.size() << " of " << p.bytes.size();
            uint32_t check = record.contentCheck;
            if (kinds[i]->wholeKnown)
                EXPECT_STREQ(ContentCheckWord(check), "whole");
            else
                EXPECT_STRNE(ContentCheckWord(check), "damaged");
        }
    }
}

TEST_F(StructureSizesTest, FilesCutShortAreDamagedAndNoLongerThanTheWalk) {
    if (StructuredDir().empty()) GTEST_SKIP() << "the structured files could not be made";
    // Cut to 60 % and followed by random bytes, as when the rest of a file was
    // overwritten. The structure cannot be completed, so the walk measures it.
    // (Files whose sizes all come before their content are the next test's.)
    const std::set<std::string> cut = {"photo.jpg",      "picture.png", "animated.gif", "plain.tif",
                                       "movie_last.mp4", "movie.mkv",   "movie.flv",    "letter.pdf",
                                       "commented.zip",  "pages.db",    "tagged.mp3",   "movie.mxf",
                                       "DejaVuSans.ttf", "movie.wmv",   "deflated.cab"};
    std::vector<Placed> placed;
    for (const std::string& name : cut) {
        Bytes bytes = testkit::ReadFile(StructuredDir() / name);
        if (bytes.empty()) continue;
        bytes.resize(bytes.size() * 6 / 10);
        placed.push_back({name, bytes, 0});
    }
    ASSERT_FALSE(placed.empty());
    auto byLocation = CarveLaidOut(placed, true, "cut.img");
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        SCOPED_TRACE(p.label);
        auto it = byLocation.find(p.sector);
        ASSERT_NE(it, byLocation.end()) << "not found";
        EXPECT_STREQ(ContentCheckWord(it->second.contentCheck), "damaged");
        // What was kept is recovered: the walk runs to the next file or the
        // metadata, never stops short of what is left.
        Bytes recovered = Recover(it->second, std::to_string(i));
        ASSERT_GE(recovered.size(), p.bytes.size() / 512 * 512);
        EXPECT_TRUE(std::equal(recovered.begin(),
                               recovered.begin() + static_cast<std::ptrdiff_t>(p.bytes.size() / 512 * 512),
                               p.bytes.begin()));
    }
}

TEST_F(StructureSizesTest, FilesCutShortWithTheirSizesWrittenWholeAreDamaged) {
    if (StructuredDir().empty()) GTEST_SKIP() << "the structured files could not be made";
    // Every size these files need comes before their content, so a file cut
    // to 60 % still claims its whole length; what took the place of the rest
    // gives it away: the movie's samples no longer start as their codec's
    // do, the run-length rows no longer unpack to their width, and another
    // file starts inside the raw pixels. Each is followed by a whole picture
    // and by random bytes or zeros, as when the space was reused.
    const std::vector<std::string> cut = {"movie_first.mp4", "v3.bmp", "v5.bmp", "rle.psd", "plain.psd"};
    const Bytes next = testkit::ReadFile(StructuredDir() / "photo.jpg");
    if (next.empty()) GTEST_SKIP() << "a tool is missing";
    for (bool randomGaps : {true, false}) {
        SCOPED_TRACE(randomGaps ? "random bytes after the cut" : "zeros after the cut");
        std::vector<Placed> placed;
        for (const std::string& name : cut) {
            Bytes bytes = testkit::ReadFile(StructuredDir() / name);
            if (bytes.empty()) continue;
            const size_t whole = bytes.size();
            bytes.resize(whole * 6 / 10);
            placed.push_back({name, bytes, 0});
            placed.push_back({name + " then photo.jpg", next, 0});
        }
        ASSERT_FALSE(placed.empty());
        auto byLocation = CarveLaidOut(placed, randomGaps, randomGaps ? "cut_random.img" : "cut_zeros.img");
        for (size_t i = 0; i < placed.size(); i += 2) {
            SCOPED_TRACE(placed[i].label);
            auto it = byLocation.find(placed[i].sector);
            ASSERT_NE(it, byLocation.end()) << "not found";
            EXPECT_STREQ(ContentCheckWord(it->second.contentCheck), "damaged");
            // Measured by the walk: the part that is left, up to the picture after it.
            EXPECT_EQ(+it->second.size, (placed[i + 1].sector - placed[i].sector) * 512);
            auto picture = byLocation.find(placed[i + 1].sector);
            ASSERT_NE(picture, byLocation.end());
            EXPECT_STREQ(ContentCheckWord(picture->second.contentCheck), "whole");
        }
    }
}

TEST_F(StructureSizesTest, BrokenStructureFallsBackToTheWalk) {
    if (StructuredDir().empty()) GTEST_SKIP() << "the structured files could not be made";
    // A JPEG whose quantisation segment claims a wrong length, and a ZIP
    // without its end record: headers intact, structure broken. The JPEG's
    // end marker is still found by searching for it; the ZIP is walked
    // through the zero gap to the next file.
    std::vector<Placed> placed;
    Bytes jpeg = testkit::ReadFile(StructuredDir() / "photo.jpg");
    Bytes zip = testkit::ReadFile(StructuredDir() / "commented.zip");
    if (jpeg.empty() || zip.empty()) GTEST_SKIP() << "a tool is missing";
    for (size_t i = 2; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) {
            jpeg[i + 2] ^= 0x40;
            break;
        }
    }
    zip.resize(zip.size() - 22 - 24);  // the end record and its comment
    placed.push_back({"broken.jpg", jpeg, 0});
    placed.push_back({"endless.zip", zip, 0});
    placed.push_back({"next.jpg", testkit::ReadFile(StructuredDir() / "progressive.jpg"), 0});
    auto byLocation = CarveLaidOut(placed, false, "broken.img");
    auto broken = byLocation.find(placed[0].sector);
    ASSERT_NE(broken, byLocation.end());
    EXPECT_EQ(+broken->second.size, jpeg.size());
    EXPECT_STREQ(ContentCheckWord(broken->second.contentCheck), "damaged");
    auto endless = byLocation.find(placed[1].sector);
    ASSERT_NE(endless, byLocation.end());
    EXPECT_EQ(+endless->second.size, (placed[2].sector - placed[1].sector) * 512);
    EXPECT_STREQ(ContentCheckWord(endless->second.contentCheck), "damaged");
    auto next = byLocation.find(placed[2].sector);
    ASSERT_NE(next, byLocation.end());
    EXPECT_EQ(+next->second.size, placed[2].bytes.size());
    EXPECT_STREQ(ContentCheckWord(next->second.contentCheck), "whole");
}

// ---- types no tool here writes ------------------------------------------------

class HandMadeStructureTest : public ::testing::Test {
  protected:
    void SetUp() override { image_ = std::make_unique<TestImage>(dir_.Path() / "disk.img", 2048); }
    // Puts `bytes` at sector 100 with random bytes after them, and identifies
    // what starts there.
    CarvedFile Identify(const Bytes& bytes) {
        std::mt19937 random(7);
        Bytes disk = bytes;
        Append(disk, RandomBytes(4096, random));
        image_->Put(100, disk);
        DiskReader reader;
        image_->Open(reader);
        Bytes first = image_->Sector(100);
        CarveJob job;
        CarvedFile found;
        IdentifyFileAt(job, RequestAt(&reader, first, 100, 2048), found);
        reader.Close();
        return found;
    }
    testkit::TempDir dir_;
    std::unique_ptr<TestImage> image_;
};

Bytes Rar5Block(uint8_t type, uint8_t flags, const Bytes& fields, const Bytes& data) {
    // header size, type, flags, the fields; then the CRC-32 of all of it before them.
    Bytes header = {type, flags};
    Append(header, fields);
    Bytes sized = {static_cast<uint8_t>(header.size())};
    Append(sized, header);
    Bytes block(4, 0);
    PutU32(block.data(), Crc32(0, sized.data(), sized.size()));
    Append(block, sized);
    Append(block, data);
    return block;
}

TEST_F(HandMadeStructureTest, Rar5EndsAtItsEndOfArchiveBlock) {
    Bytes rar = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    Append(rar, Rar5Block(1, 0, {0x00}, {}));  // main archive header
    Append(rar,
           Rar5Block(2, 0x02, {0xE8, 0x07}, Bytes(1000, 0x5A)));  // a file header with 1000 bytes of data
    Append(rar, Rar5Block(5, 0, {0x00}, {}));                     // end of archive
    CarvedFile found = Identify(rar);
    EXPECT_EQ(found.type, kTypeRar);
    EXPECT_EQ(found.size, rar.size());

    Bytes damaged = rar;
    damaged[12] ^= 1;  // the main header's CRC no longer matches
    found = Identify(damaged);
    EXPECT_EQ(found.verdict, ContentVerdict::kDamaged);
    EXPECT_GT(found.size, rar.size());  // walked on into the random bytes
}

TEST_F(HandMadeStructureTest, HeaderSizesOfPstSmafAndBmpV4AreTrustedOnlyWithinTheDisk) {
    Bytes pst(0x4400 + 512, 0x21);
    std::memcpy(pst.data(), "!BDN", 4);
    std::memcpy(pst.data() + 8, "SM", 2);
    PutU16(pst.data() + 10, 23);  // a Unicode store
    PutU64(pst.data() + 0xB8, 0x4400);
    CarvedFile found = Identify(pst);
    EXPECT_EQ(found.type, kTypePst);
    EXPECT_EQ(found.size, 0x4400u);
    PutU64(pst.data() + 0xB8, uint64_t{1} << 40);  // past the end of the disk
    found = Identify(pst);
    EXPECT_EQ(found.verdict, ContentVerdict::kDamaged);
    EXPECT_LT(found.size, uint64_t{2048} * 512);

    // A store of three allocation-map regions: the pages where they must be,
    // then cut short after the second one.
    constexpr uint64_t kInterval = 253952;
    Bytes store(0x4400 + 2 * kInterval + 512);
    std::mt19937 random(5);
    for (auto& byte : store) byte = static_cast<uint8_t>(random());
    std::memcpy(store.data(), "!BDN", 4);
    std::memcpy(store.data() + 8, "SM", 2);
    PutU16(store.data() + 10, 23);
    PutU64(store.data() + 0xB8, store.size());
    PutU64(store.data() + 0xC0, 0x4400 + 2 * kInterval);
    for (uint64_t page = 0x4400; page < store.size(); page += kInterval) {
        store[page + 496] = 0x84;
        store[page + 497] = 0x84;
        PutU16(store.data() + page + 498, 0);
    }
    // Cut first: the image keeps what was put in it before.
    Bytes cutStore(store.begin(), store.begin() + static_cast<std::ptrdiff_t>(store.size() * 6 / 10));
    found = Identify(cutStore);  // random bytes, then zeros, where the last map page was
    EXPECT_EQ(found.verdict, ContentVerdict::kDamaged);
    EXPECT_GE(found.size, cutStore.size() / 512 * 512);  // walked: what is left is kept
    found = Identify(store);
    EXPECT_EQ(found.size, store.size());
    EXPECT_NE(found.verdict, ContentVerdict::kDamaged);
    store[0x4400 + kInterval + 497] = 0x80;  // a map page whose trailer names another page type
    found = Identify(store);
    EXPECT_EQ(found.verdict, ContentVerdict::kDamaged);

    Bytes mmf = Text("MMMD");
    mmf.resize(3000, 0x31);
    PutU32Be(mmf, 4, 3000 - 8);
    found = Identify(mmf);
    EXPECT_EQ(found.type, kTypeMmf);
    EXPECT_EQ(found.size, 3000u);

    // A version 4 header (108 bytes) of a 2 x 2 picture of 32-bit pixels.
    Bytes bmp(14 + 108 + 16, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    PutU32(bmp.data() + 2, static_cast<uint32_t>(bmp.size()));
    PutU32(bmp.data() + 10, 14 + 108);
    PutU32(bmp.data() + 14, 108);
    PutU32(bmp.data() + 18, 2);
    PutU32(bmp.data() + 22, 2);
    PutU16(bmp.data() + 26, 1);
    PutU16(bmp.data() + 28, 32);
    PutU32(bmp.data() + 30, 3);
    found = Identify(bmp);
    EXPECT_EQ(found.type, kTypeBmp);
    EXPECT_EQ(found.size, bmp.size());
    PutU32(bmp.data() + 22, 200);  // pixels that do not fit in the size the header gives
    found = Identify(bmp);
    EXPECT_NE(found.size, bmp.size());
}

TEST_F(HandMadeStructureTest, FontsAreRecognisedWhateverTableComesFirst) {
    // Three tables in tag order, the first not "head"; the file ends on the
    // last table's four-byte padding.
    Bytes font(12 + 3 * 16, 0);
    PutU32Be(font, 0, 0x00010000);
    font[5] = 3;
    font[7] = 32;   // search range: 16 x 2
    font[9] = 1;    // entry selector
    font[11] = 16;  // range shift: 3 x 16 - 32
    const char* tags[3] = {"OS/2", "cmap", "head"};
    uint32_t offset = static_cast<uint32_t>(font.size());
    for (int t = 0; t < 3; ++t) {
        std::memcpy(font.data() + 12 + 16 * t, tags[t], 4);
        PutU32Be(font, 12 + 16 * t + 8, offset);
        uint32_t length = 50 + 3 * t;
        PutU32Be(font, 12 + 16 * t + 12, length);
        offset += (length + 3) / 4 * 4;
    }
    font.resize(offset, 0x42);
    CarvedFile found = Identify(font);
    EXPECT_EQ(found.type, kTypeTtf);
    EXPECT_EQ(found.size, font.size());
    font[12 + 16] = 'A';  // "Amap" sorts before "OS/2": not a table directory
    found = Identify(font);
    EXPECT_NE(found.type, kTypeTtf);
}

}  // namespace
}  // namespace sorvane
