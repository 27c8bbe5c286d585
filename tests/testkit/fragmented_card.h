// A FAT16 card made by mkfs.fat and mtools on which a deleted file lies in
// two pieces with free clusters between, the way cards fragment: filled,
// every other file deleted, a big file copied into the first two holes, then
// it and the file between its pieces deleted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/testkit/testkit.h"

namespace sorvane::testkit {

inline constexpr uint32_t kCardClusterBytes = 1024;  // mkfs.fat -s 2 on 512-byte sectors

struct FragmentedCard {
    std::filesystem::path image;
    std::string name;                                   // the deleted file's long name in the root
    std::vector<std::pair<uint32_t, uint32_t>> pieces;  // its clusters before it was deleted, as runs
    uint64_t dataStart = 0;                             // byte of cluster 2
};

// `n` bytes from a fixed seed.
std::vector<uint8_t> Noise(size_t n, uint32_t seed);

// Makes the card in `dir` with `file` (named "Holiday picture" with its
// extension) fragmented over holes of `holeClusters` clusters. With a
// `folder`, made before anything else, the file lies in it and the folder is
// deleted after the file, so its entries are found only in free space. False
// when a tool fails.
bool MakeFragmentedCard(const TempDir& dir, const std::filesystem::path& file, uint32_t holeClusters,
                        FragmentedCard& card, const std::string& folder = "");

// Writes `bytes` over the image from cluster `cluster` on, as a later file would.
void OverwriteClusters(const FragmentedCard& card, uint32_t cluster, const std::vector<uint8_t>& bytes);

}  // namespace sorvane::testkit
