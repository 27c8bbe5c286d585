#include "engines/found_item_record.h"

#include "platform/text_encoding.h"

namespace sorvane {

std::string FoundItemRecord::Name() const { return NameFromField(name, kNameFieldSize); }

void FoundItemRecord::SetName(std::string_view text) { CopyNameField(name, kNameFieldSize, text); }

}  // namespace sorvane
