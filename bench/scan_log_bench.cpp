// Scan-log reads against reading the same record file plainly, in one run:
// - FindByExtension over a log of 1,000,000 records;
// - ReadChildren of a folder of 100,000 records, both when the folder's
//   records lie together and when they are spread over the 1,000,000-record
//   log (every tenth record, as a deep scan interleaves them), and the
//   one-seek-per-record read of the same list as a second reference.
// References: `cat` of the record file (a process start included) and a plain
// sequential read of it in 1 MiB pieces in this process. All files are in the
// page cache after the first pass, for the log reads and the references alike.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/file_handle.h"
#include "results/file_categories.h"
#include "results/result_order.h"
#include "results/scan_log.h"

namespace sorvane {
namespace {

constexpr uint32_t kBigRecords = 1000000;
constexpr uint32_t kFolderRecords = 100000;
constexpr RelationKey kSpreadFolder = MakeRelationKey(77, 1);
constexpr RelationKey kDenseFolder = MakeRelationKey(78, 1);

const char* const kNames[] = {"IMG_%07u.jpg", "song%u.mp3", "report%u.doc", "notes%u.txt",
                              "data%u.qqq",   "README%u",   "clip%u.MP4",   "archive%u.zip"};

struct Logs {
    std::filesystem::path folder;
    CScanLog big;    // 1,000,000 records; every tenth one in kSpreadFolder
    CScanLog dense;  // 100,000 records, all in kDenseFolder

    Logs() {
        std::random_device rd;
        folder = std::filesystem::temp_directory_path() / ("sorvane-bench-" + std::to_string(rd()));
        Fill(big, "big", kBigRecords,
             [](uint32_t n) { return n % 10 == 0 ? kSpreadFolder : MakeRelationKey(n / 1000, 1); });
        Fill(dense, "dense", kFolderRecords, [](uint32_t) { return kDenseFolder; });
    }
    ~Logs() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    template <typename Parent>
    void Fill(CScanLog& log, const char* name, uint32_t records, Parent parent) {
        if (log.OpenIn(folder, name) != 0) std::abort();
        std::mt19937 random(7);
        char text[64];
        for (uint32_t i = 1; i <= records; ++i) {
            FoundItemRecord* r = log.AppendRecord();
            uint32_t pick = random() % 8;
            std::snprintf(text, sizeof text, kNames[pick], random() % 1000000);
            r->SetName(text);
            r->size = random();
            r->contentCheck = random() % 50 == 0 ? 0 : 1;
            log.AddChild(parent(i), i, 0, nullptr);
        }
        if (log.Flush() != 0) std::abort();
    }
};

Logs& TheLogs() {
    static Logs logs;
    return logs;
}

void Cat(benchmark::State& state, const std::filesystem::path& file) {
    std::string command = "cat '" + file.string() + "' > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(file));
}

void SequentialRead(benchmark::State& state, const std::filesystem::path& file) {
    std::vector<uint8_t> piece(1 << 20);
    for (auto _ : state) {
        FileHandle handle;
        if (OpenReadOnly(file, handle) != 0) state.SkipWithError("open failed");
        uint64_t offset = 0;
        size_t got = 0;
        while (handle.ReadAt(offset, piece.data(), piece.size(), got) == 0 && got > 0) offset += got;
        benchmark::DoNotOptimize(offset);
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(file));
}

void BM_CatBigRecordFile(benchmark::State& state) { Cat(state, TheLogs().big.RecordPath()); }
void BM_SequentialReadBigRecordFile(benchmark::State& state) {
    SequentialRead(state, TheLogs().big.RecordPath());
}
void BM_CatDenseRecordFile(benchmark::State& state) { Cat(state, TheLogs().dense.RecordPath()); }
void BM_SequentialReadDenseRecordFile(benchmark::State& state) {
    SequentialRead(state, TheLogs().dense.RecordPath());
}

void BM_FindByExtensionPhotos(benchmark::State& state) {
    CScanLog& log = TheLogs().big;
    const std::string pattern(kPhotoExtensions);
    size_t found = 0;
    for (auto _ : state) {
        std::vector<FoundItemRecord> out;
        if (log.FindByExtension(pattern, out) != 1) std::abort();
        found = out.size();
    }
    state.counters["found"] = static_cast<double>(found);
}

void BM_FindByExtensionAllAndOther(benchmark::State& state) {
    CScanLog& log = TheLogs().big;
    const std::string pattern = AllCategoriesPattern() + "|*.other";
    size_t found = 0;
    for (auto _ : state) {
        std::vector<FoundItemRecord> out;
        if (log.FindByExtension(pattern, out) != 1) std::abort();
        found = out.size();
    }
    state.counters["found"] = static_cast<double>(found);
}

void ReadChildren(benchmark::State& state, CScanLog& log, RelationKey key) {
    size_t listed = 0;
    for (auto _ : state) {
        std::vector<FoundItemRecord> out;
        if (log.ReadChildren(key, out) != 0) state.SkipWithError("read failed");
        listed = out.size();
    }
    state.counters["listed"] = static_cast<double>(listed);
}

// The listing as one positioned read per child, for comparison.
void ReadChildrenOneSeekEach(benchmark::State& state, CScanLog& log, RelationKey key) {
    const std::vector<uint32_t>& numbers = log.Children().at(key);
    size_t listed = 0;
    for (auto _ : state) {
        std::vector<FoundItemRecord> out;
        FoundItemRecord r;
        for (uint32_t n : numbers) {
            if (log.ReadRecord(n, r) != 0) state.SkipWithError("read failed");
            if (!r.IsFolder() && r.contentCheck == 0 && IsPhotoExtension(LowerExtension(r.Name()))) continue;
            out.push_back(r);
        }
        SortResultList(out);
        listed = out.size();
    }
    state.counters["listed"] = static_cast<double>(listed);
}

void BM_ReadChildrenSpread(benchmark::State& state) { ReadChildren(state, TheLogs().big, kSpreadFolder); }
void BM_ReadChildrenSpreadOneSeekEach(benchmark::State& state) {
    ReadChildrenOneSeekEach(state, TheLogs().big, kSpreadFolder);
}
void BM_ReadChildrenDense(benchmark::State& state) { ReadChildren(state, TheLogs().dense, kDenseFolder); }
void BM_ReadChildrenDenseOneSeekEach(benchmark::State& state) {
    ReadChildrenOneSeekEach(state, TheLogs().dense, kDenseFolder);
}

BENCHMARK(BM_CatBigRecordFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialReadBigRecordFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindByExtensionPhotos)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindByExtensionAllAndOther)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChildrenSpread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChildrenSpreadOneSeekEach)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatDenseRecordFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialReadDenseRecordFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChildrenDense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChildrenDenseOneSeekEach)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sorvane

BENCHMARK_MAIN();
