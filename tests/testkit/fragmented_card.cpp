#include "tests/testkit/fragmented_card.h"

#include <random>
#include <regex>

namespace sorvane::testkit {

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
    return out;
}

bool MakeFragmentedCard(const TempDir& dir, const std::filesystem::path& file, uint32_t holeClusters,
                        FragmentedCard& card, const std::string& folder) {
    card.image = dir / "card.img";
    card.name = "Holiday picture" + file.extension().string();
    const std::string q = ShellQuote(card.image.string());
    const std::string target = ShellQuote("::/" + (folder.empty() ? card.name : folder + "/" + card.name));
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; cd " + ShellQuote(dir.Path().string()) +
                         "; mkfs.fat -F 16 -s 2 -C " + q + " 8192 >/dev/null";
    if (!folder.empty()) script += "; mmd -i " + q + " " + ShellQuote("::/" + folder);
    for (int i = 1; i <= 12; ++i) {
        const std::string name = "fill" + std::to_string(i) + ".bin";
        WriteFile(dir / name, Noise(size_t{holeClusters} * kCardClusterBytes, static_cast<uint32_t>(i)));
        script += "; mcopy -i " + q + " " + name + " ::/" + name;
    }
    for (int i = 2; i <= 12; i += 2) script += "; mdel -i " + q + " ::/fill" + std::to_string(i) + ".bin";
    script += "; mcopy -i " + q + " " + ShellQuote(file.string()) + " " + target + "; mshowfat -i " + q +
              " " + target + " > chain.txt; mdel -i " + q + " " + target + " ::/fill3.bin";
    if (!folder.empty()) script += "; mrd -i " + q + " " + ShellQuote("::/" + folder);
    if (RunCommand("bash -c " + ShellQuote(script)) != 0) return false;
    const std::vector<uint8_t> chain = ReadFile(dir / "chain.txt");
    const std::string text(chain.begin(), chain.end());
    const std::regex run("<(\\d+)-(\\d+)>");
    card.pieces.clear();
    for (auto it = std::sregex_iterator(text.begin(), text.end(), run); it != std::sregex_iterator(); ++it)
        card.pieces.emplace_back(std::stoul((*it)[1]), std::stoul((*it)[2]));
    // The data area follows the reserved sectors, the FATs and the root folder.
    const std::vector<uint8_t> image = ReadFile(card.image);
    if (image.size() < 512) return false;
    const uint64_t reserved = image[14] | (image[15] << 8), fatSectors = image[22] | (image[23] << 8);
    const uint64_t rootSectors = ((image[17] | (image[18] << 8)) * 32 + 511) / 512;
    card.dataStart = (reserved + image[16] * fatSectors + rootSectors) * 512;
    return true;
}

void OverwriteClusters(const FragmentedCard& card, uint32_t cluster, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> image = ReadFile(card.image);
    const uint64_t at = card.dataStart + uint64_t{cluster - 2} * kCardClusterBytes;
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(at));
    WriteFile(card.image, image);
}

}  // namespace sorvane::testkit
