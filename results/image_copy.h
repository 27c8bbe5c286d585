// Copying a disk, or a range of its sectors, into a raw image file: no header,
// no compression, the sectors in disk order. The image can later be scanned
// instead of the disk. The source is only ever read.
//
// Also the checks a destination must pass before a copy starts, each with the
// identifier of the message that explains a refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device/bad_sector_map.h"
#include "device/disk_reader.h"
#include "device/disk_volume_list.h"
#include "platform/file_handle.h"

namespace sorvane {

inline constexpr size_t kImageCopyChunk = 65536;

// Called after every chunk: percent of the copy, sectors done and in all, and
// the seconds left (-1 until the first estimate, made after 5 seconds). A
// non-zero answer (kCancelCode when the user cancelled) stops the copy.
using ImageCopyProgressCallback = int (*)(void* userData, int percent, uint64_t sectorsDone,
                                          uint64_t sectorsTotal, int64_t secondsLeft);

struct ImageCopyJob {
    uint32_t bytesPerSector = 512;  // the disk's, once opened
    uint64_t startSector = 0;       // first sector copied
    uint64_t sectorCount = 0;       // sectors to copy; 0 asks for the whole disk
    DiskReader disk;
    FileHandle image;
    ImageCopyProgressCallback progress = nullptr;  // set by the caller; may be null
    void* userData = nullptr;
    // Filled in by RunImageCopy: sectors written to the image, and when it
    // returned 30, the disk sector whose read failed.
    uint64_t sectorsCopied = 0;
    uint64_t failedSector = 0;
    // With keepGoing an unreadable chunk is read again sector by sector; the
    // sectors that stay unreadable are written as zeros, the copy goes on, and
    // they are tried once more at the end. `unreadable` then holds them, in
    // sectors from the image's start.
    bool keepGoing = false;
    BadSectorMap unreadable;
};

// Opens drive `diskNumber` (read-only) and creates the image file, emptying one
// that exists. A count of 0 means from `startSector` to the end of the disk.
// Returns 0; 87 when the range passes the end of the disk or holds nothing;
// 5 when the image path is the source itself or not an ordinary file; else the
// result code of the failed open.
int OpenImageCopyJob(ImageCopyJob& job, const std::filesystem::path& imagePath, int diskNumber,
                     uint64_t startSector, uint64_t sectorCount, void* userData);

// Opens the job, copies in 64 KiB chunks and closes both files in every case.
// Returns 0 when the image is complete and flushed; the callback's non-zero
// answer when it stopped the copy; 30 when a chunk could not be read (without
// keepGoing that chunk is not written and job.failedSector says where; with
// it the image is complete, zeros where job.unreadable says); else the result
// code of the failed open or write. A stopped or failed copy leaves the
// partial image.
int RunImageCopy(ImageCopyJob& job, int diskNumber, uint64_t startSector, uint64_t sectorCount,
                 const std::filesystem::path& imagePath, void* userData);

// The list of unreadable sectors kept beside an image: "IMAGE.bad-sectors.txt".
std::filesystem::path UnreadableMapPath(const std::filesystem::path& imagePath);
// Writes the sectors a keep-going copy filled with zeros ("FIRST COUNT" lines,
// image sectors, BadSectorMap::MapText) to `mapPath`, which must not exist.
// Returns 0 or the result code.
int SaveUnreadableMap(const BadSectorMap& unreadable, uint32_t sectorSize, const std::string& sourceText,
                      const std::filesystem::path& mapPath);

// True when writing `imagePath` would write into drive `diskNumber` itself (its
// node, or for an image drive the image file).
bool IsImageSource(const std::filesystem::path& imagePath, int diskNumber);

enum class ImageDestinationVerdict {
    kAccepted,
    kOnImagedVolume,  // the image would be written onto what is being imaged
    kFat32TooLarge,   // FAT32 holds no file of 4 GiB or more
    kFatTooLarge,     // FAT12/16 destinations take at most 2 GiB
    kNotEnoughSpace,  // free space known and not larger than the image
};

// "MSG0218", "MSG0220", "MSG0219", "MSG0221", or "" when accepted.
const char* MessageIdOf(ImageDestinationVerdict verdict);

// Checks, in this order, that the folder of `imagePath` does not lie on any of
// `imagedDevices`, that its file system can hold a file of `imageBytes`, and
// that it has more free space than that. A folder that cannot be asked about
// is accepted here; creating the image then reports the real reason.
ImageDestinationVerdict CheckImageDestination(const std::filesystem::path& imagePath,
                                              const std::vector<uint64_t>& imagedDevices,
                                              uint64_t imageBytes);

// The file-system name of the mounted file system holding `folder` ("FAT32",
// "FAT", "NTFS", "exFAT", "ext4", ...), or "" when it is not in the mount table.
std::string FileSystemNameOfFolder(const std::filesystem::path& folder);

// What an image of a partition (or, when `partition` is null, of disk
// `diskNumber`) must not be written onto: the partition's device, or the
// disk's and all its partitions'.
std::vector<uint64_t> ImagedDeviceNumbers(const VolumeEntry* partition, int diskNumber);
// Bytes the image will hold: the partition's sectors, or the disk's length.
uint64_t ImageSizeOf(const VolumeEntry* partition, int diskNumber);
// The file name offered for the image (without extension): "3 (FAT32, 1.50 GB)"
// for a numbered partition, "Physical Disk 1" for disk 0.
std::string ProposedImageName(const VolumeEntry* partition, int diskNumber);

}  // namespace sorvane
