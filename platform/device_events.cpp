#include "platform/device_events.h"

#include <cstring>
#include <string_view>

namespace sorvane {

bool ParseDeviceEvent(const uint8_t* data, size_t size, DeviceEvent& event) {
    event = DeviceEvent{};
    if (!data || size == 0) return false;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t headerEnd = all.find('\0');
    const std::string_view header = all.substr(0, headerEnd);
    if (header.find('@') == std::string_view::npos || header.rfind("libudev", 0) == 0) return false;
    if (headerEnd == std::string_view::npos) return false;
    size_t at = headerEnd + 1;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view field = all.substr(at, end - at);
        const size_t equals = field.find('=');
        if (equals != std::string_view::npos) {
            const std::string_view key = field.substr(0, equals);
            const std::string value(field.substr(equals + 1));
            if (key == "ACTION")
                event.action = value;
            else if (key == "SUBSYSTEM")
                event.subsystem = value;
            else if (key == "DEVNAME")
                event.devName = value;
            else if (key == "DEVTYPE")
                event.devType = value;
        }
        at = end + 1;
    }
    return !event.action.empty();
}

}  // namespace sorvane
