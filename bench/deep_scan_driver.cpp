// Runs one deep scan of an image the way the program does and prints what it
// found and how long the scan took. Used by deep_scan_bench.sh when no
// command-line program is given, and to profile the pass on its own.
//
// usage: deep_scan_driver IMAGE
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engines/engine_factory.h"
#include "engines/professional_recovery.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 2;
    }
    sorvane::CProfessionalRecovery engine;
    int rc = OpenOnImage(engine, argv[1], 1);
    if (rc != 0) {
        std::fprintf(stderr, "cannot open %s: %d\n", argv[1], rc);
        return 1;
    }
    if (engine.HasResumeRecord()) engine.DeclineResume();
    auto t0 = std::chrono::steady_clock::now();
    rc = engine.Scan(nullptr);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("result %d  sectors %llu  found %llu  %.3f s  %.1f MiB/s\n", rc,
                static_cast<unsigned long long>(engine.SectorsDone()),
                static_cast<unsigned long long>(engine.GetFoundCount()), seconds,
                engine.SectorsDone() * 512.0 / 1048576.0 / seconds);
    return rc == 0 ? 0 : 1;
}
