#include "platform/device_events.h"

#include "platform/drive_table.h"

namespace sorvane {

// Windows announces drives to windows (WM_DEVICECHANGE), not on a socket;
// the caller then watches the drive list by polling, as it does wherever the
// event socket cannot be opened.
DeviceEventSocket::~DeviceEventSocket() = default;

bool DeviceEventSocket::Open() { return false; }

std::vector<DeviceEvent> DeviceEventSocket::ReadPending() { return {}; }

std::vector<std::string> BlockDeviceNames() {
    std::vector<std::string> names;
    for (const DriveInfo& drive : ListWholeDisks()) names.push_back(drive.name);
    return names;
}

}  // namespace sorvane
