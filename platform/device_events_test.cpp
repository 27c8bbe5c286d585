// Kernel device events as the disk list hears of them.
#include "platform/device_events.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvane {
namespace {

bool Parse(const std::string& bytes, DeviceEvent& event) {
    return ParseDeviceEvent(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), event);
}

TEST(DeviceEvents, KernelMessagesAreRead) {
    using namespace std::string_literals;
    DeviceEvent e;
    ASSERT_TRUE(
        Parse("add@/devices/pci0000:00/usb2/2-1/host6/block/sdb\0ACTION=add\0"
              "DEVPATH=/devices/pci0000:00/usb2/2-1/host6/block/sdb\0SUBSYSTEM=block\0"
              "MAJOR=8\0MINOR=16\0DEVNAME=sdb\0DEVTYPE=disk\0SEQNUM=4242\0"s,
              e));
    EXPECT_EQ(e.action, "add");
    EXPECT_EQ(e.subsystem, "block");
    EXPECT_EQ(e.devName, "sdb");
    EXPECT_EQ(e.devType, "disk");
    EXPECT_TRUE(e.IsBlockArrivalOrRemoval());

    ASSERT_TRUE(Parse("remove@/devices/x/block/sdb/sdb1\0ACTION=remove\0SUBSYSTEM=block\0DEVNAME=sdb1"s, e))
        << "a last field without its NUL";
    EXPECT_EQ(e.devName, "sdb1");
    EXPECT_TRUE(e.IsBlockArrivalOrRemoval());

    ASSERT_TRUE(Parse("add@/devices/usb\0ACTION=add\0SUBSYSTEM=usb\0"s, e));
    EXPECT_FALSE(e.IsBlockArrivalOrRemoval()) << "a mouse is no disk";
    ASSERT_TRUE(Parse("change@/devices/x/block/sr0\0ACTION=change\0SUBSYSTEM=block\0"s, e));
    EXPECT_FALSE(e.IsBlockArrivalOrRemoval());
}

TEST(DeviceEvents, AnythingElseIsNotAnEvent) {
    using namespace std::string_literals;
    DeviceEvent e;
    EXPECT_FALSE(Parse("libudev\0\xfe\xed\xca\xfe"s + std::string(40, '\0'), e)) << "re-broadcasts";
    EXPECT_FALSE(Parse("no header here"s, e));
    EXPECT_FALSE(Parse("add@/devices/x"s, e)) << "a header alone";
    EXPECT_FALSE(Parse("add@/devices/x\0SUBSYSTEM=block\0"s, e)) << "no action";
    EXPECT_FALSE(Parse(""s, e));
    EXPECT_FALSE(ParseDeviceEvent(nullptr, 10, e));
}

}  // namespace
}  // namespace sorvane
