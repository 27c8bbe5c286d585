// The Office and OpenDocument metadata reader (and its zip reader) on any bytes, pieced in any way.
#include "fuzz/metadata_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return sorvane::fuzzing::FuzzMetadataReader(
        data, size, [](sorvane::FileByteSource& source, sorvane::FileMetadata& m) {
            sorvane::ReadOfficeMetadata(source, m);
        });
}
