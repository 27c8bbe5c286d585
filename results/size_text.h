// How sizes read wherever the program shows them: two decimals and the
// largest binary unit that fits ("1.50 GB"), or whole bytes below 1 KB.
#pragma once

#include <cstdint>
#include <string>

namespace sorvane {

std::string FormatSizeText(uint64_t bytes);

}  // namespace sorvane
