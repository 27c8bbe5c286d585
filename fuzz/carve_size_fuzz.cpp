// The size finders over a fuzzed image: identification and measurement of
// the file at sector 0, then every row's size finder run directly on the
// first sector, so walks, footer searches, header fields, allocation-table
// chains and directory reads all meet hostile bytes.
#include <cstdint>
#include <string>

#include "carving/carved_file_measure.h"
#include "carving/file_signature.h"
#include "fuzz/carve_fuzz_support.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    DiskReader reader;
    if (!fuzzing::OpenFuzzImage(data, size, 2, reader)) return 0;
    std::vector<uint8_t> first(512, 0);
    std::copy(data, data + std::min<size_t>(size, 512), first.begin());

    CarveJob job = fuzzing::PrepareJob(&reader, 0, false);
    CarveRequest request;
    request.reader = &reader;
    request.buffer = first.data();
    request.length = first.size();
    request.totalSectors = reader.totalSectors;
    CarvedFile found;
    IdentifyFileAt(job, request, found);

    for (size_t r = 0; r < kFileSignatureRowCount; ++r) {
        const FileSignatureRow& row = FileSignatureTable[r];
        if (!row.findSize || (r > 0 && row.findSize == FileSignatureTable[r - 1].findSize)) continue;
        CarveJob rowJob = fuzzing::PrepareJob(&reader, 0, false);
        row.findSize(rowJob, first.data(), first.size());
    }
    reader.Close();
    return 0;
}
