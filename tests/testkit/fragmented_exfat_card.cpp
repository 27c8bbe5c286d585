#include "tests/testkit/fragmented_exfat_card.h"

#include <sstream>

#include "tests/testkit/fragmented_card.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace sorvane::testkit {
namespace {

// The script's exit status when the machine refuses a loop device or the mount.
constexpr int kRefused = 77;

[[maybe_unused]] uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

}  // namespace

bool MakeFragmentedExfatCard(const TempDir& dir, const std::filesystem::path& file, uint32_t holeClusters,
                             const FragmentedExfatCardLayout& layout, FragmentedExfatCard& card) {
    card = FragmentedExfatCard{};
#if defined(_WIN32)
    static_cast<void>(dir);
    static_cast<void>(file);
    static_cast<void>(holeClusters);
    static_cast<void>(layout);
    card.skipReason = "exFAT cards are written through exfat-fuse, which this system has not";
    return false;
#else
    for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup", "python3"}) {
        if (!HaveProgram(tool)) {
            card.skipReason = std::string(tool) + " missing";
            return false;
        }
    }
    if (::geteuid() != 0) {
        card.skipReason = "exFAT cards need root (a loop device and a FUSE mount)";
        return false;
    }
    card.image = dir / "card.img";
    card.name = "Holiday picture" + file.extension().string();
    const std::string q = ShellQuote(card.image.string());
    const std::string path = layout.folder.empty() ? card.name : layout.folder + "/" + card.name;
    const std::string target = ShellQuote("mnt/" + path);
    // The file's clusters are read from the unmounted volume by the image
    // toolkit's own exFAT reader, before the file is deleted.
    const std::string toolkit =
        ShellQuote((std::filesystem::path(SORVANE_SOURCE_DIR) / "tests" / "toolkit").string());
    const std::string runs =
        "python3 -c \"import sys; sys.path.insert(0, sys.argv[1]); import make_image; "
        "c = make_image.exfat_tree(sys.argv[2])['/' + sys.argv[3]][0]; "
        "print(' '.join(str(x) for x in c))\" " +
        toolkit + " " + q + " " + ShellQuote(path) + " > clusters.txt";
    std::string script = "set -e; cd " + ShellQuote(dir.Path().string()) + "; truncate -s 8M " + q +
                         "; mkfs.exfat -c " + std::to_string(kExfatCardClusterBytes) + " -L CARD " + q +
                         " >/dev/null; mkdir -p mnt; loop=$(losetup -f --show " + q + ") || exit " +
                         std::to_string(kRefused) +
                         "; trap 'rc=$?; set +e; umount mnt 2>/dev/null; losetup -d \"$loop\"; exit $rc' EXIT"
                         "; mount.exfat-fuse \"$loop\" mnt 2>/dev/null || exit " +
                         std::to_string(kRefused);
    if (!layout.folder.empty()) script += "; mkdir " + ShellQuote("mnt/" + layout.folder);
    for (int i = 1; i <= 12; ++i) {
        const std::string name = "fill" + std::to_string(i) + ".bin";
        WriteFile(dir / name, Noise(size_t{holeClusters} * kExfatCardClusterBytes, static_cast<uint32_t>(i)));
        script += "; cp " + name + " mnt/" + name;
    }
    for (int i = 2; i <= 12; i += 2) script += "; rm mnt/fill" + std::to_string(i) + ".bin";
    script += "; cp " + ShellQuote(file.string()) + " " + target + "; umount mnt; " + runs +
              "; mount.exfat-fuse \"$loop\" mnt 2>/dev/null; rm " + target +
              (layout.keepMiddle ? "" : " mnt/fill3.bin") + "; umount mnt";
    const int status = RunCommand("bash -c " + ShellQuote(script) + " 2>&1", &card.output);
    if (status == kRefused) card.skipReason = "this machine refuses a loop device or the FUSE mount";
    if (status != 0) {
        card.output += "(exit status " + std::to_string(status) + ")";
        return false;
    }

    const std::vector<uint8_t> listed = ReadFile(dir / "clusters.txt");
    std::istringstream clusters(std::string(listed.begin(), listed.end()));
    for (uint32_t c = 0; clusters >> c;) {
        if (!card.pieces.empty() && card.pieces.back().second + 1 == c)
            card.pieces.back().second = c;
        else
            card.pieces.emplace_back(c, c);
    }
    const std::vector<uint8_t> image = ReadFile(card.image);
    if (image.size() < 512 || card.pieces.empty()) return false;
    const uint64_t sector = uint64_t{1} << image[108];
    card.fatStart = Le32(image, 80) * sector;
    card.heapStart = Le32(image, 88) * sector;
    return true;
#endif
}

void OverwriteClusters(const FragmentedExfatCard& card, uint32_t cluster, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> image = ReadFile(card.image);
    const uint64_t at = card.heapStart + uint64_t{cluster - 2} * kExfatCardClusterBytes;
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(at));
    WriteFile(card.image, image);
}

void RestoreChain(const FragmentedExfatCard& card) {
    std::vector<uint8_t> image = ReadFile(card.image);
    std::vector<uint32_t> chain;
    for (const auto& [first, last] : card.pieces)
        for (uint32_t c = first; c <= last; ++c) chain.push_back(c);
    for (size_t i = 0; i < chain.size(); ++i) {
        const uint32_t next = i + 1 < chain.size() ? chain[i + 1] : 0xFFFFFFFFu;  // the end mark
        const uint64_t at = card.fatStart + uint64_t{chain[i]} * 4;
        for (int b = 0; b < 4; ++b) image[at + b] = static_cast<uint8_t>(next >> (8 * b));
    }
    WriteFile(card.image, image);
}

}  // namespace sorvane::testkit
