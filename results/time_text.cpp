#include "results/time_text.h"

#include <cstdio>

namespace sorvane {

std::string RemainingTimeText(int64_t seconds) {
    char text[64];
    if (seconds > 3599) {
        int64_t hours = seconds / 3600;
        std::snprintf(text, sizeof text, "%d Hour %d Min", static_cast<int>(hours),
                      static_cast<int>((seconds - hours * 3600) / 60));
    } else if (seconds > 59) {
        std::snprintf(text, sizeof text, "%d Min %d Sec", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%d Sec", static_cast<int>(seconds));
    }
    return text;
}

}  // namespace sorvane
