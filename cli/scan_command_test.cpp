// The scan and recover commands run as a user runs them: the built program on
// volumes made by mkfs.fat and mtools, on public images, and on names that
// try to lead a recovered file out of its destination.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/scan_options.h"
#include "tests/testkit/fragmented_card.h"
#include "tests/testkit/fragmented_exfat_card.h"
#include "tests/testkit/test_images.h"
#include "tests/testkit/testkit.h"

namespace sorvane::cli {
namespace {

using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

const std::string kProgram = SORVANE_CLI;

struct Result {
    int status = -1;
    std::string out;  // stdout
    std::string all;  // stdout and stderr
};

class CliTest : public ::testing::Test {
  protected:
    // `environment`: more VAR=VALUE words for the program (a read-fault plan).
    Result Run(const std::string& arguments, const std::string& environment = "") {
        std::string env = "SORVANE_DATA_DIR=" + ShellQuote(data_.Path().string()) + " " + environment + " ";
        Result r;
        std::filesystem::path err = data_ / "stderr.txt";
        r.status = RunCommand(env + ShellQuote(kProgram) + " " + arguments + " 2>" + ShellQuote(err.string()),
                              &r.out);
        std::vector<uint8_t> bytes = testkit::ReadFile(err);
        r.all = r.out + std::string(bytes.begin(), bytes.end());
        return r;
    }
    std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            if (end > pos) lines.push_back(text.substr(pos, end - pos));
            pos = end + 1;
        }
        return lines;
    }
    TempDir data_;
};

// Every regular file below `dir`, as paths relative to it.
std::set<std::string> FilesBelow(const std::filesystem::path& dir) {
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file()) files.insert(e.path().lexically_relative(dir).string());
    return files;
}

TEST(JsonText, AnyBytesGiveValidJson) {
    EXPECT_EQ(JsonString("plain.jpg"), "\"plain.jpg\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("x\0y\n\x01", 5)), "\"x\\u0000y\\n\\u0001\"");
    EXPECT_EQ(JsonString("Ünï"), "\"Ünï\"");
    EXPECT_EQ(JsonString("\xff\xfe"), "\"\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xc3"), "\"\\ufffd\"") << "a cut sequence";
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"") << "a surrogate";
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"") << "an overlong slash";
    EXPECT_EQ(PrintableName("a\nb\x7f\xff"), "a\\x0ab\\x7f\\xff");
}

TEST_F(CliTest, UsageErrorsAndUnreadableTargetsHaveTheirExitStatus) {
    TempDir dir;
    EXPECT_EQ(Run("scan").status, 2);
    EXPECT_EQ(Run("scan --quick --bogus x").status, 2);
    EXPECT_EQ(Run("scan --quick --types pictures x").status, 2);
    EXPECT_EQ(Run("scan --quick --min-size 10 --max-size 5 x").status, 2);
    EXPECT_EQ(Run("scan --quick --since yesterday x").status, 2);
    EXPECT_EQ(Run("scan --carved-names dates x").status, 2);
    EXPECT_EQ(Run("scan --carved-names").status, 2);
    EXPECT_EQ(Run("recover --quick x").status, 2) << "--to is required";
    EXPECT_EQ(Run("scan --quick --help").status, 0);
    Result missing = Run("scan --quick " + ShellQuote((dir / "nothing.img").string()));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.all.find("does not exist"), std::string::npos) << missing.all;
    testkit::WriteFile(dir / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
    Result zeros = Run("scan --quick " + ShellQuote((dir / "zeros.img").string()));
    EXPECT_EQ(zeros.status, 1);
    EXPECT_NE(zeros.all.find("no file system"), std::string::npos) << zeros.all;
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat12);
    Result deep = Run("scan --deep --resume --fresh " + ShellQuote(built.image.string()));
    EXPECT_EQ(deep.status, 2) << "--resume and --fresh exclude each other";
    EXPECT_EQ(Run("scan --quick --resume " + ShellQuote(built.image.string())).status, 2);
}

TEST_F(CliTest, MessagesSayWhatIsWrongAndNothingWaitsForever) {
    Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sorvane ", 0), 0u) << version.out;
    Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("exit status"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("  3 "), std::string::npos) << help.out;
    Result classifyHelp = Run("classify --help");
    EXPECT_EQ(classifyHelp.status, 0) << classifyHelp.all;
    EXPECT_NE(classifyHelp.out.find("usage: sorvane classify"), std::string::npos) << classifyHelp.all;
    EXPECT_EQ(Run("classify --bogus").status, 2);

    // A FIFO is refused at once, never opened and waited on.
    TempDir dir;
    const std::string fifo = (dir / "pipe").string();
    ASSERT_EQ(RunCommand("mkfifo " + ShellQuote(fifo)), 0);
    for (const char* command : {"classify ", "scan --quick ", "scan --deep ", "image "}) {
        std::string extra =
            std::string(command) == "image " ? " " + ShellQuote((dir / "o.img").string()) : "";
        std::string out;
        int status = RunCommand("SORVANE_DATA_DIR=" + ShellQuote(data_.Path().string()) + " timeout 10 " +
                                    ShellQuote(kProgram) + " " + command + ShellQuote(fifo) + extra + " 2>&1",
                                &out);
        EXPECT_EQ(status, 1) << command << out;
        EXPECT_NE(out.find("is not an image file"), std::string::npos) << command << out;
    }

    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat12);
    const std::string image = built.image.string();
    Result range = Run("scan --quick " + ShellQuote(image + "@abc"));
    EXPECT_EQ(range.status, 2) << range.all;
    EXPECT_NE(range.all.find("'abc' after '@' is not a range of sectors"), std::string::npos) << range.all;
    EXPECT_EQ(range.all.find("does not exist"), std::string::npos) << range.all;

    // Sizes as people write them.
    Result all = Run("scan --quick --json " + ShellQuote(image));
    ASSERT_EQ(all.status, 0);
    EXPECT_EQ(Run("scan --quick --min-size 200KB " + ShellQuote(image)).status, 0);
    EXPECT_EQ(Run("scan --quick --max-size '1.5 MiB' " + ShellQuote(image)).status, 0);
    EXPECT_EQ(Run("scan --quick --min-size 12XB " + ShellQuote(image)).status, 2);
    // One file is "1 file", not "1 files": the largest file alone passes a
    // lower bound of its own size.
    uint64_t largest = 0;
    size_t ofLargest = 0;
    for (const auto& line : Lines(all.out)) {
        size_t at = line.find("\"size\":");
        uint64_t size = std::stoull(line.substr(at + 7));
        if (size > largest) {
            largest = size;
            ofLargest = 0;
        }
        if (size == largest) ++ofLargest;
    }
    EXPECT_EQ(ofLargest, 1u) << "the test volume has one largest deleted file";
    if (ofLargest == 1) {
        Result one = Run("scan --quick --min-size " + std::to_string(largest) + " " + ShellQuote(image));
        EXPECT_EQ(one.status, 0);
        EXPECT_NE(one.all.find("\n1 file found\n"), std::string::npos) << one.all;
    }
}

