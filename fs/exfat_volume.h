// An exFAT volume read through a byte source: its layout, its FAT (read
// through a small window, so a large card costs no memory), its allocation
// bitmap and cluster chains. Nothing is trusted: chains end at the first
// cluster outside the heap and never run longer than the heap, so a FAT with
// loops cannot hang a reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/partition_details.h"
#include "fs/exfat_boot_region.h"
#include "fs/exfat_entry_set.h"

namespace sorvane {

class ExfatVolume {
  public:
    // Bytes of the FAT kept in memory at a time.
    static constexpr size_t kFatWindowBytes = 64 * 1024;

    // Reads the boot region through `read` (offsets from the volume's first
    // byte). Returns false when neither boot region holds a usable layout.
    [[nodiscard]] bool Open(ByteSource read);
    const ExfatGeometry& Geometry() const { return geometry_; }
    ExfatBootChoice BootChoice() const { return choice_; }

    // The FAT entry of `cluster`; 0 when it cannot be read.
    uint32_t FatEntry(uint32_t cluster);
    // The clusters of a chain from `first`, following the FAT, at most
    // `maxClusters` and never more than the heap holds. Ends at the end mark,
    // at a free or bad entry, at a cluster outside the heap, and at a cluster
    // met before (a loop).
    std::vector<uint32_t> FollowChain(uint32_t first, uint64_t maxClusters);
    // `count` clusters from `first` on, cut at the end of the heap.
    std::vector<uint32_t> ContiguousRun(uint32_t first, uint64_t count) const;
    // The clusters of data `dataLength` bytes long: contiguous when
    // `noFatChain`, else along the FAT.
    std::vector<uint32_t> DataClusters(uint32_t first, uint64_t dataLength, bool noFatChain);

    // Reads the allocation bitmap the root folder's bitmap entry names.
    [[nodiscard]] bool LoadBitmap(uint32_t firstCluster, uint64_t length);
    bool HasBitmap() const { return !bitmap_.empty(); }
    // True when the bitmap marks `cluster` in use (false without a bitmap).
    bool IsAllocated(uint32_t cluster) const;
    const std::vector<uint8_t>& Bitmap() const { return bitmap_; }

    // Reads whole clusters into `buffer` (resized to fit). False on a read fault.
    [[nodiscard]] bool ReadCluster(uint32_t cluster, std::vector<uint8_t>& buffer);
    [[nodiscard]] bool ReadBytes(uint64_t offset, uint8_t* buffer, size_t length) {
        return read_ && read_(offset, buffer, length);
    }

    // Feeds the clusters of a folder to `parser`, a cluster at a time, at most
    // `maxBytes`. Returns false when a cluster could not be read (the rest is still fed).
    [[nodiscard]] bool ReadDirectory(const std::vector<uint32_t>& clusters, ExfatDirectoryParser& parser,
                                     uint64_t maxBytes);

    // The label from the root folder's label entry, read by ReadRoot.
    const std::string& Label() const { return label_; }
    // Reads the root folder for its label and bitmap entries and loads the bitmap.
    [[nodiscard]] bool ReadRoot();

  private:
    ByteSource read_;
    ExfatGeometry geometry_;
    ExfatBootChoice choice_ = ExfatBootChoice::kNone;
    std::vector<uint8_t> fatWindow_;
    uint64_t fatWindowStart_ = UINT64_MAX;  // first FAT entry held
    std::vector<uint8_t> bitmap_;
    std::vector<uint8_t> scratch_;
    std::string label_;
};

}  // namespace sorvane
