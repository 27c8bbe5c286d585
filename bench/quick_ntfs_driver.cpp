// Runs one quick NTFS scan of an image and, with --list, prints the folder
// path of every deleted file found, as `fls -r -d` does, by browsing the
// results folder by folder as the windows do. Used by quick_ntfs_bench.sh to
// time the engine on its own.
//
// usage: quick_ntfs_driver IMAGE [--list]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "engines/engine_factory.h"
#include "engines/fast_ntfs_recovery.h"
#include "results/scan_resume_store.h"

namespace {

size_t ListFolder(sorvane::CFastNtfsRecovery& engine, const sorvane::FoundItemRecord* folder, uint32_t level,
                  const std::string& prefix) {
    if (level > 4096) return 0;
    sorvane::FoundItemList children;
    if (engine.ListChildren(folder, level, children) != 0) std::fprintf(stderr, "a listing failed\n");
    size_t listed = 0;
    for (const sorvane::FoundItemRecord& child : children) {
        std::string path = prefix + child.Name();
        if (child.IsFolder()) {
            listed += ListFolder(engine, &child, level + 1, path + "/");
        } else {
            std::printf("%s\n", path.c_str());
            ++listed;
        }
    }
    return listed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE [--list]\n", argv[0]);
        return 2;
    }
    bool list = argc > 2 && std::strcmp(argv[2], "--list") == 0;
    sorvane::CScanResumeStore::Instance().NewScanFolder();
    sorvane::CFastNtfsRecovery engine;
    int rc = OpenOnImage(engine, argv[1], 1);
    if (rc != 0) {
        std::fprintf(stderr, "cannot open %s: %d\n", argv[1], rc);
        return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    rc = engine.Scan(nullptr);
    double scanSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    size_t listed = 0;
    if (list) listed = ListFolder(engine, nullptr, 0, "");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fprintf(stderr, "result %d  MFT records %llu  found %llu  listed %zu  scan %.3f s  total %.3f s\n",
                 rc, static_cast<unsigned long long>(engine.MftRecordCount()),
                 static_cast<unsigned long long>(engine.GetFoundCount()), listed, scanSeconds, seconds);
    return rc == 0 ? 0 : 1;
}
