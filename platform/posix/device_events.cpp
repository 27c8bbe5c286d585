#include "platform/device_events.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "platform/system_root.h"

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

DeviceEventSocket::~DeviceEventSocket() {
    if (fd_ >= 0) ::close(fd_);
}

bool DeviceEventSocket::Open() {
    if (fd_ >= 0) return true;
    fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd_ < 0) return false;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own broadcasts
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

std::vector<DeviceEvent> DeviceEventSocket::ReadPending() {
    std::vector<DeviceEvent> events;
    if (fd_ < 0) return events;
    uint8_t buffer[8192];
    for (;;) {
        sockaddr_nl sender{};
        iovec part{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t got = ::recvmsg(fd_, &message, 0);
        if (got <= 0) break;
        // Anyone may send to this group; only the kernel (port 0) is believed.
        if (sender.nl_pid != 0 || (message.msg_flags & MSG_TRUNC)) continue;
        DeviceEvent event;
        if (ParseDeviceEvent(buffer, static_cast<size_t>(got), event)) events.push_back(std::move(event));
    }
    return events;
}

std::vector<std::string> BlockDeviceNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(SystemPath("/sys/block"), ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sorvane