TEST(ScanOptions, SizesTakeDecimalAndBinaryUnits) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"1234", true, 1234},
        {"200KB", true, 200000},
        {"200kb", true, 200000},
        {"200 KB", true, 200000},
        {"4KiB", true, 4096},
        {"1.5MB", true, 1500000},
        {"1.5 MiB", true, 1572864},
        {"2GB", true, 2000000000},
        {"2GiB", true, 2147483648ull},
        {"7B", true, 7},
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"20000000000 GB", false, 0},
        {"1.5", false, 0},
        {"", false, 0},
        {"KB", false, 0},
        {"-1", false, 0},
        {"12XB", false, 0},
        {"1 2", false, 0},
        {".5KB", true, 500},
    };
    for (const Case& c : cases) {
        uint64_t bytes = 99;
        EXPECT_EQ(ParseSize(c.text, bytes), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

TEST_F(CliTest, RecoverChecksItsDestinationFirstAndNeverLeavesCutShortFiles) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat32);
    const std::string image = ShellQuote(built.image.string());
    TempDir dir;
    testkit::WriteFile(dir / "afile", std::vector<uint8_t>{1});
    Result blocked =
        Run("recover --quick --to " + ShellQuote((dir / "afile" / "sub").string()) + " " + image);
    EXPECT_EQ(blocked.status, 4) << blocked.all;
    EXPECT_NE(blocked.all.find("cannot create the folder"), std::string::npos) << blocked.all;
    EXPECT_EQ(blocked.all.find("could not recover"), std::string::npos)
        << "said before any scan" << blocked.all;

    // A destination that fills up: a small memory file system made here.
    const std::filesystem::path small = dir / "small";
    std::filesystem::create_directories(small);
    if (RunCommand("mount -t tmpfs -o size=96k tmpfs " + ShellQuote(small.string()) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    Result full = Run("recover --quick --to " + ShellQuote(small.string()) + " " + image);
    std::set<std::string> truths;
    for (const auto& t : built.Deleted()) truths.insert(t.sha256);
    size_t kept = 0;
    for (const auto& f : FilesBelow(small)) {
        EXPECT_NE(f.substr(f.size() < 5 ? 0 : f.size() - 5), ".part") << "no partial file is left: " << f;
        EXPECT_TRUE(truths.count(testkit::FileSha256(small / f))) << "a recovered file is whole: " << f;
        ++kept;
    }
    RunCommand("umount " + ShellQuote(small.string()));
    EXPECT_EQ(full.status, 4) << full.all;
    EXPECT_NE(full.all.find("is full"), std::string::npos) << full.all;
    EXPECT_NE(full.out.find("recovered " + std::to_string(kept) + ","), std::string::npos) << full.out;
}

// Deleted entries whose fields no volume could hold are marked, never "agrees".
TEST_F(CliTest, ImpossibleEntriesAreMarked) {
    TempDir dir;
    const std::string img = (dir / "small.img").string();
    const std::string q = ShellQuote(img);
    ASSERT_EQ(RunCommand("truncate -s 16M " + q + " && mkfs.fat -F 16 " + q + " >/dev/null"), 0);
    for (const char* name : {"big.txt", "zero.txt", "past.txt", "fine.txt"}) {
        testkit::WriteFile(dir / name, std::vector<uint8_t>(3000, 'x'));
        ASSERT_EQ(RunCommand("mcopy -i " + q + " " + ShellQuote((dir / name).string()) + " ::" + name), 0);
    }
    ASSERT_EQ(RunCommand("mdel -i " + q + " ::big.txt ::zero.txt ::past.txt ::fine.txt"), 0);
    // In the root folder: big.txt claims 4 GiB - 1, zero.txt starts at cluster 1,
    // past.txt at a cluster past the volume's end.
    ASSERT_EQ(RunCommand("python3 -c " +
                         ShellQuote("import struct,sys\n"
                                    "f=open(sys.argv[1],'r+b'); b=bytearray(f.read())\n"
                                    "res,nf,fs=struct.unpack_from('<H',b,14)[0],b[16],"
                                    "struct.unpack_from('<H',b,22)[0]\n"
                                    "root=(res+nf*fs)*512\n"
                                    "for i in range(16):\n"
                                    "  e=root+32*i; n=bytes(b[e+1:e+8])\n"
                                    "  if n==b'IG     ': struct.pack_into('<I',b,e+28,0xFFFFFFFF)\n"
                                    "  if n==b'ERO    ': struct.pack_into('<H',b,e+26,1)\n"
                                    "  if n==b'AST    ': struct.pack_into('<H',b,e+26,0xFFF0)\n"
                                    "f.seek(0); f.write(b)\n") +
                         " " + q),
              0);
    Result text = Run("scan --quick " + q);
    ASSERT_EQ(text.status, 0) << text.all;
    std::map<std::string, bool> impossible;
    for (const auto& line : Lines(text.out))
        impossible[line.substr(line.rfind(' ') + 2)] = line.find(" impossible ") != std::string::npos;
    EXPECT_TRUE(impossible["ig.txt"]) << text.out;
    EXPECT_TRUE(impossible["ero.txt"]) << text.out;
    EXPECT_TRUE(impossible["ast.txt"]) << text.out;
    ASSERT_TRUE(impossible.count("ine.txt")) << text.out;
    EXPECT_FALSE(impossible["ine.txt"]) << text.out;
    Result json = Run("scan --quick --json " + q);
    size_t marked = 0;
    for (const auto& line : Lines(json.out))
        if (line.find("\"impossible\":true,") != std::string::npos ||
            line.find("\"content\":\"impossible\"") != std::string::npos)
            ++marked;
    EXPECT_EQ(marked, 3u) << json.out;
}

TEST_F(CliTest, ScanListsEveryDeletedFileAndJsonCarriesEveryField) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat16);
    std::string before = testkit::FileSha256(built.image);
    Result text = Run("scan --quick " + ShellQuote(built.image.string()));
    ASSERT_EQ(text.status, 0) << text.all;
    size_t deleted = built.Deleted().size();
    EXPECT_EQ(Lines(text.out).size(), deleted);
    size_t agreeing = 0;
    for (const auto& line : Lines(text.out))
        if (line.find("damaged") == std::string::npos) ++agreeing;
    EXPECT_GE(agreeing, deleted / 2);

    Result json = Run("scan --quick --json " + ShellQuote(built.image.string()));
    ASSERT_EQ(json.status, 0);
    ASSERT_EQ(Lines(json.out).size(), deleted);
    TempDir dir;
    testkit::WriteFile(dir / "out.json", std::vector<uint8_t>(json.out.begin(), json.out.end()));
    std::string checked;
    ASSERT_EQ(
        RunCommand("python3 -c " +
                       ShellQuote("import json,re,sys\n"
                                  "keys={'letter','engineCode','isFolder','engineSpecific','contentCheck',"
                                  "'recordNumber','key','clusterBytes','created','accessed','written','size',"
                                  "'dataStart','location','partitionStart','name','folderPath','category',"
                                  "'content','impossible','nameGuessed','pieces','rebuilt'}\n"
                                  "n=0\n"
                                  "for line in open(sys.argv[1], encoding='utf-8'):\n"
                                  "    o=json.loads(line); assert keys <= set(o), o; n+=1\n"
                                  "    for k in ('created','accessed','written'):\n"
                                  "        assert o[k] is None or re.fullmatch("
                                  "r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d', o[k]), o\n"
                                  "print(n)\n") +
                       " " + ShellQuote((dir / "out.json").string()),
                   &checked),
        0);
    EXPECT_EQ(std::stoul(checked), deleted);
    // Filters narrow the list.
    Result photos = Run("scan --quick --json --types photo " + ShellQuote(built.image.string()));
    ASSERT_FALSE(Lines(photos.out).empty());
    for (const auto& line : Lines(photos.out))
        EXPECT_NE(line.find("\"category\":\"photo\""), std::string::npos) << line;
    Result progress = Run("scan --quick --progress " + ShellQuote(built.image.string()));
    EXPECT_NE(progress.all.find("100%"), std::string::npos) << progress.all;
    EXPECT_NE(progress.all.find(" files found  time left: 0 Sec"), std::string::npos) << progress.all;
    Result future = Run("scan --quick --since 2100-01-01 " + ShellQuote(built.image.string()));
    EXPECT_EQ(future.status, 0);
    EXPECT_TRUE(Lines(future.out).empty());
    Result big = Run("scan --quick --min-size 1000000 " + ShellQuote(built.image.string()));
    for (const auto& line : Lines(big.out)) EXPECT_GE(std::stoull(line), 1000000u) << line;
    Result txt = Run("scan --quick --ext TXT " + ShellQuote(built.image.string()));
    ASSERT_FALSE(Lines(txt.out).empty());
    for (const auto& line : Lines(txt.out)) EXPECT_EQ(line.substr(line.size() - 4), ".txt") << line;
    EXPECT_EQ(testkit::FileSha256(built.image), before);
}

