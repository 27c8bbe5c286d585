// Shared set-up of the deep-engine fuzzers: the fuzzed bytes become both the
// sectors handed to an engine and the image the engine reads back from, so
// the reads the engines make (parents, subdirectories, content checks) see
// hostile data too. Scan logs go to a scratch folder that is emptied per run.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "results/scan_resume_store.h"

namespace sorvane::fuzzing {

inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path d = std::filesystem::temp_directory_path() /
                                  ("sorvane-deep-fuzz-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(d);
        setenv("SORVANE_DATA_DIR", (d / "data").c_str(), 1);
        return d;
    }();
    return dir;
}

// Writes the input as an image of at least `minimum` bytes (zeros after it).
inline std::filesystem::path WriteImage(const uint8_t* data, size_t size, size_t minimum) {
    std::filesystem::path image = ScratchDir() / "image.img";
    std::vector<char> bytes(data, data + size);
    if (bytes.size() < minimum) bytes.resize(minimum, 0);
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return image;
}

// A fresh scan folder for each run, so logs never grow across runs.
inline void FreshScanFolder() {
    std::error_code ec;
    std::filesystem::remove_all(ScratchDir() / "data", ec);
    CScanResumeStore::ResetInstanceForTests();
    CScanResumeStore::Instance().NewScanFolder();
}

}  // namespace sorvane::fuzzing
