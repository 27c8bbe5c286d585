// Notice of disks arriving and leaving: the kernel's device events, read from
// its event socket. Only block devices matter to the disk list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

struct DeviceEvent {
    std::string action;     // "add", "remove", "change", ...
    std::string subsystem;  // "block", "usb", ...
    std::string devName;    // "sdb", "sdb1"
    std::string devType;    // "disk", "partition"

    bool IsBlockArrivalOrRemoval() const {
        return subsystem == "block" && (action == "add" || action == "remove");
    }
};

// Parses one kernel event message: a header "ACTION@DEVPATH" and NUL-separated
// KEY=VALUE fields. False for anything else (the device manager's own
// re-broadcasts start with "libudev" and are not parsed). Never reads past `size`.
[[nodiscard]] bool ParseDeviceEvent(const uint8_t* data, size_t size, DeviceEvent& event);

// The kernel's device-event socket, non-blocking.
class DeviceEventSocket {
  public:
    DeviceEventSocket() = default;
    ~DeviceEventSocket();
    DeviceEventSocket(const DeviceEventSocket&) = delete;
    DeviceEventSocket& operator=(const DeviceEventSocket&) = delete;

    // Opens and binds the socket; false when the system refuses (the caller
    // then polls instead).
    bool Open();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Every event waiting on the socket that came from the kernel itself.
    std::vector<DeviceEvent> ReadPending();

  private:
    int fd_ = -1;
};

// The names of the whole disks below <system root>/sys/block, sorted: what the
// polling fallback compares between two looks.
std::vector<std::string> BlockDeviceNames();

}  // namespace sorvane
