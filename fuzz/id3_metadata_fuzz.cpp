// The ID3 reader on any bytes, pieced in any way.
#include "fuzz/metadata_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return sorvane::fuzzing::FuzzMetadataReader(
        data, size, [](sorvane::FileByteSource& source, sorvane::FileMetadata& m) {
            sorvane::ReadId3Metadata(source, m);
        });
}
