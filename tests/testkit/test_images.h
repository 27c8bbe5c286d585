// Test disk images made by real file-system tools, with their ground truth.
//
// BuildImage(kind, dir) runs tests/toolkit/make_image.py, which makes the image with
// mkfs.fat + mtools (FAT) or mkntfs + ntfs_edit, our small libntfs-3g program (NTFS),
// and sfdisk (the partitioned disk). Nothing is mounted. The files' contents come from
// a fixed seed, so every build of a kind holds the same files (timestamps, serial numbers
// and NTFS identifiers differ from build to build).
//
//   kFat12  8 MiB FAT12, 4 KiB clusters
//   kFat16  24 MiB FAT16, 2 KiB clusters
//   kFat32  48 MiB FAT32, 512-byte clusters; 34 MiB of live padding files first, so
//           every other file lies beyond cluster 65536
//   kNtfs   24 MiB NTFS, 4 KiB clusters; resident (tiny) and non-resident files
//   kNtfs64k, kNtfs1m  64 MiB NTFS with 64 KiB clusters, 192 MiB with 1 MiB clusters
//           (stored as a power of two: 0xF5), the same tree
//   kFat32Sectors4k  512 MiB sparse FAT32 of 4096-byte sectors (mkfs.fat -S 4096), one
//           sector per cluster; kNtfsSectors4k  64 MiB NTFS of 4096-byte sectors (mkntfs
//           -s 4096), 4 KiB clusters and records. Sectors in the truth stay 512 bytes.
//   kMbr    MBR disk: FAT32 partition at sector 2048 (34 MiB), NTFS partition after
//           it (16 MiB); each holds the same tree with smaller files
//   kFat16Reformatted, kNtfsReformatted
//           kFat16 / kNtfs formatted again (mkfs.fat / mkntfs -Q, same layout, new
//           label) over their files: the file system lists none of them any more. The
//           truth keeps the states from before the format and flags what survived
//           ("intact", "record_intact"). For deep-scan tests.
//   kExfat  32 MiB exFAT, 4 KiB clusters, made by mkfs.exfat and written through
//           exfat-fuse on a loop device (needs root; skipped where refused). The common
//           tree plus a deleted 200-character name and a deleted Cyrillic name; files
//           carry "nofatchain" (contiguous, as exfat-fuse writes them) and "mtime".
//   kExfatReformatted  kExfat formatted again by mkfs.exfat (new label).
//   kExfatLarge  5 GiB sparse exFAT card, 128 KiB clusters, with a deleted 3 GiB file
//           of zeros between two markers ("sparse_pattern") and a small deleted file.
//   kExfatSectors4k  kExfat with 4096-byte sectors: mkfs.exfat formats it through a
//           loop device of 4096-byte logical blocks (the tool takes the device's).
//
// Every volume holds the same tree: nested folders, 8.3 names, long names (some over
// 26 characters, some with non-ASCII letters), files of 0 and 1 bytes, exactly one
// cluster, one cluster + 1, many clusters and (not on kMbr) 2.5 and 3 MiB, deleted
// files, a deleted folder tree (/Old Projects) and live files; the .jpg, .png, .docx
// and .xlsx files are real JPEG, PNG and zip files of the exact size. Deletions come after
// every other write, so deleted files keep their clusters (and NTFS file records).
// /Frag holds the fragmentation cases: on FAT a hole of one cluster is refilled by a
// larger file that is then deleted (split on FAT12/FAT16, whose allocator fills the first
// free cluster; the hole's first owner is "overwritten"); on NTFS files grow after a
// neighbour was written, so their data lies in two runs ("Frag/grown in two steps.bin",
// deleted), and one starts resident and moves out of its record when it grows.
//
// Truth file (KIND.truth beside KIND.img; UTF-8, one record a line, tab-separated):
//   #sorvane-image-truth 1
//   volume  INDEX  FS  START_SECTOR  SECTOR_COUNT  CLUSTER_BYTES  [reformatted]
//   file    VOLUME  STATE  PATH  SIZE  SHA256  FLAGS
//   dir     VOLUME  STATE  PATH  0     -       FLAGS
// FS: fat12 / fat16 / fat32 / ntfs. Sectors are 512 bytes from the image's start.
// STATE: live / deleted. PATH: from the volume root, '/'-separated long names, no
// leading '/'. FLAGS: "-" or comma-separated NAME or NAME=VALUE:
//   short=NAME.EXT      FAT 8.3 name, stored in code page 437 ("GRÜßEA~1.MP3")
//   first_cluster=N     first cluster (NTFS: first LCN of the data); clusters=N their count
//   fragmented          the clusters are not one ascending run
//   overwritten         a later file took some of its clusters: the content is gone
//   in_deleted_folder   deleted together with its deleted folder
//   mft=N               NTFS file record; record_reused: a later entry took that record
//   resident, nonresident   where NTFS keeps the data
//   padding             live filler
//   intact              (reformatted volume) its clusters still hold exactly its bytes
//   record_intact       (reformatted NTFS) its file record still holds its name
//   format=jpeg|png|zip|mp4 the content is a well-formed file of that kind, so a carver can
//                       find its end; other files are random bytes (.mp3 and .mp4 after
//                       their magic number)
// Folders carry no size and no hash.
//
// Typical use:
//   testkit::TempDir dir;
//   SORVANE_BUILD_IMAGE_OR_SKIP(image, testkit::ImageKind::kFat32, dir.Path());
//   for (const auto& f : image.Deleted()) ... f.path, f.size, f.sha256, f.Has("fragmented")
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sorvane::testkit {

enum class ImageKind {
    kFat12,
    kFat16,
    kFat32,
    kNtfs,
    kNtfs64k,
    kNtfs1m,
    kFat32Sectors4k,
    kNtfsSectors4k,
    kMbr,
    kFat16Reformatted,
    kNtfsReformatted,
    kExfat,
    kExfatReformatted,
    kExfatLarge,
    kExfatSectors4k,
};

// "fat12", "fat16", "fat32", "ntfs", "ntfs-64k", "ntfs-1m", "fat32-4k", "ntfs-4k", "mbr",
// "fat16-reformatted", "ntfs-reformatted", "exfat", "exfat-reformatted", "exfat-large", "exfat-4k": the
// script's name of the kind.
const char* ImageKindName(ImageKind kind);

struct TruthVolume {
    int index = 0;
    std::string fileSystem;  // fat12, fat16, fat32, ntfs
    uint64_t startSector = 0;
    uint64_t sectorCount = 0;
    uint32_t clusterBytes = 0;
    bool reformatted = false;  // quick-formatted again after its files were written
};

struct TruthEntry {
    bool isDir = false;
    bool deleted = false;
    int volume = 0;
    std::string path;  // "Photos/DSC00042.JPG"
    uint64_t size = 0;
    std::string sha256;                        // lower-case hex; "-" for folders
    std::map<std::string, std::string> flags;  // NAME -> VALUE ("" for a bare NAME)

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
    // The flag's value as a number, or `fallback` when absent.
    uint64_t Number(const std::string& flag, uint64_t fallback = 0) const;
    // The last path element.
    std::string Name() const;
};

struct BuiltImage {
    std::filesystem::path image;
    std::filesystem::path truthFile;
    std::vector<TruthVolume> volumes;
    std::vector<TruthEntry> entries;
    // Set when a needed tool (python3, mkfs.fat, mtools, mkntfs, ntfs_edit, sfdisk) is
    // missing: the test should be skipped with this text.
    std::string skipReason;
    // Set when the build or the truth failed for any other reason.
    std::string error;

    bool Ok() const { return skipReason.empty() && error.empty(); }
    // Files (not folders) of one volume, by state.
    std::vector<TruthEntry> Deleted(int volume = 0) const;
    std::vector<TruthEntry> Live(int volume = 0) const;
    // The entry with this path on that volume, or nullptr.
    const TruthEntry* Find(const std::string& path, int volume = 0) const;
};

// Builds an image of `kind` into `dir` (which must exist) as dir/KIND.img with its truth.
// Takes well under a few seconds per kind.
BuiltImage BuildImage(ImageKind kind, const std::filesystem::path& dir);

// One image of each kind per test program, built on first use into a folder removed when
// the program ends. Only for tests that do not change the image.
const BuiltImage& SharedImage(ImageKind kind);

// Parses a truth file; on failure returns false with the reason in `error`.
bool ParseTruth(const std::string& text, std::vector<TruthVolume>& volumes, std::vector<TruthEntry>& entries,
                std::string& error);

// Read faults for one test: adds entries to FaultPlan::Instance() and empties the whole
// plan when it goes away, so a failing test cannot leave faults behind for the next one.
class ScopedFaults {
  public:
    ScopedFaults() = default;
    ~ScopedFaults();
    ScopedFaults(const ScopedFaults&) = delete;
    ScopedFaults& operator=(const ScopedFaults&) = delete;
    // Reads of sectors [first, last] of `image` fail with an I/O error.
    void Error(const std::filesystem::path& image, uint64_t first, uint64_t last, uint32_t sectorSize = 512);
    // Reads that reach sectors [first, last] stop before the first faulty byte.
    void Short(const std::filesystem::path& image, uint64_t first, uint64_t last, uint32_t sectorSize = 512);
    // Every read of `image` waits `milliseconds`: a scan that a test stops
    // midway must not be over before the test can stop it, however fast it gets.
    void Slow(const std::filesystem::path& image, uint32_t milliseconds);
};

}  // namespace sorvane::testkit

// Builds `kind` into `dir` as `var`; skips the test when a tool is missing and fails it
// when the build fails. Use inside a TEST body (returns from it).
#define SORVANE_BUILD_IMAGE_OR_SKIP(var, kind, dir)                                 \
    ::sorvane::testkit::BuiltImage var = ::sorvane::testkit::BuildImage(kind, dir); \
    if (!var.skipReason.empty()) GTEST_SKIP() << var.skipReason;                    \
    ASSERT_TRUE(var.error.empty()) << var.error

// The same with the per-program shared image; `var` is a const reference.
#define SORVANE_SHARED_IMAGE_OR_SKIP(var, kind)                                        \
    const ::sorvane::testkit::BuiltImage& var = ::sorvane::testkit::SharedImage(kind); \
    if (!var.skipReason.empty()) GTEST_SKIP() << var.skipReason;                       \
    ASSERT_TRUE(var.error.empty()) << var.error