TEST_F(CliTest, RecoverPutsEveryFileInItsCategoryFolderByteExact) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat32);
    TempDir out;
    std::string before = testkit::FileSha256(built.image);
    Result r = Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " +
                   ShellQuote(built.image.string()));
    ASSERT_EQ(r.status, 0) << r.all;
    EXPECT_NE(r.out.find("failed 0"), std::string::npos) << r.out;
    std::set<std::string> shas;
    std::set<std::string> folders;
    for (const auto& f : FilesBelow(out.Path())) {
        shas.insert(testkit::FileSha256(out / f));
        folders.insert(f.substr(0, f.find('/')));
    }
    for (const auto& truth : built.Deleted()) {
        if (!truth.Has("overwritten")) {
            EXPECT_TRUE(shas.count(truth.sha256)) << truth.path;
        }
    }
    for (const auto& folder : folders)
        EXPECT_TRUE(folder == "photo" || folder == "audio" || folder == "video" || folder == "document" ||
                    folder == "archive" || folder == "others")
            << folder;
    // A second recovery into the same folder never overwrites: names get "(1)".
    Result again = Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " +
                       ShellQuote(built.image.string()));
    ASSERT_EQ(again.status, 0);
    size_t numbered = 0;
    for (const auto& f : FilesBelow(out.Path()))
        if (f.find("(1)") != std::string::npos) ++numbered;
    EXPECT_EQ(numbered, shas.size() > 0 ? FilesBelow(out.Path()).size() / 2 : 0);
    // With --keep-folders each file keeps its folder path below its category.
    TempDir kept;
    ASSERT_EQ(Run("recover --quick --keep-folders --to " + ShellQuote(kept.Path().string()) + " " +
                  ShellQuote(built.image.string()))
                  .status,
              0);
    bool sawNested = false;
    for (const auto& f : FilesBelow(kept.Path()))
        if (f.find("/Old Projects/") != std::string::npos) sawNested = true;
    EXPECT_TRUE(sawNested);
    EXPECT_EQ(testkit::FileSha256(built.image), before);
}

TEST_F(CliTest, AFilePutBackTogetherSaysFromHowManyPieces) {
    for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mshowfat", "convert"})
        if (!testkit::HaveProgram(tool)) GTEST_SKIP() << tool << " missing";
    TempDir dir, out;
    ASSERT_EQ(RunCommand("convert -size 80x80 plasma:fractal -seed 21 " +
                         ShellQuote((dir / "p.png").string()) + " 2>/dev/null"),
              0);
    const uint64_t clusters = (testkit::ReadFile(dir / "p.png").size() + testkit::kCardClusterBytes - 1) /
                              testkit::kCardClusterBytes;
    testkit::FragmentedCard card;
    ASSERT_TRUE(
        testkit::MakeFragmentedCard(dir, dir / "p.png", static_cast<uint32_t>(clusters / 2 + 1), card));
    ASSERT_EQ(card.pieces.size(), 2u);
    const std::string image = ShellQuote(card.image.string());
    const std::string before = testkit::FileSha256(card.image);

    Result text = Run("scan --quick " + image);
    ASSERT_EQ(text.status, 0) << text.all;
    bool listed = false;
    for (const auto& line : Lines(text.out))
        if (line.find(card.name) != std::string::npos) {
            listed = true;
            EXPECT_NE(line.find("whole, rebuilt from 2 pieces"), std::string::npos) << line;
        }
    EXPECT_TRUE(listed) << text.out;
    Result json = Run("scan --quick --json " + image);
    ASSERT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"content\":\"whole\",\"impossible\":false,\"nameGuessed\":false,\"pieces\":2,"
                            "\"rebuilt\":\"rebuilt from 2 pieces\"}"),
              std::string::npos)
        << json.out;
    // The copy reads the pieces the scan found.
    ASSERT_EQ(Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " + image).status, 0);
    EXPECT_EQ(testkit::FileSha256(out / "photo" / card.name), testkit::FileSha256(dir / "p.png"));
    EXPECT_EQ(testkit::FileSha256(card.image), before);
}

