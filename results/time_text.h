// How a remaining time reads in the progress of a scan: "%d Hour %d Min",
// "%d Min %d Sec" or "%d Sec".
#pragma once

#include <cstdint>
#include <string>

namespace sorvane {

std::string RemainingTimeText(int64_t seconds);

}  // namespace sorvane
