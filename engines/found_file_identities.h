// The files one engine found, by what makes two records the same file: the
// data they start at and their size for FAT records (for files without data,
// which all start nowhere, the sector of their entry and their name), and the
// file record they came from for NTFS records. The deep scan's coordinator lists a file that a deep
// engine found again, after the quick engine, only once: the quick engine's
// record, which knows the file's folder, name and times best.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "results/found_item_record.h"

namespace sorvane {

class FoundFileIdentities {
  public:
    explicit FoundFileIdentities(uint32_t sectorSize) : sectorSize_(sectorSize) {}

    void Add(const FoundItemRecord& record);
    // True when a record of the same file was added; false for folders and
    // for records no file-system engine made.
    bool Contains(const FoundItemRecord& record) const;
    size_t Size() const { return identities_.size(); }

  private:
    // Empty when the record has no identity (a folder, a carved file).
    // `locationShift` moves the entry's sector of a file without data.
    std::string IdentityOf(const FoundItemRecord& record, uint64_t locationShift = 0) const;

    uint32_t sectorSize_;
    std::unordered_set<std::string> identities_;
};

}  // namespace sorvane
