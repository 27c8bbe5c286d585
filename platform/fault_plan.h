// Read-fault injection for tests and for rehearsing recovery on failing media.
// A plan names sectors of a file at which reads fail or come back short. It is
// empty unless a test fills it, or SORVANE_FAULT_PLAN is set for a program
// built for the tests (fault_plan_environment.cpp; never one that is
// installed), and an empty plan costs one relaxed atomic load per read.
//
// SORVANE_FAULT_PLAN format: entries separated by ';', each
//   PATH:SECTOR[-LAST]:KIND[:SECTORSIZE]
// KIND is "error" (the read fails with an I/O error), "short" (the read stops
// before the first faulty byte) or "slowN" (every read that touches the
// sectors takes N more milliseconds, as on a worn card). SECTORSIZE defaults to 512.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace sorvane {

enum class FaultKind { kError, kShort, kSlow };

// What happened to a planned file since its ranges were added: how often it
// was opened read-only, and how many reads touched a planned range.
struct FaultTally {
    uint64_t opens = 0;
    uint64_t reads = 0;
};

struct FaultDecision {
    bool fail = false;     // the read fails with EIO before returning anything
    size_t allowed = 0;    // otherwise: bytes the read may return (<= requested)
    uint32_t delayMs = 0;  // how long the read waits first
};

// Waits as long as the decision says; every reader calls it before reading.
void DelayRead(const FaultDecision& decision);

class FaultPlan {
  public:
    static FaultPlan& Instance();

    // Adds a fault over sectors [first, last] of the file at `path` (matched by
    // device and inode, so any name of the file works).
    void Add(const std::filesystem::path& path, uint64_t firstSector, uint64_t lastSector, FaultKind kind,
             uint32_t sectorSize = 512);
    // Makes every read touching sectors [first, last] wait `milliseconds`.
    void AddSlow(const std::filesystem::path& path, uint64_t firstSector, uint64_t lastSector,
                 uint32_t milliseconds, uint32_t sectorSize = 512);
    void Clear();
    // Parses a SORVANE_FAULT_PLAN text; returns false on a malformed entry.
    [[nodiscard]] bool Parse(const std::string& text);

    // What a read of `length` bytes at `offset` of the file with (dev, ino) may
    // do; a read that touches a planned range is counted.
    FaultDecision Decide(uint64_t dev, uint64_t ino, uint64_t offset, size_t length) const;
    // Counts an opening of the file with (dev, ino) when the plan names it.
    void NoteOpen(uint64_t dev, uint64_t ino) const;
    // The tally of the file at `path`; zeros when the plan does not name it.
    FaultTally Tally(const std::filesystem::path& path) const;
    bool Empty() const;

  private:
    FaultPlan();
};

}  // namespace sorvane
