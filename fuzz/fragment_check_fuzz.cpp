// The fragment checks on any bytes, pieced in any way: the first byte picks
// the check (PNG or ZIP) and how short the source's views are.
#include <cstdlib>

#include "carving/fragment_check.h"
#include "fuzz/metadata_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sorvane;
    if (size == 0) return 0;
    const size_t piece = data[0] & 0x40 ? 1 + (data[0] & 0x3F) : 32768;
    fuzzing::PiecedSource source(data + 1, size - 1, piece);
    const FragmentVerdict v = data[0] & 0x80 ? CheckZipFragments(source) : CheckPngFragments(source);
    // A check proves no byte past the file, and "valid" means valid to its last byte.
    if (v.offset > size - 1) std::abort();
    if (v.Valid() && v.offset != size - 1) std::abort();
    return 0;
}
