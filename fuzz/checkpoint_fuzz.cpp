// Treats arbitrary bytes as a deep scan's checkpoint file: the file's checks,
// the description of a log and the engines' saved state must stay inside the
// bytes and refuse what they cannot read, whatever the bytes claim. The
// payload is also read without the file's checks, as a damaged checkpoint
// that passed them would be.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engines/professional_exfat_recovery.h"
#include "engines/professional_fat_recovery.h"
#include "engines/professional_ntfs_recovery.h"
#include "results/scan_checkpoint.h"

using namespace sorvane;

namespace {

void ReadState(std::span<const uint8_t> payload) {
    CheckpointReader r(payload);
    LogCheckpoint log;
    static_cast<void>(ReadLogCheckpoint(r, log));
    CheckpointReader engines(payload);
    CProfessionalFatRecovery fat;
    CProfessionalNtfsRecovery ntfs;
    CProfessionalExfatRecovery exfat;
    if (fat.RestoreState(engines) && ntfs.RestoreState(engines))
        static_cast<void>(exfat.RestoreState(engines));
    // What was restored is written out and read back the same.
    CheckpointWriter w;
    fat.SaveState(w);
    CheckpointReader again(w.Data());
    CProfessionalFatRecovery copy;
    if (!copy.RestoreState(again) || !again.AtEnd()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    std::vector<uint8_t> payload;
    if (ParseCheckpointFile(bytes, payload) == 0) ReadState(payload);
    ReadState(bytes);
    return 0;
}
