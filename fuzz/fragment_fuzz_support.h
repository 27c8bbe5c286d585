// The input of a fragment-check fuzzer as a file: its first byte picks how
// short the source's views are, the rest is the file the check reads.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "carving/fragment_check.h"
#include "fuzz/metadata_fuzz_support.h"

namespace sorvane::fuzzing {

// Runs `check` over the input; its verdict must keep the checks' promises.
template <class Check>
int FuzzFragmentCheck(const uint8_t* data, size_t size, Check check) {
    if (size == 0) return 0;
    const size_t piece = data[0] & 0x80 ? 1 + (data[0] & 0x7F) : 65536;
    PiecedSource source(data + 1, size - 1, piece);
    const FragmentVerdict v = check(source);
    const uint64_t length = size - 1;
    // Nothing past the file is proven, "valid" reaches its last byte, and a
    // wrong byte is placed in a range that holds one.
    if (v.offset > length || v.end > length) std::abort();
    if (v.Valid() && v.offset != length) std::abort();
    if (v.check == FragmentCheck::kInvalidAt && v.end != 0 && v.end <= v.offset && v.offset < length)
        std::abort();
    return 0;
}

}  // namespace sorvane::fuzzing
