#include <time.h>

#include "platform/file_time.h"

namespace sorvane {

std::tm LocalTimeOf(std::time_t instant) {
    std::tm local{};
    ::localtime_r(&instant, &local);
    return local;
}

}  // namespace sorvane
