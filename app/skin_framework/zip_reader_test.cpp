// The skin package reader against archives made by real zip writers (Python's
// zipfile, Info-ZIP, CMake's libarchive), and against damaged archives.
#include "app/skin_framework/zip_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/testkit/testkit.h"

namespace sorvane::skin {
namespace {

using testkit::ReadFile;
using testkit::RunCommand;
using testkit::ShellQuote;
using testkit::TempDir;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Writes files with Python's zipfile: `method` is "ZIP_STORED" or "ZIP_DEFLATED".
std::filesystem::path PythonZip(const TempDir& dir, const std::string& method,
                                const std::vector<std::pair<std::string, std::string>>& files) {
    const auto zip = dir / (method + ".zip");
    std::string script = "import zipfile\nz = zipfile.ZipFile(" + ShellQuote(zip.string()) +
                         ", 'w', zipfile." + method + ")\n";
    for (const auto& [name, content] : files) {
        script += "z.writestr(" + ShellQuote(name) + ", " + ShellQuote(content) + ")\n";
    }
    script += "z.close()\n";
    const auto py = dir / "make.py";
    testkit::WriteFile(py, Bytes(script));
    EXPECT_EQ(RunCommand("python3 " + ShellQuote(py.string())), 0);
    return zip;
}

std::string Text(const std::optional<std::vector<uint8_t>>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

TEST(ZipReader, ReadsStoredAndDeflatedEntriesOfPythonZipfile) {
    TempDir dir;
    const std::string layout(5000, 'x');
    for (const char* method : {"ZIP_STORED", "ZIP_DEFLATED"}) {
        const auto zip =
            PythonZip(dir, method,
                      {{"xml/skin.xml", "<Window/>" + layout}, {"checkbox.png", "PNG!"}, {"empty.txt", ""}});
        ZipReader reader;
        ASSERT_TRUE(reader.Open(ReadFile(zip))) << reader.Error();
        EXPECT_EQ(reader.Names(), (std::vector<std::string>{"checkbox.png", "empty.txt", "xml/skin.xml"}));
        EXPECT_EQ(Text(reader.Read("xml/skin.xml")), "<Window/>" + layout) << method;
        EXPECT_EQ(Text(reader.Read("checkbox.png")), "PNG!");
        EXPECT_EQ(Text(reader.Read("empty.txt")), "");
        // Layouts name files with either slash.
        EXPECT_EQ(Text(reader.Read("xml\\skin.xml")), "<Window/>" + layout);
        EXPECT_FALSE(reader.Read("xml/missing.xml"));
    }
}

TEST(ZipReader, ReadsArchivesOfInfoZipAndCmake) {
    TempDir dir;
    std::filesystem::create_directories(dir / "tree" / "FileIcon");
    testkit::WriteFile(dir / "tree" / "FileIcon" / "folder.png", Bytes(std::string(3000, 'f')));
    testkit::WriteFile(dir / "tree" / "readme.txt", Bytes("hello"));
    const std::string tree = ShellQuote((dir / "tree").string());
    if (testkit::HaveProgram("zip")) {
        ASSERT_EQ(RunCommand("cd " + tree + " && zip -qr ../info.zip FileIcon readme.txt"), 0);
        ZipReader reader;
        ASSERT_TRUE(reader.Open(ReadFile(dir / "info.zip"))) << reader.Error();
        EXPECT_EQ(Text(reader.Read("FileIcon/folder.png")), std::string(3000, 'f'));
        EXPECT_EQ(Text(reader.Read("readme.txt")), "hello");
    }
    ASSERT_EQ(RunCommand("cd " + tree +
                         " && cmake -E tar cf ../cm.zip --format=zip FileIcon/folder.png readme.txt"),
              0);
    ZipReader reader;
    ASSERT_TRUE(reader.Open(ReadFile(dir / "cm.zip"))) << reader.Error();
    EXPECT_EQ(Text(reader.Read("./FileIcon/folder.png")), std::string(3000, 'f'));
    EXPECT_EQ(Text(reader.Read("readme.txt")), "hello");
}

TEST(ZipReader, RefusesWhatIsNotAZipArchive) {
    ZipReader reader;
    EXPECT_FALSE(reader.Open({}));
    EXPECT_FALSE(reader.Open(Bytes("PK")));
    EXPECT_FALSE(reader.Open(std::vector<uint8_t>(4096, 0)));
    EXPECT_FALSE(reader.Error().empty());
    EXPECT_TRUE(reader.Names().empty());
}

TEST(ZipReader, DamagedDataIsRefusedEntryByEntry) {
    TempDir dir;
    const std::string content(4000, 'a');
    const auto zip = PythonZip(dir, "ZIP_STORED", {{"a.xml", content}, {"b.xml", "second"}});
    std::vector<uint8_t> bytes = ReadFile(zip);
    // Flip one byte inside a.xml's stored data: its CRC no longer matches, b.xml still reads.
    const std::string archive(bytes.begin(), bytes.end());
    const size_t at = archive.find(std::string(100, 'a'));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 10] = 'b';
    ZipReader reader;
    ASSERT_TRUE(reader.Open(bytes));
    EXPECT_FALSE(reader.Read("a.xml"));
    EXPECT_EQ(Text(reader.Read("b.xml")), "second");
}

TEST(ZipReader, DirectoryPointingOutsideTheArchiveIsRefused) {
    TempDir dir;
    const auto zip = PythonZip(dir, "ZIP_DEFLATED", {{"a.xml", std::string(2000, 'z')}});
    const std::vector<uint8_t> good = ReadFile(zip);
    // The end record's directory offset (at end - 22 + 16) pointing past the end.
    std::vector<uint8_t> bad = good;
    bad[bad.size() - 22 + 16] = 0xFF;
    bad[bad.size() - 22 + 17] = 0xFF;
    ZipReader reader;
    EXPECT_FALSE(reader.Open(bad));
    // A truncated archive loses its end record.
    EXPECT_FALSE(reader.Open(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)));
}

TEST(ZipReader, SurvivesRandomCorruption) {
    TempDir dir;
    const auto zip = PythonZip(
        dir, "ZIP_DEFLATED", {{"xml/a.xml", std::string(3000, 'q')}, {"b.png", "bbbb"}, {"c/d.xml", "dddd"}});
    const std::vector<uint8_t> good = ReadFile(zip);
    std::mt19937 random(1234);
    int readable = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        ZipReader reader;
        if (!reader.Open(bytes)) continue;
        for (const std::string& name : reader.Names()) {
            const auto data = reader.Read(name);
            if (data) {
                ++readable;
                EXPECT_LE(data->size(), ZipReader::kMaxEntrySize);
            }
        }
    }
    EXPECT_GT(readable, 0);  // most single flips leave some entry intact
}

}  // namespace
}  // namespace sorvane::skin