TEST_F(CliTest, AnExfatFilePutBackTogetherSaysSoToo) {
    if (!testkit::HaveProgram("convert")) GTEST_SKIP() << "convert missing";
    TempDir dir, out;
    ASSERT_EQ(RunCommand("convert -size 160x160 plasma:fractal -seed 21 " +
                         ShellQuote((dir / "p.png").string()) + " 2>/dev/null"),
              0);
    const uint64_t clusters =
        (testkit::ReadFile(dir / "p.png").size() + testkit::kExfatCardClusterBytes - 1) /
        testkit::kExfatCardClusterBytes;
    testkit::FragmentedExfatCard card;
    if (!testkit::MakeFragmentedExfatCard(dir, dir / "p.png", static_cast<uint32_t>(clusters / 2 + 1), {},
                                          card)) {
        if (!card.skipReason.empty()) GTEST_SKIP() << card.skipReason;
        FAIL() << card.output;
    }
    ASSERT_EQ(card.pieces.size(), 2u);
    const std::string image = ShellQuote(card.image.string());
    Result json = Run("scan --quick --json " + image);
    ASSERT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"content\":\"whole\",\"impossible\":false,\"nameGuessed\":false,\"pieces\":2,"
                            "\"rebuilt\":\"rebuilt from 2 pieces\"}"),
              std::string::npos)
        << json.out;
    ASSERT_EQ(Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " + image).status, 0);
    EXPECT_EQ(testkit::FileSha256(out / "photo" / card.name), testkit::FileSha256(dir / "p.png"));
}

TEST_F(CliTest, PartitionsOfAWholeDiskImageAreReadOneAfterAnother) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kMbr);
    TempDir out;
    for (const auto& v : built.volumes) {
        std::string target =
            built.image.string() + "@" + std::to_string(v.startSector) + ":" + std::to_string(v.sectorCount);
        Result r = Run("recover --quick --to " + ShellQuote((out / v.fileSystem).string()) + " " +
                       ShellQuote(target));
        ASSERT_EQ(r.status, 0) << v.fileSystem << ": " << r.all;
        std::set<std::string> shas;
        for (const auto& f : FilesBelow(out / v.fileSystem))
            shas.insert(testkit::FileSha256(out / v.fileSystem / f));
        size_t expected = 0, found = 0;
        for (const auto& truth : built.Deleted(v.index)) {
            if (truth.Has("overwritten")) continue;
            ++expected;
            if (shas.count(truth.sha256)) ++found;
        }
        std::printf("[ mbr %s at %llu ] %zu of %zu deleted files recovered byte-exact\n",
                    v.fileSystem.c_str(), static_cast<unsigned long long>(v.startSector), found, expected);
        EXPECT_EQ(found, expected) << v.fileSystem;
    }
    // Named without @START, the whole-disk image is read partition by partition:
    // every deleted file of both comes back, and the live ones are not listed as found.
    TempDir whole;
    Result all = Run("recover --quick --to " + ShellQuote(whole.Path().string()) + " " +
                     ShellQuote(built.image.string()));
    ASSERT_EQ(all.status, 0) << all.all;
    std::set<std::string> shas;
    for (const auto& f : FilesBelow(whole.Path())) shas.insert(testkit::FileSha256(whole / f));
    size_t expected = 0, found = 0;
    for (const auto& v : built.volumes) {
        for (const auto& truth : built.Deleted(v.index)) {
            if (truth.Has("overwritten")) continue;
            ++expected;
            if (shas.count(truth.sha256)) ++found;
        }
        for (const auto& truth : built.Live(v.index)) {
            if (truth.size > 0 && !truth.Has("padding")) {
                EXPECT_FALSE(shas.count(truth.sha256)) << truth.path;
            }
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_GT(expected, 10u);
}

// Overwrites, in a real image, the UTF-16 long-name characters `marker` with `replacement`.
void PatchLongName(std::vector<uint8_t>& bytes, const std::u16string& marker,
                   const std::u16string& replacement) {
    std::vector<uint8_t> pattern;
    for (char16_t c : marker)
        pattern.push_back(static_cast<uint8_t>(c)), pattern.push_back(static_cast<uint8_t>(c >> 8));
    auto it = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    ASSERT_NE(it, bytes.end());
    for (size_t i = 0; i < replacement.size(); ++i) {
        it[static_cast<long>(2 * i)] = static_cast<uint8_t>(replacement[i]);
        it[static_cast<long>(2 * i + 1)] = static_cast<uint8_t>(replacement[i] >> 8);
    }
}

TEST_F(CliTest, HostileNamesFromTheDiskLandInsideTheDestination) {
    if (!testkit::HaveProgram("mcopy")) GTEST_SKIP() << "mtools missing";
    TempDir dir;
    std::string image = (dir / "hostile.img").string();
    std::string q = ShellQuote(image);
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 16 -C " + q +
                         " 16384 >/dev/null; cd " + ShellQuote(dir.Path().string()) +
                         "; echo one > a; echo two > b; echo three > c; echo four > d; echo same > e;"
                         " mcopy -i " +
                         q + " a ::/Qzq1.txt; mcopy -i " + q +
                         " b ::/Qzq2.txt;"
                         " mcopy -i " +
                         q + " c ::/Qzq3; mmd -i " + q + " ::/Qzq4dir; mcopy -i " + q +
                         " d ::/Qzq4dir/inner.txt; mmd -i " + q + " ::/Other; mcopy -i " + q +
                         " e ::/Other/Same.txt; mcopy -i " + q +
                         " e ::/Same.txt;"
                         " mdel -i " +
                         q +
                         " ::/Qzq1.txt ::/Qzq2.txt ::/Qzq3 ::/Same.txt ::/Other/Same.txt;"
                         " mdeltree -i " +
                         q + " ::/Qzq4dir";
    ASSERT_EQ(RunCommand("bash -c " + ShellQuote(script)), 0);
    std::vector<uint8_t> bytes = testkit::ReadFile(image);
    PatchLongName(bytes, u"Qzq1", u"../x");
    PatchLongName(bytes, u"Qzq2", u"\na\x01/");
    PatchLongName(bytes, u"Qzq3", std::u16string(u"..\0", 3));
    PatchLongName(bytes, u"Qzq4", u"../.");
    testkit::WriteFile(image, bytes);
    std::string before = testkit::FileSha256(image);

    Result listing = Run("scan --quick --json " + q);
    ASSERT_EQ(listing.status, 0) << listing.all;
    EXPECT_EQ(Lines(listing.out).size(), 6u) << listing.out;

    std::filesystem::path out = dir / "out" / "dest";
    std::filesystem::create_directories(out);
    for (const char* mode : {"", "--keep-folders "}) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        Result r = Run(std::string("recover --quick ") + mode + "--to " + ShellQuote(out.string()) + " " + q);
        ASSERT_EQ(r.status, 0) << r.all;
        std::set<std::string> files = FilesBelow(out);
        EXPECT_EQ(files.size(), 6u) << mode;
        for (const auto& f : files) {
            for (const auto& part : std::filesystem::path(f)) EXPECT_NE(part, "..") << f;
            EXPECT_EQ(std::filesystem::weakly_canonical(out / f).string().rfind(out.string(), 0), 0u) << f;
        }
        // Nothing was written next to the destination.
        std::set<std::string> around;
        for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
            around.insert(e.path().filename());
        EXPECT_EQ(around, std::set<std::string>{"dest"});
        if (std::string(mode).empty()) {
            // Two deleted files named Same.txt: the second gets "(1)".
            EXPECT_TRUE(files.count("document/Same.txt"));
            EXPECT_TRUE(files.count("document/Same(1).txt"));
            EXPECT_TRUE(files.count("document/.._x.txt"));
            EXPECT_TRUE(files.count("others/_"));
        } else {
            std::string all;
            for (const auto& f : files) all += f + "\n";
            // The folder "../.dir" comes back as folders "_" and ".dir"; the
            // 8.3-only name inner.txt lost its first letter.
            EXPECT_TRUE(files.count("document/_/.dir/!nner.txt")) << all;
            EXPECT_TRUE(files.count("document/Other/Same.txt")) << all;
        }
    }
    EXPECT_EQ(testkit::FileSha256(image), before);
}

