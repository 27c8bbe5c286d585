// Every question the disk list asks Windows about drives and volumes goes
// through one DeviceControl: device-control codes sent to a device, the volume
// list of the mount point manager, a volume's names, file system and space.
// Tests inject a FakeDeviceControl that answers from a table, so the code that
// only real hardware exercises (a card reader on USB, a letterless volume) is
// tested without it, the way the Linux side is tested with a fake sysfs tree.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sorvane {

struct VolumeFacts {
    std::wstring label;
    std::wstring fileSystem;  // "NTFS", "FAT32", "exFAT", "FAT"
    uint32_t serial = 0;
};

class DeviceControl {
  public:
    virtual ~DeviceControl() = default;
    // Sends `code` to the device `device` ("\\.\PhysicalDrive1", "\\.\E:"),
    // opened for querying only (which needs no administrator rights); `out`
    // receives the whole answer. Returns 0 or the Windows error code.
    virtual int Control(const std::wstring& device, uint32_t code, const void* in, size_t inSize,
                        std::vector<uint8_t>& out) = 0;
    // The GUID names ("\\?\Volume{...}\") of every volume.
    virtual std::vector<std::wstring> VolumeNames() = 0;
    // The drive-letter roots ("E:\") and folders where a volume is mounted.
    virtual std::vector<std::wstring> VolumePathNames(const std::wstring& volumeName) = 0;
    // Label, file system and serial number of the volume with this root.
    virtual int VolumeInformation(const std::wstring& root, VolumeFacts& facts) = 0;
    // Size and free bytes (as the user may use them) of the volume with this root.
    virtual int DiskSpace(const std::wstring& root, uint64_t& total, uint64_t& free) = 0;
};

// The DeviceControl in use: the system's, unless a test injected another.
DeviceControl& CurrentDeviceControl();
// Makes `control` answer every question until it is called again with nullptr.
void InjectDeviceControl(DeviceControl* control);

// A disk as the fake table describes it, in plain values; AddDisk turns it
// into the answers Windows gives (storage descriptor, geometry, length, drive
// layout, device number).
struct FakePartition {
    int number = 0;
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
    uint8_t mbrType = 0;
};
enum class FakeBus { kSata, kUsb, kSd, kMmc };
struct FakeDisk {
    int number = 0;  // n of "\\.\PhysicalDrive<n>"
    uint64_t sizeBytes = 0;
    uint32_t bytesPerSector = 512;
    bool removable = false;
    FakeBus bus = FakeBus::kSata;
    std::vector<FakePartition> partitions;
};

class FakeDeviceControl : public DeviceControl {
  public:
    void AddDisk(const FakeDisk& disk);
    // A volume on one extent of a disk, under its GUID name ("\\?\Volume{...}\"),
    // reachable by the drive letters and folders in `pathNames` ("E:\").
    void AddVolumeOnDisk(int diskNumber, uint64_t startBytes, uint64_t lengthBytes,
                         const std::wstring& volumeName, std::vector<std::wstring> pathNames,
                         VolumeFacts facts, uint64_t total = 0, uint64_t free = 0);

    void SetAnswer(const std::wstring& device, uint32_t code, std::vector<uint8_t> bytes);
    template <class T>
    void SetAnswerOf(const std::wstring& device, uint32_t code, const T& value) {
        std::vector<uint8_t> bytes(sizeof(T));
        std::memcpy(bytes.data(), &value, sizeof(T));
        SetAnswer(device, code, std::move(bytes));
    }
    // A device that exists but refuses a question answers with this code.
    void SetFailure(const std::wstring& device, uint32_t code, int error);
    void AddVolume(const std::wstring& volumeName, std::vector<std::wstring> pathNames, VolumeFacts facts,
                   uint64_t total = 0, uint64_t free = 0);

    int Control(const std::wstring& device, uint32_t code, const void* in, size_t inSize,
                std::vector<uint8_t>& out) override;
    std::vector<std::wstring> VolumeNames() override;
    std::vector<std::wstring> VolumePathNames(const std::wstring& volumeName) override;
    int VolumeInformation(const std::wstring& root, VolumeFacts& facts) override;
    int DiskSpace(const std::wstring& root, uint64_t& total, uint64_t& free) override;

  private:
    struct Volume {
        std::wstring name;
        std::vector<std::wstring> paths;
        VolumeFacts facts;
        uint64_t total = 0;
        uint64_t free = 0;
    };
    const Volume* FindByRoot(const std::wstring& root) const;

    std::map<std::pair<std::wstring, uint32_t>, std::vector<uint8_t>> answers_;
    std::map<std::pair<std::wstring, uint32_t>, int> failures_;
    std::vector<Volume> volumes_;
};

}  // namespace sorvane
