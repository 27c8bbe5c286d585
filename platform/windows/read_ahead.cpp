#include "platform/read_ahead.h"

namespace sorvane {

// Windows reads ahead on its own for handles read in order, and drives are
// read around its cache; there is nothing to ask for.
void AdviseSequential(const FileHandle&) {}
bool AdviseWillNeed(const FileHandle&, uint64_t, uint64_t) { return false; }

}  // namespace sorvane
