// An exFAT card made by mkfs.exfat and written through exfat-fuse on a loop
// device, on which a deleted file lies in two pieces the way cards fragment:
// filled, every other file deleted, a big file copied into the first two
// holes (so its entry set says its clusters follow the FAT), then it and the
// file between its pieces deleted. exfat-fuse clears a deleted file's FAT
// chain and its bits in the allocation bitmap; RestoreChain puts the chain
// back, as systems that keep it on deletion leave a card.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/testkit/testkit.h"

namespace sorvane::testkit {

inline constexpr uint32_t kExfatCardClusterBytes = 4096;  // mkfs.exfat -c 4096

struct FragmentedExfatCardLayout {
    bool keepMiddle = false;  // the file between the pieces stays live
    // The folder, made before anything else, that holds the file ("" for the
    // root); its entry sets outlive a new format, which rewrites the root.
    std::string folder;
};

struct FragmentedExfatCard {
    std::filesystem::path image;
    std::string name;                                   // the deleted file's name
    std::vector<std::pair<uint32_t, uint32_t>> pieces;  // its clusters before it was deleted, as runs
    uint64_t heapStart = 0;                             // byte of cluster 2
    uint64_t fatStart = 0;                              // byte of the FAT's entry 0
    // Why the card could not be made on this machine (not root, no loop
    // device, no FUSE, a tool missing): the test skips with it.
    std::string skipReason;
    std::string output;  // what the tools said
};

// Makes the card in `dir` with `file` (named "Holiday picture" with its
// extension) fragmented over holes of `holeClusters` clusters. False when a
// tool fails or the machine refuses (then `skipReason` says why).
bool MakeFragmentedExfatCard(const TempDir& dir, const std::filesystem::path& file, uint32_t holeClusters,
                             const FragmentedExfatCardLayout& layout, FragmentedExfatCard& card);

// Writes `bytes` over the image from cluster `cluster` on, as a later file would.
void OverwriteClusters(const FragmentedExfatCard& card, uint32_t cluster, const std::vector<uint8_t>& bytes);

// Writes the file's FAT chain back as it was before the deletion.
void RestoreChain(const FragmentedExfatCard& card);

}  // namespace sorvane::testkit
