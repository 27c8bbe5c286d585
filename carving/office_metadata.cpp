#include <string>
#include <string_view>
#include <vector>

#include "carving/file_metadata.h"
#include "carving/zip_entry_reader.h"

namespace sorvane {
namespace {

// Larger than any real document-properties part.
constexpr size_t kMaxPropertiesBytes = 1u << 20;

}  // namespace

bool ReadOfficeMetadata(FileByteSource& file, FileMetadata& out) {
    std::vector<uint8_t> part;
    std::string_view title = "dc:title", created;
    if (ReadZipEntry(file, "docProps/core.xml", kMaxPropertiesBytes, part)) {
        created = "dcterms:created";
    } else if (ReadZipEntry(file, "meta.xml", kMaxPropertiesBytes, part)) {
        created = "meta:creation-date";
    } else {
        return false;
    }
    const std::string_view xml(reinterpret_cast<const char*>(part.data()), part.size());
    out.title = XmlElementText(xml, title);
    if (out.title.find_first_not_of(" \t\r\n") == std::string::npos) out.title.clear();
    ParseDateText(XmlElementText(xml, created), out);
    return !out.title.empty() || out.hasTime;
}

}  // namespace sorvane
