// Names and times a person recognises for carved files, from what each file
// says of itself: photos and videos by the moment they were taken
// ("2023-07-14 15.42.07.jpg", " (2)" for a second one in the same second),
// songs as "Artist - Title.mp3", documents by their title. The numbered name
// the carver gives stays where the file says nothing usable. Texts read from
// a file are untrusted: they pass the safe-name rules, and one that leaves
// nothing but punctuation is not used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "carving/file_metadata.h"
#include "results/found_item_record.h"

namespace sorvane {

// The base name (no extension) that `metadata` gives a file of category
// `category` ("photo", "video", "audio", "document"; see CategoryFolderName);
// empty when it gives none.
std::string MetadataBaseName(const FileMetadata& metadata, std::string_view category);

// The names already given in one scan, so that two files never share one.
class CarvedNameBook {
  public:
    // `base` + "." + `extension`, or with " (2)", " (3)", ... before the dot
    // when that name was given already. Remembers the name it returns.
    std::string Take(const std::string& base, const std::string& extension);
    // Remembers a name given earlier (a resumed scan's records).
    void Remember(const std::string& fileName);
    void Clear() { used_.clear(); }

  private:
    std::unordered_set<std::string> used_;  // lower-case names given
};

// `record` (a carved file, numbered) renamed and dated from `metadata`: its
// name from MetadataBaseName (kept when that is empty) and its created and
// written times the moment the content was made (kept when unknown).
FoundItemRecord NamedFromMetadata(FoundItemRecord record, const FileMetadata& metadata,
                                  CarvedNameBook& names);

}  // namespace sorvane
