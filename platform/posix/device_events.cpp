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
