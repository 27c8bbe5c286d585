// Any bytes arriving on the device-event socket: the parser stays inside them
// and only reports an event that has an action.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/device_events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sorvane::DeviceEvent event;
    if (sorvane::ParseDeviceEvent(data, size, event) && event.action.empty()) std::abort();
    if (event.action.size() > size || event.devName.size() > size) std::abort();
    return 0;
}
