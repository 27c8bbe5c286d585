#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "device/disk_reader.h"
#include "fs/exfat_volume.h"
#include "platform/result_codes.h"

namespace sorvane::cli {

int RunClassify(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: sorvane classify TARGET\n", stderr);
        return 2;
    }
    DiskReader reader;
    int rc = OpenImageReader(args[0], reader);
    if (rc != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot open %s: %s\n", args[0].c_str(), ResultText(rc).c_str());
        return 1;
    }
    std::vector<uint8_t> head(16384);
    uint32_t got = 0;
    if (reader.totalSectors < 32 || ReadSectors(32, reader, head.data(), 0, 512, &got) != kSuccess) {
        std::fprintf(stderr, "sorvane: cannot read the first 16384 bytes of %s\n", args[0].c_str());
        return 1;
    }
    VolumeKind kind = ClassifyVolume(head.data(), head.size());
    ByteView boot(head.data(), 512);
    std::printf("target:      %s\n", args[0].c_str());
    std::printf("size:        %llu sectors of 512 bytes\n", static_cast<unsigned long long>(reader.totalSectors));
    std::printf("file system: %s", VolumeKindName(kind));
    if (kind == VolumeKind::kFat) std::printf(" (FAT%d)", FatBitsOfBootSector(head.data()));
    std::printf("\n");
    if (kind == VolumeKind::kFat || kind == VolumeKind::kNtfs) {
        std::printf("cluster:     %u bytes\n", unsigned(boot.U16(11)) * boot.U8(13));
    }
    if (kind == VolumeKind::kExfat) {
        ExfatVolume volume;
        ByteSource read = [&reader](uint64_t offset, uint8_t* buffer, size_t length) {
            size_t got = 0;
            return reader.handle.ReadAt(offset, buffer, length, got) == kSuccess && got == length;
        };
        if (volume.Open(read)) {
            volume.ReadRoot();
            std::printf("cluster:     %u bytes\n", volume.Geometry().ClusterBytes());
            if (!volume.Label().empty()) std::printf("label:       %s\n", volume.Label().c_str());
            if (volume.BootChoice() == ExfatBootChoice::kBackup)
                std::printf("note:        the main boot region is damaged; its backup copy was read\n");
        }
    }
    if (HasDamagedExfatBootRegion(head.data(), head.size()))
        std::printf("note:        this volume is exFAT with a damaged boot region; the deep scan will search its "
                    "contents\n");
    return 0;
}

}  // namespace sorvane::cli
