// FindBytes and FindBytesReverse over one 64 KiB chunk of random bytes (the size the
// deep scan reads at a time), against glibc's memmem over the same buffer in the same
// run. The reverse search has no libc counterpart; its reference is memmem doing the
// same amount of scanning (pattern absent, or found at the far end of the scan). A
// zero-filled buffer with a pattern that starts with zeros is the worst case for a
// search that looks for the first byte before comparing the rest.
#include <benchmark/benchmark.h>
#include <string.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "device/byte_search.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kPatternSize = 4;
constexpr size_t kPlantDistance = 64;  // bytes from the buffer's end (or start) to a planted pattern

struct Data {
    std::vector<uint8_t> buffer;
    uint8_t absent[kPatternSize];
    uint8_t nearEnd[kPatternSize];    // occurs only at kBufferSize - kPlantDistance
    uint8_t nearStart[kPatternSize];  // occurs only at kPlantDistance
};

bool Occurs(const std::vector<uint8_t>& buffer, const uint8_t* pattern) {
    return memmem(buffer.data(), buffer.size(), pattern, kPatternSize) != nullptr;
}

const Data& TestData() {
    static const Data data = [] {
        Data d;
        std::mt19937 rng(20240607);
        d.buffer.resize(kBufferSize);
        for (auto& b : d.buffer) b = static_cast<uint8_t>(rng());
        auto fresh = [&](uint8_t* pattern) {
            do {
                for (size_t i = 0; i < kPatternSize; ++i) pattern[i] = static_cast<uint8_t>(rng());
            } while (Occurs(d.buffer, pattern));
        };
        fresh(d.absent);
        fresh(d.nearEnd);
        fresh(d.nearStart);
        std::memcpy(&d.buffer[kBufferSize - kPlantDistance], d.nearEnd, kPatternSize);
        std::memcpy(&d.buffer[kPlantDistance], d.nearStart, kPatternSize);
        return d;
    }();
    return data;
}

void Check(benchmark::State& state, bool ok) {
    if (!ok) state.SkipWithError("search returned a wrong position");
}

void BM_FindBytes_Absent(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        auto pos = sorvane::FindBytes(d.buffer.size(), d.buffer.data(), d.absent, kPatternSize);
        benchmark::DoNotOptimize(pos);
    }
    Check(state, !sorvane::FindBytes(d.buffer.size(), d.buffer.data(), d.absent, kPatternSize));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_Memmem_Absent(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        void* hit = memmem(d.buffer.data(), d.buffer.size(), d.absent, kPatternSize);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_FindBytes_NearEnd(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        auto pos = sorvane::FindBytes(d.buffer.size(), d.buffer.data(), d.nearEnd, kPatternSize);
        benchmark::DoNotOptimize(pos);
    }
    Check(state, sorvane::FindBytes(d.buffer.size(), d.buffer.data(), d.nearEnd, kPatternSize) ==
                     kBufferSize - kPlantDistance);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_Memmem_NearEnd(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        void* hit = memmem(d.buffer.data(), d.buffer.size(), d.nearEnd, kPatternSize);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_FindBytesReverse_Absent(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        auto pos = sorvane::FindBytesReverse(d.buffer.size(), kPatternSize, d.buffer.data(), d.absent);
        benchmark::DoNotOptimize(pos);
    }
    Check(state, !sorvane::FindBytesReverse(d.buffer.size(), kPatternSize, d.buffer.data(), d.absent));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_FindBytesReverse_NearStart(benchmark::State& state) {
    const Data& d = TestData();
    for (auto _ : state) {
        auto pos = sorvane::FindBytesReverse(d.buffer.size(), kPatternSize, d.buffer.data(), d.nearStart);
        benchmark::DoNotOptimize(pos);
    }
    Check(state, sorvane::FindBytesReverse(d.buffer.size(), kPatternSize, d.buffer.data(), d.nearStart) ==
                     kPlantDistance);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

// Unused disk space is mostly zeros, and many signatures start with a zero byte: every
// position is then a first-byte candidate.
const std::vector<uint8_t>& ZeroBuffer() {
    static const std::vector<uint8_t> zeros(kBufferSize, 0);
    return zeros;
}
const uint8_t kZeroLedPattern[kPatternSize] = {0x00, 0x00, 0x01, 0xBA};

void BM_FindBytes_ZerosAbsent(benchmark::State& state) {
    const auto& zeros = ZeroBuffer();
    for (auto _ : state) {
        auto pos = sorvane::FindBytes(zeros.size(), zeros.data(), kZeroLedPattern, kPatternSize);
        benchmark::DoNotOptimize(pos);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_Memmem_ZerosAbsent(benchmark::State& state) {
    const auto& zeros = ZeroBuffer();
    for (auto _ : state) {
        void* hit = memmem(zeros.data(), zeros.size(), kZeroLedPattern, kPatternSize);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

void BM_FindBytesReverse_ZerosAbsent(benchmark::State& state) {
    const auto& zeros = ZeroBuffer();
    for (auto _ : state) {
        auto pos = sorvane::FindBytesReverse(zeros.size(), kPatternSize, zeros.data(), kZeroLedPattern);
        benchmark::DoNotOptimize(pos);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

}  // namespace

BENCHMARK(BM_FindBytes_Absent);
BENCHMARK(BM_Memmem_Absent);
BENCHMARK(BM_FindBytes_NearEnd);
BENCHMARK(BM_Memmem_NearEnd);
BENCHMARK(BM_FindBytesReverse_Absent);
BENCHMARK(BM_FindBytesReverse_NearStart);
BENCHMARK(BM_FindBytes_ZerosAbsent);
BENCHMARK(BM_Memmem_ZerosAbsent);
BENCHMARK(BM_FindBytesReverse_ZerosAbsent);

BENCHMARK_MAIN();
