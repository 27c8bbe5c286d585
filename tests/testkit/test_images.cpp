#include "tests/testkit/test_images.h"

#include <cstdint>
#include <cstdlib>

#include <charconv>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/fault_plan.h"
#include "tests/testkit/testkit.h"

#ifndef SORVANE_NTFS_EDIT
#define SORVANE_NTFS_EDIT ""
#endif

namespace sorvane::testkit {
namespace {

constexpr int kExitMissingTool = 77;

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool ParseNumber(const std::string& text, uint64_t& value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::map<std::string, std::string> ParseFlags(const std::string& text) {
    std::map<std::string, std::string> flags;
    if (text == "-") return flags;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty()) continue;
        size_t eq = item.find('=');
        if (eq == std::string::npos)
            flags[item] = "";
        else
            flags[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return flags;
}

}  // namespace

const char* ImageKindName(ImageKind kind) {
    switch (kind) {
        case ImageKind::kFat12:
            return "fat12";
        case ImageKind::kFat16:
            return "fat16";
        case ImageKind::kFat32:
            return "fat32";
        case ImageKind::kNtfs:
            return "ntfs";
        case ImageKind::kFat32Sectors4k:
            return "fat32-4k";
        case ImageKind::kNtfsSectors4k:
            return "ntfs-4k";
        case ImageKind::kNtfs64k:
            return "ntfs-64k";
        case ImageKind::kNtfs1m:
            return "ntfs-1m";
        case ImageKind::kMbr:
            return "mbr";
        case ImageKind::kFat16Reformatted:
            return "fat16-reformatted";
        case ImageKind::kNtfsReformatted:
            return "ntfs-reformatted";
        case ImageKind::kExfat:
            return "exfat";
        case ImageKind::kExfatReformatted:
            return "exfat-reformatted";
        case ImageKind::kExfatLarge:
            return "exfat-large";
        case ImageKind::kExfatSectors4k:
            return "exfat-4k";
    }
    return "?";
}

uint64_t TruthEntry::Number(const std::string& flag, uint64_t fallback) const {
    auto it = flags.find(flag);
    uint64_t value = 0;
    return it != flags.end() && ParseNumber(it->second, value) ? value : fallback;
}

std::string TruthEntry::Name() const {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<TruthEntry> BuiltImage::Deleted(int volume) const {
    std::vector<TruthEntry> out;
    for (const auto& e : entries)
        if (!e.isDir && e.deleted && e.volume == volume) out.push_back(e);
    return out;
}

std::vector<TruthEntry> BuiltImage::Live(int volume) const {
    std::vector<TruthEntry> out;
    for (const auto& e : entries)
        if (!e.isDir && !e.deleted && e.volume == volume) out.push_back(e);
    return out;
}

const TruthEntry* BuiltImage::Find(const std::string& path, int volume) const {
    for (const auto& e : entries)
        if (e.path == path && e.volume == volume) return &e;
    return nullptr;
}

bool ParseTruth(const std::string& text, std::vector<TruthVolume>& volumes, std::vector<TruthEntry>& entries,
                std::string& error) {
    volumes.clear();
    entries.clear();
    std::stringstream in(text);
    std::string line;
    int lineNumber = 0;
    bool sawHeader = false;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty()) continue;
        if (line[0] == '#') {
            sawHeader = sawHeader || line == "#sorvane-image-truth 1";
            continue;
        }
        std::vector<std::string> f = SplitTabs(line);
        auto bad = [&](const char* why) {
            error = "truth line " + std::to_string(lineNumber) + ": " + why + ": " + line;
            return false;
        };
        if (f[0] == "volume") {
            uint64_t index = 0, start = 0, count = 0, cluster = 0;
            if (f.size() < 6 || f.size() > 7 || !ParseNumber(f[1], index) || !ParseNumber(f[3], start) ||
                !ParseNumber(f[4], count) || !ParseNumber(f[5], cluster) || index != volumes.size())
                return bad("malformed volume");
            if (f.size() == 7 && f[6] != "reformatted") return bad("unknown volume flag");
            volumes.push_back(
                {static_cast<int>(index), f[2], start, count, static_cast<uint32_t>(cluster), f.size() == 7});
        } else if (f[0] == "file" || f[0] == "dir") {
            uint64_t volume = 0, size = 0;
            if (f.size() != 7 || !ParseNumber(f[1], volume) || volume >= volumes.size() ||
                (f[2] != "live" && f[2] != "deleted") || f[3].empty() || !ParseNumber(f[4], size))
                return bad("malformed entry");
            if (f[0] == "file" && f[5].size() != 64) return bad("file without SHA-256");
            TruthEntry e;
            e.isDir = f[0] == "dir";
            e.volume = static_cast<int>(volume);
            e.deleted = f[2] == "deleted";
            e.path = f[3];
            e.size = size;
            e.sha256 = f[5];
            e.flags = ParseFlags(f[6]);
            entries.push_back(std::move(e));
        } else {
            return bad("unknown record");
        }
    }
    if (!sawHeader) {
        error = "not a truth file (no header line)";
        return false;
    }
    if (volumes.empty()) {
        error = "truth names no volume";
        return false;
    }
    return true;
}

BuiltImage BuildImage(ImageKind kind, const std::filesystem::path& dir) {
    BuiltImage built;
    const std::string name = ImageKindName(kind);
    built.image = dir / (name + ".img");
    built.truthFile = dir / (name + ".truth");
    // Where the tools cannot run (a Windows test program under Wine), the
    // images are made beforehand by the same toolkit and found here.
    if (const char* prebuilt = std::getenv("SORVANE_TEST_IMAGES"); prebuilt && *prebuilt) {
        const std::filesystem::path from(prebuilt);
        std::error_code ec;
        std::filesystem::copy_file(from / (name + ".img"), built.image, ec);
        if (!ec) std::filesystem::copy_file(from / (name + ".truth"), built.truthFile, ec);
        if (ec) {
            built.skipReason = "the " + name + " test image was not made beforehand in " + prebuilt;
            return built;
        }
        std::vector<uint8_t> bytes = ReadFile(built.truthFile);
        if (!ParseTruth(std::string(bytes.begin(), bytes.end()), built.volumes, built.entries, built.error))
            built.error = built.truthFile.string() + ": " + built.error;
        return built;
    }
    if (!HaveProgram("python3")) {
        built.skipReason = "python3 is not installed: the test-image toolkit needs it";
        return built;
    }
    const std::filesystem::path script =
        std::filesystem::path(SORVANE_SOURCE_DIR) / "tests" / "toolkit" / "make_image.py";
    std::string command = "python3 " + ShellQuote(script.string()) + " " + name + " --out " +
                          ShellQuote(dir.string()) + " --ntfs-edit " + ShellQuote(SORVANE_NTFS_EDIT) +
                          " 2>&1";
    std::string output;
    int status = RunCommand(command, &output);
    if (status == kExitMissingTool) {
        built.skipReason = "cannot build the " + name + " test image: " + output;
        return built;
    }
    if (status != 0) {
        built.error =
            "building the " + name + " test image failed (" + std::to_string(status) + "): " + output;
        return built;
    }
    std::vector<uint8_t> bytes = ReadFile(built.truthFile);
    std::string text(bytes.begin(), bytes.end());
    if (!ParseTruth(text, built.volumes, built.entries, built.error))
        built.error = built.truthFile.string() + ": " + built.error;
    return built;
}

const BuiltImage& SharedImage(ImageKind kind) {
    static std::mutex mutex;
    static std::unique_ptr<TempDir> dir;
    static std::map<ImageKind, BuiltImage> images;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = images.find(kind);
    if (it != images.end()) return it->second;
    if (!dir) dir = std::make_unique<TempDir>();
    return images.emplace(kind, BuildImage(kind, dir->Path())).first->second;
}

ScopedFaults::~ScopedFaults() { FaultPlan::Instance().Clear(); }

void ScopedFaults::Error(const std::filesystem::path& image, uint64_t first, uint64_t last,
                         uint32_t sectorSize) {
    FaultPlan::Instance().Add(image, first, last, FaultKind::kError, sectorSize);
}

void ScopedFaults::Short(const std::filesystem::path& image, uint64_t first, uint64_t last,
                         uint32_t sectorSize) {
    FaultPlan::Instance().Add(image, first, last, FaultKind::kShort, sectorSize);
}

void ScopedFaults::Slow(const std::filesystem::path& image, uint32_t milliseconds) {
    FaultPlan::Instance().AddSlow(image, 0, UINT64_MAX / 4096, milliseconds);
}

}  // namespace sorvane::testkit
