// Helpers shared by the quick FAT engine tests: a private scan-log folder,
// walking every result of an engine, and The Sleuth Kit as the reference.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engines/file_recovery_parse.h"
#include "engines/fragment_search_budget.h"
#include "tests/testkit/testkit.h"

namespace sorvane::fattest {

// Points the per-user data folder at a temporary folder and starts a new scan
// folder there for the life of the object.
class ScanFolder {
  public:
    ScanFolder();
    ~ScanFolder();
    const std::filesystem::path& Path() const { return dir_.Path(); }

  private:
    testkit::ScopedDataDir dir_;
};

struct FoundEntry {
    std::string path;  // folder path and name, '/'-separated
    FoundItemRecord record;
};

// Every record an engine lists, walking its folders from the root.
std::vector<FoundEntry> AllRecords(IFileRecoveryParse& engine);

// Deleted regular files as `fls -r -d -p` lists them: normalised path -> inode.
// Paths are normalised by NormalisedPath.
std::map<std::string, std::string> FlsDeletedFiles(const std::filesystem::path& image, uint64_t offset);
// The SHA-256 of what `icat` extracts for an inode ("" when it fails).
std::string IcatSha256(const std::filesystem::path& image, uint64_t offset, const std::string& inode);
// A path made comparable across tools: each name lower-cased without its first
// character (the one a deleted 8.3 entry loses).
std::string NormalisedPath(const std::string& path);
// True when `found` is how a deleted FAT entry named `original` may be shown:
// the long name itself, the 8.3 name in lower case, or, for a name that fits
// 8.3, its lower-case form with the first letter replaced by "!".
bool NameMatches(const std::string& found, const std::string& original, bool deleted);
bool PathMatches(const std::string& found, const std::string& original, bool deleted);

// Recovers `record` into `file` and returns the SHA-256 of the result.
std::string RecoverSha256(IFileRecoveryParse& engine, const FoundItemRecord& record,
                          const std::filesystem::path& file, int* result = nullptr);

// While it lives, the searches that put fragmented files back together have
// all the time they need: a test's answer must not depend on how fast the
// machine (or a sanitizer build) is.
class UnhurriedSearches {
  public:
    UnhurriedSearches() { FragmentSearchTimeShare() = {std::chrono::minutes(10), std::chrono::minutes(10)}; }
    ~UnhurriedSearches() { FragmentSearchTimeShare() = saved_; }
    UnhurriedSearches(const UnhurriedSearches&) = delete;
    UnhurriedSearches& operator=(const UnhurriedSearches&) = delete;

  private:
    FragmentSearchTime saved_ = FragmentSearchTimeShare();
};

}  // namespace sorvane::fattest
