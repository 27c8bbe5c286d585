#include "platform/fault_plan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_handle.h"
#include "platform/path_text.h"

namespace sorvane {
namespace {

struct FaultRange {
    uint64_t dev;
    uint64_t ino;
    uint64_t firstByte;
    uint64_t endByte;  // exclusive
    FaultKind kind;
    uint32_t delayMs = 0;
};

std::mutex gMutex;
std::vector<FaultRange> gRanges;
// Per planned file (dev, ino): opens and reads that touched a planned range.
std::vector<std::pair<std::pair<uint64_t, uint64_t>, FaultTally>> gTallies;

FaultTally& TallyOf(uint64_t dev, uint64_t ino) {
    for (auto& [file, tally] : gTallies)
        if (file.first == dev && file.second == ino) return tally;
    return gTallies.emplace_back(std::make_pair(dev, ino), FaultTally{}).second;
}
std::atomic<bool> gAny{false};

}  // namespace

FaultPlan::FaultPlan() = default;

FaultPlan& FaultPlan::Instance() {
    static FaultPlan plan;
    return plan;
}

void FaultPlan::Add(const std::filesystem::path& path, uint64_t firstSector, uint64_t lastSector,
                    FaultKind kind, uint32_t sectorSize) {
    uint64_t volume = 0, file = 0;
    if (!FileIdentityOf(path, volume, file) || lastSector < firstSector || sectorSize == 0) return;
    std::lock_guard lock(gMutex);
    gRanges.push_back({volume, file, firstSector * sectorSize, (lastSector + 1) * sectorSize, kind});
    TallyOf(volume, file) = FaultTally{};
    gAny.store(true, std::memory_order_relaxed);
}

void FaultPlan::AddSlow(const std::filesystem::path& path, uint64_t firstSector, uint64_t lastSector,
                        uint32_t milliseconds, uint32_t sectorSize) {
    uint64_t volume = 0, file = 0;
    if (!FileIdentityOf(path, volume, file) || lastSector < firstSector || sectorSize == 0) return;
    std::lock_guard lock(gMutex);
    gRanges.push_back({volume, file, firstSector * sectorSize, (lastSector + 1) * sectorSize,
                       FaultKind::kSlow, milliseconds});
    TallyOf(volume, file) = FaultTally{};
    gAny.store(true, std::memory_order_relaxed);
}

void DelayRead(const FaultDecision& decision) {
    if (decision.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(decision.delayMs));
}

void FaultPlan::Clear() {
    std::lock_guard lock(gMutex);
    gRanges.clear();
    gTallies.clear();
    gAny.store(false, std::memory_order_relaxed);
}

bool FaultPlan::Empty() const { return !gAny.load(std::memory_order_relaxed); }

bool FaultPlan::Parse(const std::string& text) {
    size_t pos = 0;
    bool ok = true;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        std::string entry = text.substr(pos, end - pos);
        pos = end + 1;
        if (entry.empty()) continue;
        // Split from the right: the path itself may hold ':'.
        std::vector<std::string> fields;
        std::string rest = entry;
        for (int i = 0; i < 3; ++i) {
            size_t c = rest.rfind(':');
            if (c == std::string::npos) break;
            fields.insert(fields.begin(), rest.substr(c + 1));
            rest.resize(c);
        }
        fields.insert(fields.begin(), rest);
        uint32_t sectorSize = 512;
        // PATH:RANGE:KIND has 3 fields; with SECTORSIZE 4, unless the path held a ':'.
        auto isKind = [](const std::string& word) {
            return word == "error" || word == "short" || word.rfind("slow", 0) == 0;
        };
        if (fields.size() == 4 && !isKind(fields[3])) {
            sectorSize = static_cast<uint32_t>(std::strtoul(fields[3].c_str(), nullptr, 10));
            fields.pop_back();
        } else if (fields.size() == 4) {
            fields[0] += ":" + fields[1];
            fields.erase(fields.begin() + 1);
        }
        if (fields.size() != 3 || !isKind(fields[2])) {
            ok = false;
            continue;
        }
        const std::string& range = fields[1];
        char* next = nullptr;
        uint64_t first = std::strtoull(range.c_str(), &next, 10);
        uint64_t last = first;
        if (next && *next == '-') last = std::strtoull(next + 1, nullptr, 10);
        if (fields[2].rfind("slow", 0) == 0) {
            const std::string digits = fields[2].substr(4);
            if (digits.empty() || digits.size() > 5 ||
                digits.find_first_not_of("0123456789") != std::string::npos) {
                ok = false;
                continue;
            }
            AddSlow(PathFromUtf8(fields[0]), first, last, static_cast<uint32_t>(std::stoul(digits)),
                    sectorSize);
            continue;
        }
        Add(PathFromUtf8(fields[0]), first, last,
            fields[2] == "error" ? FaultKind::kError : FaultKind::kShort, sectorSize);
    }
    return ok;
}

FaultDecision FaultPlan::Decide(uint64_t dev, uint64_t ino, uint64_t offset, size_t length) const {
    FaultDecision decision{false, length};
    std::lock_guard lock(gMutex);
    bool touched = false;
    for (const FaultRange& r : gRanges) {
        if (r.dev != dev || r.ino != ino) continue;
        if (r.endByte <= offset || r.firstByte >= offset + length) continue;
        if (!touched) ++TallyOf(dev, ino).reads;
        touched = true;
        if (r.kind == FaultKind::kSlow) {
            decision.delayMs = std::max(decision.delayMs, r.delayMs);
            continue;
        }
        if (r.kind == FaultKind::kError && r.firstByte <= offset) {
            decision.fail = true;
            return decision;
        }
        // A read that starts before the faulty bytes returns what lies before them.
        size_t before = r.firstByte > offset ? static_cast<size_t>(r.firstByte - offset) : 0;
        if (before < decision.allowed) decision.allowed = before;
    }
    return decision;
}

void FaultPlan::NoteOpen(uint64_t dev, uint64_t ino) const {
    std::lock_guard lock(gMutex);
    for (const FaultRange& r : gRanges)
        if (r.dev == dev && r.ino == ino) {
            ++TallyOf(dev, ino).opens;
            return;
        }
}

FaultTally FaultPlan::Tally(const std::filesystem::path& path) const {
    uint64_t volume = 0, file = 0;
    if (!FileIdentityOf(path, volume, file)) return {};
    std::lock_guard lock(gMutex);
    for (const auto& [id, tally] : gTallies)
        if (id.first == volume && id.second == file) return tally;
    return {};
}

}  // namespace sorvane