TEST_F(CliTest, PublicImagesGiveBackThePublishedFiles) {
    std::filesystem::path real = testkit::RealImagesDir();
    if (real.empty()) GTEST_SKIP() << "public images not available";
    struct Case {
        const char* image;
        std::vector<std::pair<std::string, std::string>> md5s;  // expected file name suffix, md5
    };
    const Case cases[] = {
        {"6-fat-undel.dd",
         {{"ing.dat", "59b20779f69ff9f0ac5fcd2c38835a79"},
          {"ult1.dat", "ffd27bd782bdce67750b6b9ee069d2ef"},
          {"mult2.dat", "59cf0e9cd107bc1e75afb7374f6e05bb"}}},
        {"8-jpeg-search.dd",
         {{"file6.jpg", "afd55222024a4e22f7f5a3a665320763"},
          {"file7.hmm", "0c452c5800fcfa7c66027ae89c4f068a"}}},
    };
    for (const auto& c : cases) {
        TempDir out;
        std::filesystem::path image = real / c.image;
        std::string before = testkit::FileSha256(image);
        Result r =
            Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " + ShellQuote(image.string()));
        ASSERT_EQ(r.status, 0) << c.image << ": " << r.all;
        std::set<std::string> files = FilesBelow(out.Path());
        for (const auto& [suffix, md5] : c.md5s) {
            bool found = false;
            for (const auto& f : files) {
                if (f.size() < suffix.size() ||
                    f.compare(f.size() - suffix.size(), suffix.size(), suffix) != 0)
                    continue;
                std::string sum;
                RunCommand("md5sum " + ShellQuote((out / f).string()), &sum);
                if (sum.rfind(md5, 0) == 0) found = true;
            }
            EXPECT_TRUE(found) << c.image << ": " << suffix;
        }
        EXPECT_EQ(testkit::FileSha256(image), before);
    }
}

