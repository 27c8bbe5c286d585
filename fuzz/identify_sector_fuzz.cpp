// Identification of one sector by every recogniser. The first 512 bytes are
// the sector; the whole input is also the disk that the compound-file, Office
// Open XML and transport-stream rules read. The fast first-byte dispatch must
// agree with trying every row in table order.
#include <cstdint>
#include <cstdlib>

#include "carving/carved_file_measure.h"
#include "carving/file_signature.h"
#include "fuzz/carve_fuzz_support.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiskReader reader;
    if (!fuzzing::OpenFuzzImage(data, size, 1, reader)) return 0;
    std::vector<uint8_t> sector(data, data + std::min<size_t>(size, 512));
    bool inStream = size > 0 && (data[size - 1] & 1);
    const CarveJob job = fuzzing::PrepareJob(&reader, 0, inStream);
    // Exact-length buffers so a read past a short sector is caught.
    FileTypeCode slow =
        RecogniseSectorInTableOrder(job, sector.empty() ? nullptr : sector.data(), sector.size());
    FileTypeCode fast = RecogniseSector(job, sector.empty() ? nullptr : sector.data(), sector.size());
    if (slow != fast) std::abort();
    if (AnyRecogniserAccepts(job, sector.data(), sector.size(), false) != (slow != kTypeNotRecognised))
        std::abort();
    for (size_t r = 0; r < kFileSignatureRowCount; ++r)
        MatchesExtension(sector.data(), sector.size(), FileSignatureTable[r].extension, &reader, 512, 0);
    if (sector.size() == 512) IsFileSystemMetadataSector(sector.data(), 512);
    reader.Close();
    return 0;
}
