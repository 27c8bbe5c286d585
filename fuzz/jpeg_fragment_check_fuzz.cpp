// The JPEG fragment check on any bytes: the first byte picks how short the
// source's views are, the rest is the picture.
#include "fuzz/fragment_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return sorvane::fuzzing::FuzzFragmentCheck(data, size, sorvane::CheckJpegFragments);
}