TEST_F(CliTest, ExfatVolumesAreClassifiedScannedAndTheirDamageIsSaid) {
    std::filesystem::path real = testkit::RealImagesDir();
    if (real.empty() || !std::filesystem::exists(real / "exfat_win.raw"))
        GTEST_SKIP() << "public images not available";
    const std::filesystem::path image = real / "exfat_win.raw";
    const std::string before = testkit::FileSha256(image);
    Result c = Run("classify " + ShellQuote(image.string()));
    ASSERT_EQ(c.status, 0) << c.all;
    EXPECT_NE(c.out.find("file system: exFAT"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("label:       test123"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("cluster:     512 bytes"), std::string::npos) << c.out;

    // The quick scan lists the deleted files; those whose clusters were taken
    // again say so instead of claiming their content.
    Result q = Run("scan --quick " + ShellQuote(image.string()));
    ASSERT_EQ(q.status, 0) << q.all;
    std::set<std::string> damaged, other;
    for (const auto& line : Lines(q.out)) {
        const std::string name = line.substr(line.rfind("  ") + 2);
        (line.find(" damaged ") != std::string::npos ? damaged : other).insert(name);
    }
    EXPECT_EQ(damaged, (std::set<std::string>{"1.bin", "333.bin", "555.bin"})) << q.out;
    EXPECT_EQ(other, (std::set<std::string>{"Текстовый документ.txt"})) << q.out;
    EXPECT_EQ(testkit::FileSha256(image), before);

    // Both boot regions broken: no quick scan, and plain words why.
    TempDir dir;
    std::vector<uint8_t> bytes = testkit::ReadFile(image);
    bytes[108] = 30;
    bytes[12 * 512 + 108] = 30;
    const std::filesystem::path broken = dir / "broken.img";
    testkit::WriteFile(broken, bytes);
    Result b = Run("scan --quick " + ShellQuote(broken.string()));
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(
        b.all.find("this volume is exFAT with a damaged boot region; the deep scan will search its contents"),
        std::string::npos)
        << b.all;
    Result bc = Run("classify " + ShellQuote(broken.string()));
    EXPECT_NE(bc.out.find("damaged boot region"), std::string::npos) << bc.out;
}

// Sectors the file system itself keeps no file in, but where a single bad
// one used to stop every command: the boot area of a card.
TEST_F(CliTest, AnUnreadableSectorInTheBootAreaStopsNoCommand) {
    for (auto kind : {testkit::ImageKind::kFat32, testkit::ImageKind::kNtfs}) {
        SORVANE_SHARED_IMAGE_OR_SKIP(built, kind);
        const std::string image = ShellQuote(built.image.string());
        const std::string before = testkit::FileSha256(built.image);
        const size_t listed = Lines(Run("scan --quick " + image).out).size();
        ASSERT_EQ(listed, built.Deleted().size());
        const size_t deepListed = Lines(Run("scan --deep --fresh " + image).out).size();
        for (int bad : {1, 6, 10, 20, 31}) {
            SCOPED_TRACE(testkit::ImageKindName(kind) + std::string(" sector ") + std::to_string(bad));
            const std::string plan = "SORVANE_FAULT_PLAN=" +
                                     ShellQuote(built.image.string() + ":" + std::to_string(bad) + ":error");
            const std::string unreadable = "1 sector unreadable: " + std::to_string(bad);
            Result c = Run("classify " + image, plan);
            EXPECT_EQ(c.status, 3) << c.all;
            EXPECT_NE(
                c.out.find(kind == testkit::ImageKind::kNtfs ? "file system: NTFS" : "file system: FAT"),
                std::string::npos)
                << c.out;
            EXPECT_NE(c.out.find(unreadable), std::string::npos) << c.out;
            Result q = Run("scan --quick " + image, plan);
            EXPECT_EQ(q.status, 3) << q.all;
            EXPECT_EQ(Lines(q.out).size(), listed) << q.all;
            EXPECT_NE(q.all.find(unreadable), std::string::npos) << q.all;
            // The deep scan reads every sector anyway; the bad one is zeros to it.
            if (bad != 1 && bad != 31) continue;
            Result d = Run("scan --deep --fresh " + image, plan);
            EXPECT_EQ(d.status, 3) << d.all;
            EXPECT_EQ(Lines(d.out).size(), deepListed) << d.all;
        }
        EXPECT_EQ(testkit::FileSha256(built.image), before);
    }
}

// Every deleted file whose clusters no later file took comes back byte-exact.
void ExpectDeletedFilesRecovered(const testkit::BuiltImage& built, const std::filesystem::path& out) {
    std::set<std::string> shas;
    for (const auto& f : FilesBelow(out)) shas.insert(testkit::FileSha256(out / f));
    for (const auto& truth : built.Deleted()) {
        if (truth.Has("overwritten")) continue;
        EXPECT_TRUE(shas.count(truth.sha256)) << truth.path;
    }
}

TEST_F(CliTest, AZeroedBootSectorIsReplacedByItsBackupCopy) {
    for (auto kind : {testkit::ImageKind::kFat32, testkit::ImageKind::kNtfs}) {
        SORVANE_SHARED_IMAGE_OR_SKIP(built, kind);
        SCOPED_TRACE(testkit::ImageKindName(kind));
        TempDir dir;
        const std::filesystem::path copy = dir / "damaged.img";
        std::filesystem::copy_file(built.image, copy);
        ASSERT_EQ(RunCommand("dd if=/dev/zero of=" + ShellQuote(copy.string()) +
                             " bs=512 count=1 conv=notrunc status=none"),
                  0);
        const std::string image = ShellQuote(copy.string());
        const std::string before = testkit::FileSha256(copy);
        Result c = Run("classify " + image);
        EXPECT_EQ(c.status, 0) << c.all;
        EXPECT_NE(c.out.find("its backup copy was used"), std::string::npos) << c.out;
        Result q = Run("scan --quick " + image);
        EXPECT_EQ(q.status, 0) << q.all;
        EXPECT_EQ(Lines(q.out).size(), built.Deleted().size()) << q.all;
        EXPECT_NE(q.all.find("the boot sector of " + copy.string() + " is damaged; its backup copy was used"),
                  std::string::npos)
            << q.all;
        TempDir out;
        Result r = Run("recover --quick --to " + ShellQuote(out.Path().string()) + " " + image);
        EXPECT_EQ(r.status, 0) << r.all;
        ExpectDeletedFilesRecovered(built, out.Path());
        EXPECT_EQ(testkit::FileSha256(copy), before);

        // The copy gone too: the deep scan still meets the file system's records and says so.
        const uint64_t backup =
            kind == testkit::ImageKind::kNtfs ? std::filesystem::file_size(copy) / 512 - 1 : 6;
        ASSERT_EQ(RunCommand("dd if=/dev/zero of=" + ShellQuote(copy.string()) +
                             " bs=512 seek=" + std::to_string(backup) + " count=1 conv=notrunc status=none"),
                  0);
        Result d = Run("scan --deep --fresh " + image);
        EXPECT_EQ(d.status, 0) << d.all;
        EXPECT_NE(d.all.find("no file system is recognised at the start of " + copy.string() +
                             ", but the deep scan found the records of " +
                             (kind == testkit::ImageKind::kNtfs ? "NTFS" : "FAT")),
                  std::string::npos)
            << d.all;
    }
}

TEST_F(CliTest, AVolumeClaimingMoreThanItsTargetHoldsIsSaid) {
    for (auto kind : {testkit::ImageKind::kFat32, testkit::ImageKind::kNtfs}) {
        SORVANE_SHARED_IMAGE_OR_SKIP(built, kind);
        SCOPED_TRACE(testkit::ImageKindName(kind));
        TempDir dir;
        const std::filesystem::path cut = dir / "cut.img";
        std::filesystem::copy_file(built.image, cut);
        const uint64_t size = std::filesystem::file_size(cut);
        std::filesystem::resize_file(cut, size - 1024 * 1024);
        const std::string claims = "the volume claims ";
        Result c = Run("classify " + ShellQuote(cut.string()));
        EXPECT_EQ(c.status, 3) << c.all;
        EXPECT_NE(c.out.find(claims), std::string::npos) << c.out;
        Result q = Run("scan --quick " + ShellQuote(cut.string()));
        EXPECT_EQ(q.status, 3) << q.all;
        EXPECT_NE(q.all.find(claims), std::string::npos) << q.all;
        EXPECT_NE(q.all.find("files past its end are missing"), std::string::npos) << q.all;
        EXPECT_FALSE(Lines(q.out).empty());
    }
}

TEST_F(CliTest, NtfsClustersOf64KiBAndMoreAreRead) {
    for (auto kind : {testkit::ImageKind::kNtfs64k, testkit::ImageKind::kNtfs1m}) {
        SORVANE_SHARED_IMAGE_OR_SKIP(built, kind);
        SCOPED_TRACE(testkit::ImageKindName(kind));
        const std::string image = ShellQuote(built.image.string());
        const std::string before = testkit::FileSha256(built.image);
        Result c = Run("classify " + image);
        EXPECT_EQ(c.status, 0) << c.all;
        EXPECT_NE(c.out.find("cluster:     " + std::to_string(built.volumes[0].clusterBytes) + " bytes"),
                  std::string::npos)
            << c.out;
        for (const char* mode : {"--quick", "--deep --fresh"}) {
            TempDir out;
            Result r = Run(std::string("recover ") + mode + " --to " + ShellQuote(out.Path().string()) + " " +
                           image);
            EXPECT_EQ(r.status, 0) << mode << ": " << r.all;
            ExpectDeletedFilesRecovered(built, out.Path());
            for (const auto& f : FilesBelow(out.Path()))
                EXPECT_EQ(f.find("!"), std::string::npos)
                    << mode << ": no content under a made-up name: " << f;
        }
        EXPECT_EQ(testkit::FileSha256(built.image), before);
    }

    // Windows formats up to 2 MiB clusters (stored as 0xF4).
    const std::filesystem::path real = testkit::RealImagesDir();
    if (real.empty() || !std::filesystem::exists(real / "ntfs-2m.raw.gz"))
        GTEST_SKIP() << "public images not available";
    TempDir dir;
    const std::filesystem::path raw = dir / "ntfs-2m.raw";
    ASSERT_EQ(RunCommand("zcat " + ShellQuote((real / "ntfs-2m.raw.gz").string()) +
                         " | dd of=" + ShellQuote(raw.string()) + " bs=1M conv=sparse status=none"),
              0);
    const std::string volume = ShellQuote(raw.string() + "@128");
    Result c = Run("classify " + volume);
    EXPECT_EQ(c.status, 0) << c.all;
    EXPECT_NE(c.out.find("file system: NTFS"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("cluster:     2097152 bytes"), std::string::npos) << c.out;
    // Its records read: no "cannot be read" (exit 5), and nothing deleted to list.
    for (const char* mode : {"--quick", "--deep --fresh"}) {
        Result s = Run(std::string("scan ") + mode + " " + volume);
        EXPECT_EQ(s.status, 0) << mode << ": " << s.all;
        EXPECT_EQ(s.all.find("cannot be read"), std::string::npos) << mode << ": " << s.all;
    }
}

TEST_F(CliTest, RecoveringOntoTheScannedImagesOwnMountIsRefused) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kNtfs);
    TempDir dir;
    const std::filesystem::path image = dir / "card.img";
    std::filesystem::copy_file(built.image, image);
    std::string loop;
    if (RunCommand("losetup -f --show " + ShellQuote(image.string()) + " 2>/dev/null", &loop) != 0 ||
        loop.empty())
        GTEST_SKIP() << "no loop device can be set up here";
    while (!loop.empty() && loop.back() == '\n') loop.pop_back();
    const std::filesystem::path mount = dir / "mnt";
    std::filesystem::create_directories(mount);
    // Through the kernel's driver where it has one, else through FUSE (whose
    // file system has a device number of its own).
    if (RunCommand("mount " + ShellQuote(loop) + " " + ShellQuote(mount.string()) + " 2>/dev/null") != 0 &&
        RunCommand("ntfs-3g " + ShellQuote(loop) + " " + ShellQuote(mount.string()) + " 2>/dev/null") != 0) {
        RunCommand("losetup -d " + ShellQuote(loop));
        GTEST_SKIP() << "cannot mount a loop device here";
    }
    RunCommand("sync");
    const std::string before = testkit::FileSha256(image);
    // The image by any of its names: the path, and one through a link.
    std::filesystem::create_symlink(image, dir / "link.img");
    for (const std::filesystem::path& target : {image, dir / "link.img"}) {
        Result r = Run("recover --quick --to " + ShellQuote((mount / "out").string()) + " " +
                       ShellQuote(target.string()));
        EXPECT_EQ(r.status, 2) << r.all;
        EXPECT_NE(r.all.find("reads from the image being scanned"), std::string::npos) << r.all;
        EXPECT_FALSE(std::filesystem::exists(mount / "out"));
    }
    RunCommand("umount " + ShellQuote(mount.string()));
    RunCommand("losetup -d " + ShellQuote(loop));
    EXPECT_EQ(testkit::FileSha256(image), before);
}

// The read-fault plan is a test hook: the program that is installed never
// takes it, so no environment can make it report sectors that are not bad.
TEST_F(CliTest, TheInstalledProgramTakesNoReadFaultPlan) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat16);
    const std::string plan = "SORVANE_FAULT_PLAN=" + ShellQuote(built.image.string() + ":0-63:error") +
                             " SORVANE_DATA_DIR=" + ShellQuote(data_.Path().string()) + " ";
    std::string out;
    EXPECT_EQ(RunCommand(plan + ShellQuote(SORVANE_INSTALLED_CLI) + " classify " +
                             ShellQuote(built.image.string()) + " 2>&1",
                         &out),
              0)
        << out;
    EXPECT_EQ(out.find("unreadable"), std::string::npos) << out;
    Result hooked = Run("classify " + ShellQuote(built.image.string()), plan);
    EXPECT_NE(hooked.status, 0) << "the tests' own build does take it: " << hooked.all;
}

