#include "engines/fast_ext_recovery.h"

namespace sorvane {

int CFastExtRecovery::OpenPartition(int driveIndex, uint64_t partitionStart, uint64_t partitionSectors,
                                    uint16_t letter) {
    partitionStart_ = partitionStart;
    partitionSectors_ = partitionSectors;
    letter_ = letter;
    return OpenPhysicalDriveReader(reader_, driveIndex);
}

}  // namespace sorvane
