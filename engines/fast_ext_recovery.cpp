#include "engines/fast_ext_recovery.h"

namespace sorvane {

EngineStatus CFastExtRecovery::Open(const ScanSource& source) {
    partitionStart_ = source.start;
    partitionSectors_ = source.length;
    letter_ = source.letter;
    return 0;
}

}  // namespace sorvane
