#include "platform/windows/device_control.h"

#include <atomic>
#include <cstddef>
#include <cwctype>

#include "platform/windows/win32.h"

namespace sorvane {
namespace {

// Answers come in structures whose size the caller cannot know beforehand
// (a drive layout with many partitions): grow the buffer until it fits.
constexpr size_t kFirstAnswerSize = 4096;
constexpr size_t kLargestAnswerSize = 1 << 20;

class SystemDeviceControl final : public DeviceControl {
  public:
    int Control(const std::wstring& device, uint32_t code, const void* in, size_t inSize,
                std::vector<uint8_t>& out) override {
        out.clear();
        // No access rights asked: querying a drive this way needs no administrator.
        HANDLE h = ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
        int rc = ERROR_INSUFFICIENT_BUFFER;
        for (size_t size = kFirstAnswerSize; size <= kLargestAnswerSize; size *= 4) {
            out.assign(size, 0);
            DWORD returned = 0;
            if (::DeviceIoControl(h, code, const_cast<void*>(in), static_cast<DWORD>(inSize), out.data(),
                                  static_cast<DWORD>(out.size()), &returned, nullptr)) {
                out.resize(returned);
                rc = 0;
                break;
            }
            rc = static_cast<int>(::GetLastError());
            if (rc != ERROR_INSUFFICIENT_BUFFER && rc != ERROR_MORE_DATA) break;
        }
        ::CloseHandle(h);
        if (rc != 0) out.clear();
        return rc;
    }

    std::vector<std::wstring> VolumeNames() override {
        std::vector<std::wstring> names;
        wchar_t name[MAX_PATH + 1];
        HANDLE find = ::FindFirstVolumeW(name, MAX_PATH + 1);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            names.emplace_back(name);
        } while (::FindNextVolumeW(find, name, MAX_PATH + 1));
        ::FindVolumeClose(find);
        return names;
    }

    std::vector<std::wstring> VolumePathNames(const std::wstring& volumeName) override {
        std::vector<std::wstring> paths;
        std::vector<wchar_t> buffer(1024);
        DWORD needed = 0;
        if (!::GetVolumePathNamesForVolumeNameW(volumeName.c_str(), buffer.data(),
                                                static_cast<DWORD>(buffer.size()), &needed)) {
            if (::GetLastError() != ERROR_MORE_DATA || needed == 0) return paths;
            buffer.assign(needed, L'\0');
            if (!::GetVolumePathNamesForVolumeNameW(volumeName.c_str(), buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), &needed))
                return paths;
        }
        // A list of NUL-terminated names ending with an empty one.
        for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) paths.emplace_back(p);
        return paths;
    }

    int VolumeInformation(const std::wstring& root, VolumeFacts& facts) override {
        wchar_t label[MAX_PATH + 1] = {};
        wchar_t fileSystem[MAX_PATH + 1] = {};
        DWORD serial = 0;
        if (!::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, &serial, nullptr, nullptr, fileSystem,
                                     MAX_PATH + 1))
            return static_cast<int>(::GetLastError());
        facts.label = label;
        facts.fileSystem = fileSystem;
        facts.serial = serial;
        return 0;
    }

    int DiskSpace(const std::wstring& root, uint64_t& total, uint64_t& free) override {
        ULARGE_INTEGER available{}, size{}, allFree{};
        if (!::GetDiskFreeSpaceExW(root.c_str(), &available, &size, &allFree))
            return static_cast<int>(::GetLastError());
        total = size.QuadPart;
        free = available.QuadPart;
        return 0;
    }
};

std::atomic<DeviceControl*> gInjected{nullptr};

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

}  // namespace

DeviceControl& CurrentDeviceControl() {
    static SystemDeviceControl system;
    DeviceControl* injected = gInjected.load();
    return injected ? *injected : system;
}

void InjectDeviceControl(DeviceControl* control) { gInjected.store(control); }