// A photo with one sector the card no longer gives back is kept: zeros in
// that sector, every other byte its own, and the report says it is damaged.
TEST_F(CliTest, AFileWithAnUnreadableSectorIsKeptAndSaidToBeDamaged) {
    SORVANE_SHARED_IMAGE_OR_SKIP(built, testkit::ImageKind::kFat32);
    const auto* photo = built.Find("Photos/Été à la plage — Côte d'Azur.jpg");
    ASSERT_NE(photo, nullptr);
    ASSERT_FALSE(photo->Has("fragmented"));
    const std::vector<uint8_t> bytes = testkit::ReadFile(built.image);
    auto u16 = [&](size_t at) { return uint64_t{bytes[at]} | uint64_t{bytes[at + 1]} << 8; };
    const uint64_t dataStart = u16(14) + uint64_t{bytes[16]} * (u16(36) | u16(38) << 16);
    const uint64_t first = dataStart + (photo->Number("first_cluster") - 2) * bytes[13];
    const uint64_t bad = first + 2;
    // What the copy must hold: the photo's own bytes with the bad sector zeroed.
    std::vector<uint8_t> expected(bytes.begin() + first * 512, bytes.begin() + first * 512 + photo->size);
    std::fill_n(expected.begin() + 2 * 512, 512, 0);
    TempDir dir;
    testkit::WriteFile(dir / "expected.jpg", expected);
    const std::string expectedSha = testkit::FileSha256(dir / "expected.jpg");
    ASSERT_NE(expectedSha, photo->sha256);

    const std::string plan =
        "SORVANE_FAULT_PLAN=" + ShellQuote(built.image.string() + ":" + std::to_string(bad) + ":error");
    for (const char* mode : {"--quick", "--deep --fresh"}) {
        SCOPED_TRACE(mode);
        TempDir out;
        Result r = Run(std::string("recover ") + mode + " --to " + ShellQuote(out.Path().string()) + " " +
                           ShellQuote(built.image.string()),
                       plan);
        EXPECT_EQ(r.status, 3) << r.all;
        const std::filesystem::path kept = out / "photo" / "Été à la plage — Côte d'Azur.jpg";
        ASSERT_TRUE(std::filesystem::exists(kept)) << r.all;
        EXPECT_EQ(std::filesystem::file_size(kept), photo->size);
        EXPECT_EQ(testkit::FileSha256(kept), expectedSha);
        EXPECT_NE(r.all.find(kept.string() + " is damaged: 1 unreadable sector written as zeros"),
                  std::string::npos)
            << r.all;
        EXPECT_NE(r.out.find(" damaged), failed 0 "), std::string::npos) << r.out;
        for (const auto& f : FilesBelow(out.Path())) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
    }

    // With --json the same summary is one object that names the damaged file and its count.
    TempDir out;
    Result j = Run("recover --quick --json --to " + ShellQuote(out.Path().string()) + " " +
                       ShellQuote(built.image.string()),
                   plan);
    EXPECT_EQ(j.status, 3) << j.all;
    const std::vector<std::string> lines = Lines(j.out);
    ASSERT_EQ(lines.size(), 1u) << "JSON alone on stdout: " << j.out;
    const std::string& summary = lines[0];
    const std::filesystem::path kept = out / "photo" / "Été à la plage — Côte d'Azur.jpg";
    EXPECT_NE(summary.find("\"damaged\":1,\"failed\":0,"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"damagedFiles\":[{\"file\":\""), std::string::npos) << summary;
    EXPECT_NE(summary.find("Photos/Été à la plage — Côte d'Azur.jpg\",\"recoveredAs\":\"" + kept.string() +
                           "\",\"unreadableSectors\":1}]"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("\"failedFiles\":[]}"), std::string::npos) << summary;
    EXPECT_NE(j.all.find(" damaged), failed 0 "), std::string::npos) << "the line for people, on stderr";
    EXPECT_EQ(testkit::FileSha256(kept), expectedSha);
}

// Disks that present 4096-byte sectors (many USB enclosures): both scans give
// back every deleted file byte-exact, and nothing under a made-up name with
// another file's bytes.
TEST_F(CliTest, VolumesOf4096ByteSectorsAreReadByteExact) {
    for (auto kind : {testkit::ImageKind::kFat32Sectors4k, testkit::ImageKind::kNtfsSectors4k,
                      testkit::ImageKind::kExfatSectors4k}) {
        SORVANE_SHARED_IMAGE_OR_SKIP(built, kind);
        SCOPED_TRACE(testkit::ImageKindName(kind));
        const std::string image = ShellQuote(built.image.string());
        const std::string before = testkit::FileSha256(built.image);
        const bool exfat = kind == testkit::ImageKind::kExfatSectors4k;
        {
            std::ifstream boot(built.image, std::ios::binary);
            unsigned char b[512] = {};
            boot.read(reinterpret_cast<char*>(b), sizeof b);
            ASSERT_EQ(exfat ? 1u << (b[108] & 31) : unsigned{b[11]} | unsigned{b[12]} << 8, 4096u)
                << "the volume's own sector size";
        }
        // Contents a file recovered under a name from the file system may hold:
        // any file's of the volume; a deleted file whose clusters a later one
        // took may hold anything, and so may a deleted fragmented exFAT file,
        // whose chain is gone (its data is read on from its first cluster).
        std::set<std::string> real, overwritten;
        for (const auto& e : built.entries) {
            if (e.isDir) continue;
            real.insert(e.sha256);
            if (e.Has("overwritten") || (exfat && e.Has("fragmented"))) overwritten.insert(e.Name());
        }
        for (const char* mode : {"--quick", "--deep --fresh"}) {
            TempDir out;
            Result r = Run(std::string("recover ") + mode + " --to " + ShellQuote(out.Path().string()) + " " +
                           image);
            EXPECT_EQ(r.status, 0) << mode << ": " << r.all;
            std::set<std::string> shas;
            for (const auto& f : FilesBelow(out.Path())) shas.insert(testkit::FileSha256(out / f));
            for (const auto& truth : built.Deleted()) {
                if (!overwritten.count(truth.Name())) {
                    EXPECT_TRUE(shas.count(truth.sha256)) << mode << ": " << truth.path;
                }
            }
            for (const auto& f : FilesBelow(out.Path())) {
                std::string name = f.substr(f.rfind('/') + 1);
                // Found by content alone (named by the sector it starts at): how
                // far random bytes run is a guess.
                if (std::isdigit(static_cast<unsigned char>(name[0]))) continue;
                if (real.count(testkit::FileSha256(out / f))) continue;
                const size_t copy = name.rfind('(');
                if (copy != std::string::npos && name.find(')', copy) != std::string::npos)
                    name.erase(copy, name.find(')', copy) - copy + 1);
                EXPECT_TRUE(overwritten.count(name)) << mode << ": content of no file under " << f;
            }
        }
        EXPECT_EQ(testkit::FileSha256(built.image), before);
    }
}

}  // namespace
}  // namespace sorvane::cli