void FakeDeviceControl::AddDisk(const FakeDisk& disk) {
    const std::wstring device = L"\\\\.\\PhysicalDrive" + std::to_wstring(disk.number);

    STORAGE_DEVICE_NUMBER number{};
    number.DeviceType = FILE_DEVICE_DISK;
    number.DeviceNumber = static_cast<DWORD>(disk.number);
    number.PartitionNumber = 0;
    SetAnswerOf(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, number);

    DISK_GEOMETRY_EX geometry{};
    geometry.Geometry.BytesPerSector = disk.bytesPerSector;
    geometry.Geometry.SectorsPerTrack = 63;
    geometry.Geometry.TracksPerCylinder = 255;
    geometry.Geometry.MediaType = disk.removable ? RemovableMedia : FixedMedia;
    geometry.Geometry.Cylinders.QuadPart =
        static_cast<LONGLONG>(disk.sizeBytes / (uint64_t{255} * 63 * disk.bytesPerSector));
    geometry.DiskSize.QuadPart = static_cast<LONGLONG>(disk.sizeBytes);
    SetAnswerOf(device, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, geometry);

    GET_LENGTH_INFORMATION length{};
    length.Length.QuadPart = static_cast<LONGLONG>(disk.sizeBytes);
    SetAnswerOf(device, IOCTL_DISK_GET_LENGTH_INFO, length);

    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    descriptor.Version = sizeof descriptor;
    descriptor.Size = sizeof descriptor;
    descriptor.RemovableMedia = disk.removable;
    switch (disk.bus) {
        case FakeBus::kSata:
            descriptor.BusType = BusTypeSata;
            break;
        case FakeBus::kUsb:
            descriptor.BusType = BusTypeUsb;
            break;
        case FakeBus::kSd:
            descriptor.BusType = BusTypeSd;
            break;
        case FakeBus::kMmc:
            descriptor.BusType = BusTypeMmc;
            break;
    }
    SetAnswerOf(device, IOCTL_STORAGE_QUERY_PROPERTY, descriptor);

    // The layout: a fixed head, then one entry per partition (MBR style).
    const size_t head = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    std::vector<uint8_t> layoutBytes(head + disk.partitions.size() * sizeof(PARTITION_INFORMATION_EX));
    DRIVE_LAYOUT_INFORMATION_EX layout{};
    layout.PartitionStyle = PARTITION_STYLE_MBR;
    layout.PartitionCount = static_cast<DWORD>(disk.partitions.size());
    layout.Mbr.Signature = 0x5A0E5A0E;
    std::memcpy(layoutBytes.data(), &layout, head);
    for (size_t i = 0; i < disk.partitions.size(); ++i) {
        const FakePartition& p = disk.partitions[i];
        PARTITION_INFORMATION_EX entry{};
        entry.PartitionStyle = PARTITION_STYLE_MBR;
        entry.StartingOffset.QuadPart = static_cast<LONGLONG>(p.startBytes);
        entry.PartitionLength.QuadPart = static_cast<LONGLONG>(p.lengthBytes);
        entry.PartitionNumber = static_cast<DWORD>(p.number);
        entry.Mbr.PartitionType = p.mbrType;
        entry.Mbr.RecognizedPartition = TRUE;
        std::memcpy(layoutBytes.data() + head + i * sizeof entry, &entry, sizeof entry);
    }
    SetAnswer(device, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, std::move(layoutBytes));
}

void FakeDeviceControl::AddVolumeOnDisk(int diskNumber, uint64_t startBytes, uint64_t lengthBytes,
                                        const std::wstring& volumeName, std::vector<std::wstring> pathNames,
                                        VolumeFacts facts, uint64_t total, uint64_t free) {
    VOLUME_DISK_EXTENTS extents{};
    extents.NumberOfDiskExtents = 1;
    extents.Extents[0].DiskNumber = static_cast<DWORD>(diskNumber);
    extents.Extents[0].StartingOffset.QuadPart = static_cast<LONGLONG>(startBytes);
    extents.Extents[0].ExtentLength.QuadPart = static_cast<LONGLONG>(lengthBytes);
    std::wstring device = volumeName;
    if (!device.empty() && device.back() == L'\\') device.pop_back();
    SetAnswerOf(device, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents);
    for (const std::wstring& path : pathNames)
        if (path.size() == 3 && path[1] == L':')
            SetAnswerOf(L"\\\\.\\" + path.substr(0, 2), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents);
    AddVolume(volumeName, std::move(pathNames), std::move(facts), total, free);
}

void FakeDeviceControl::SetAnswer(const std::wstring& device, uint32_t code, std::vector<uint8_t> bytes) {
    answers_[{Upper(device), code}] = std::move(bytes);
}

void FakeDeviceControl::SetFailure(const std::wstring& device, uint32_t code, int error) {
    failures_[{Upper(device), code}] = error;
}

void FakeDeviceControl::AddVolume(const std::wstring& volumeName, std::vector<std::wstring> pathNames,
                                  VolumeFacts facts, uint64_t total, uint64_t free) {
    volumes_.push_back({volumeName, std::move(pathNames), std::move(facts), total, free});
}

int FakeDeviceControl::Control(const std::wstring& device, uint32_t code, const void*, size_t,
                               std::vector<uint8_t>& out) {
    out.clear();
    const auto key = std::make_pair(Upper(device), code);
    if (auto f = failures_.find(key); f != failures_.end()) return f->second;
    if (auto a = answers_.find(key); a != answers_.end()) {
        out = a->second;
        return 0;
    }
    // A device the table knows nothing about does not exist; a known one
    // does not understand the question.
    for (const auto& [k, bytes] : answers_)
        if (k.first == key.first) return ERROR_INVALID_FUNCTION;
    return ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> FakeDeviceControl::VolumeNames() {
    std::vector<std::wstring> names;
    for (const Volume& v : volumes_) names.push_back(v.name);
    return names;
}

std::vector<std::wstring> FakeDeviceControl::VolumePathNames(const std::wstring& volumeName) {
    for (const Volume& v : volumes_)
        if (Upper(v.name) == Upper(volumeName)) return v.paths;
    return {};
}

const FakeDeviceControl::Volume* FakeDeviceControl::FindByRoot(const std::wstring& root) const {
    const std::wstring wanted = Upper(root);
    for (const Volume& v : volumes_) {
        if (Upper(v.name) == wanted) return &v;
        for (const std::wstring& p : v.paths)
            if (Upper(p) == wanted) return &v;
    }
    return nullptr;
}

int FakeDeviceControl::VolumeInformation(const std::wstring& root, VolumeFacts& facts) {
    const Volume* v = FindByRoot(root);
    if (!v) return ERROR_PATH_NOT_FOUND;
    facts = v->facts;
    return 0;
}

int FakeDeviceControl::DiskSpace(const std::wstring& root, uint64_t& total, uint64_t& free) {
    const Volume* v = FindByRoot(root);
    if (!v) return ERROR_PATH_NOT_FOUND;
    total = v->total;
    free = v->free;
    return 0;
}

}  // namespace sorvane
