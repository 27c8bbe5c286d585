// The Windows side of the platform layer, run as a Windows program (under Wine
// on the build machine). Drives and volumes come from a fake device-control
// table; reads go to real files opened the way drives are.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

#include "platform/block_device.h"
#include "platform/command_line.h"
#include "platform/data_dirs.h"
#include "platform/disk_layout.h"
#include "platform/drive_table.h"
#include "platform/file_handle.h"
#include "platform/file_times.h"
#include "platform/path_text.h"
#include "platform/process_group.h"
#include "platform/result_codes.h"
#include "platform/volume_registry.h"
#include "platform/windows/device_control.h"
#include "platform/windows/unbuffered.h"
#include "platform/windows/win32.h"

namespace sorvane {
namespace {

class ScratchDir {
  public:
    // Tests run as parallel processes: the name carries the process id, and a
    // folder that already exists is never shared (another test would delete
    // it under this one).
    ScratchDir() {
        static int counter = 0;
        std::random_device rd;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("sorvane-win-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(++counter) + "-" + std::to_string(rd()));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec)) break;
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + i / 4096) & 0xFF);
    return bytes;
}

void Write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// ---- reads of a device: whole aligned sectors, whatever range is asked ----

TEST(UnbufferedRead, OddRangesComeBackExactlyFromAlignedSectorReads) {
    ScratchDir dir;
    const size_t size = 3 * 1024 * 1024 + 5 * 4096;  // more than one aligned chunk
    const std::vector<uint8_t> bytes = Pattern(size);
    Write(dir.Path() / "disk.bin", bytes);
    FileHandle handle;
    ASSERT_EQ(OpenReadOnlyUnbuffered(dir.Path() / "disk.bin", 4096, handle), kSuccess);
    EXPECT_EQ(handle.ReadAlignment(), 4096u);
    struct Range {
        uint64_t offset;
        size_t length;
    } ranges[] = {
        {0, 1}, {1, 4095}, {4097, 10001}, {4095, 2}, {777, 1536 * 1024 + 3}, {2 * 1024 * 1024 - 1, 4098}};
    for (const Range& r : ranges) {
        std::vector<uint8_t> got(r.length, 0xEE);
        size_t n = 0;
        ASSERT_EQ(handle.ReadAt(r.offset, got.data(), got.size(), n), kSuccess) << r.offset;
        ASSERT_EQ(n, r.length) << r.offset;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + static_cast<ptrdiff_t>(r.offset)))
            << "offset " << r.offset << " length " << r.length;
    }
    EXPECT_EQ(OpenReadOnlyUnbuffered(dir.Path() / "disk.bin", 3000, handle), kErrInvalidParameter)
        << "an alignment must be a power of two";
}

TEST(UnbufferedRead, ReadsAtTheVeryEndStopThereWithoutFailing) {
    ScratchDir dir;
    const size_t size = 8 * 512 + 100;  // ends inside a sector, as a file standing in for a disk may
    const std::vector<uint8_t> bytes = Pattern(size);
    Write(dir.Path() / "disk.bin", bytes);
    FileHandle handle;
    ASSERT_EQ(OpenReadOnlyUnbuffered(dir.Path() / "disk.bin", 512, handle), kSuccess);
    std::vector<uint8_t> got(4096);
    size_t n = 0;
    ASSERT_EQ(handle.ReadAt(size - 7, got.data(), 7, n), kSuccess);
    EXPECT_EQ(n, 7u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 7, bytes.end() - 7));
    ASSERT_EQ(handle.ReadAt(size - 50, got.data(), 2000, n), kSuccess);
    EXPECT_EQ(n, 50u) << "a read past the end returns what there is";
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 50, bytes.end() - 50));
    ASSERT_EQ(handle.ReadAt(size, got.data(), 10, n), kSuccess);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(handle.ReadAt(size + 4096, got.data(), 10, n), kSuccess);
    EXPECT_EQ(n, 0u);
    uint64_t length = 0;
    ASSERT_EQ(handle.Size(length), kSuccess);
    EXPECT_EQ(length, size);
}

TEST(FileHandle, WritesReadsAndRefusesWhatItMust) {
    ScratchDir dir;
    const std::filesystem::path file = dir.Path() / "out.bin";
    FileHandle out;
    ASSERT_EQ(OpenForWriting(file, WriteMode::kCreateNew, out), kSuccess);
    ASSERT_EQ(out.Write("hello world", 11), kSuccess);
    EXPECT_EQ(out.Position(), 11u);
    ASSERT_EQ(out.Truncate(5), kSuccess);
    out.Close();
    EXPECT_EQ(OpenForWriting(file, WriteMode::kCreateNew, out), kErrFileExists);
    FileHandle in;
    ASSERT_EQ(OpenReadOnly(file, in), kSuccess);
    EXPECT_FALSE(IsBlockDevice(in));
    char text[16] = {};
    size_t n = 0;
    ASSERT_EQ(in.Read(text, sizeof text, n), kSuccess);
    EXPECT_EQ(std::string(text, n), "hello");
    EXPECT_EQ(OpenReadOnly(dir.Path() / "missing.bin", in), kErrFileNotFound);
    EXPECT_EQ(OpenReadOnly(dir.Path(), in), kErrAccessDenied) << "a folder is no image";
    uint64_t volume = 0, a = 0, b = 0;
    ASSERT_TRUE(FileIdentityOf(file, volume, a));
    ASSERT_TRUE(FileIdentityOf(dir.Path() / "." / "out.bin", volume, b));
    EXPECT_EQ(a, b) << "one file, whatever the name";
}

// ---- names: long, non-ASCII, UTF-8 inside and UTF-16 at the system ----

TEST(Paths, LongAndNonAsciiNamesRoundTripThroughTheSystem) {
    ScratchDir dir;
    const std::string name = "фото отпуск 東京 Grüße.jpg";
    std::filesystem::path deep = dir.Path();
    for (int i = 0; i < 12; ++i) deep /= PathFromUtf8("папка с длинным именем " + std::to_string(i));
    ASSERT_GT(deep.wstring().size(), 300u) << "beyond the old 260-character limit";
    std::filesystem::create_directories(deep);
    const std::filesystem::path file = deep / PathFromUtf8(name);
    FileHandle out;
    ASSERT_EQ(OpenForWriting(file, WriteMode::kCreateOrTruncate, out), kSuccess);
    ASSERT_EQ(out.Write("x", 1), kSuccess);
    out.Close();
    ASSERT_EQ(SetFileTimes(file, 1000000000, 1234567890), kSuccess);
    // The name as the system lists it, in UTF-16.
    std::vector<std::string> found;
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((win::Win32Path(deep) + L"\\*").c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        std::wstring n = entry.cFileName;
        if (n != L"." && n != L"..") found.push_back(win::Utf8(n));
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExW(win::Win32Path(file).c_str(), GetFileExInfoStandard, &data));
    uint64_t written =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, 116444736000000000ULL + 1234567890ULL * 10000000ULL);
    FileHandle in;
    EXPECT_EQ(OpenReadOnly(file, in), kSuccess);
}

TEST(Paths, DataFolderLiesInTheRoamingApplicationData) {
    const wchar_t* saved = ::_wgetenv(L"SORVANE_DATA_DIR");
    std::wstring keep = saved ? saved : L"";
    ::_wputenv_s(L"SORVANE_DATA_DIR", L"");
    std::filesystem::path data = SorvaneDataDir();
    PWSTR roaming = nullptr;
    ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
    std::filesystem::path expected = std::filesystem::path(roaming) / L"Sorvane";
    ::CoTaskMemFree(roaming);
    ::_wputenv_s(L"SORVANE_DATA_DIR", keep.c_str());
    EXPECT_EQ(data, expected);
    EXPECT_EQ(ScanLogDir(), SorvaneDataDir() / L"ScanLog");
    EXPECT_TRUE(std::filesystem::exists(ProgramDir() / L"platform_windows_test.exe"));
}

TEST(CommandLine, ArgumentsComeFromTheUtf16CommandLine) {
    // The test program's own command line: its first word is the program.
    char* none[] = {nullptr};
    std::vector<std::string> args = CommandLineArguments(0, none);
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find("platform_windows_test"), std::string::npos);
}

TEST(ResultCodes, AreTheSystemsOwnWithItsTexts) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastResult(), 32);
    EXPECT_EQ(ResultFromErrorCode(std::error_code(ERROR_DISK_FULL, std::system_category())), kErrDiskFull);
    EXPECT_EQ(ResultFromErrorCode(std::error_code(ENOENT, std::generic_category())), kErrFileNotFound);
    EXPECT_EQ(ResultFromErrorCode(std::error_code()), kSuccess);
    EXPECT_NE(ResultText(ERROR_NOT_READY).find("(error 21)"), std::string::npos)
        << ResultText(ERROR_NOT_READY);
    EXPECT_NE(ResultText(kErrAccessDenied).find("administrator"), std::string::npos);
}

// ---- drives and volumes from the fake device-control table ----

class FakeMachine : public ::testing::Test {
  protected:
    static constexpr uint64_t kMiB = 1024 * 1024;
    void SetUp() override {
        // An internal disk with the system volume C:.
        FakeDisk internal;
        internal.number = 0;
        internal.sizeBytes = 256 * 1024 * kMiB;
        internal.partitions = {{1, kMiB, 255 * 1024 * kMiB, 0x07}};
        fake_.AddDisk(internal);
        fake_.AddVolumeOnDisk(0, kMiB, 255 * 1024 * kMiB,
                              L"\\\\?\\Volume{00000000-0000-0000-0000-00000000000c}\\", {L"C:\\"},
                              {L"System", L"NTFS", 0xC0C0C0C0});
        // A USB card reader (drive 2: drive 1 was unplugged) with two
        // partitions: FAT32 with the letter E:, and NTFS without a letter.
        FakeDisk reader;
        reader.number = 2;
        reader.sizeBytes = 64 * kMiB;
        reader.removable = true;
        reader.bus = FakeBus::kUsb;
        reader.partitions = {{1, kMiB, 31 * kMiB, 0x0C}, {2, 32 * kMiB, 32 * kMiB, 0x07}};
        fake_.AddDisk(reader);
        fake_.AddVolumeOnDisk(2, kMiB, 31 * kMiB, L"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\",
                              {L"E:\\"}, {L"CARD", L"FAT32", 0x1234ABCD}, 31 * kMiB, 20 * kMiB);
        fake_.AddVolumeOnDisk(2, 32 * kMiB, 32 * kMiB,
                              L"\\\\?\\Volume{66666666-7777-8888-9999-000000000000}\\", {},
                              {L"BACKUP", L"NTFS", 0x0BADF00D});
        InjectDeviceControl(&fake_);
        DriveTable::Instance().Refresh();
    }
    void TearDown() override {
        InjectDeviceControl(nullptr);
        DriveTable::Instance().Refresh();
    }
    FakeDeviceControl fake_;
};

TEST_F(FakeMachine, DrivesAreNumberedAsTheSystemNumbersThem) {
    std::vector<DriveInfo> drives = DriveTable::Instance().Drives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].index, 0);
    EXPECT_EQ(drives[1].index, 2) << "a gap in the numbers stays a gap";
    EXPECT_EQ(drives[1].name, "PhysicalDrive2");
    EXPECT_EQ(drives[1].node.wstring(), L"\\\\.\\PhysicalDrive2");
    EXPECT_EQ(DriveTable::Instance().IndexOfName("PhysicalDrive2"), 2);
    EXPECT_FALSE(DriveTable::Instance().Drive(1).has_value());
}

TEST_F(FakeMachine, TheCardReaderIsRemovableOnUsbAndTheInternalDiskIsNot) {
    EXPECT_TRUE(DiskIsRemovable("PhysicalDrive2"));
    EXPECT_TRUE(DiskIsOnUsbOrSd("PhysicalDrive2"));
    EXPECT_FALSE(DiskIsRemovable("PhysicalDrive0"));
    EXPECT_FALSE(DiskIsOnUsbOrSd("PhysicalDrive0"));
    EXPECT_FALSE(DiskIsOnUsbOrSd("PhysicalDrive7")) << "no such drive";
    uint64_t bytes = 0;
    uint32_t sector = 0;
    auto reader = DriveTable::Instance().Drive(2);
    ASSERT_TRUE(reader && SystemDiskSize(*reader, bytes, sector));
    EXPECT_EQ(bytes, 64 * kMiB);
    EXPECT_EQ(sector, 512u);
}

TEST_F(FakeMachine, PartitionsCarryTheirLettersOrTheirVolumeNames) {
    auto reader = DriveTable::Instance().Drive(2);
    ASSERT_TRUE(reader);
    std::vector<SystemPartition> parts = ListSystemPartitions(*reader);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].letter, u'E');
    EXPECT_EQ(parts[0].name, "E:");
    EXPECT_EQ(parts[0].node.wstring(), L"\\\\.\\E:");
    EXPECT_EQ(parts[0].mountPoint.wstring(), L"E:\\");
    EXPECT_EQ(parts[0].mountedType, "FAT32");
    EXPECT_EQ(parts[0].partitionType, 0x0C);
    EXPECT_EQ(parts[0].startBytes, kMiB);
    EXPECT_EQ(parts[0].device, 0x1234ABCDu);
    // The volume without a letter: named by its GUID, not mounted anywhere.
    EXPECT_EQ(parts[1].letter, 0);
    EXPECT_EQ(parts[1].name, "Volume{66666666-7777-8888-9999-000000000000}");
    EXPECT_EQ(parts[1].node.wstring(), L"\\\\?\\Volume{66666666-7777-8888-9999-000000000000}");
    EXPECT_TRUE(parts[1].mountPoint.empty());
    EXPECT_EQ(parts[1].mountedType, "NTFS");
    EXPECT_EQ(parts[1].startBytes, 32 * kMiB);
    EXPECT_EQ(parts[1].lengthBytes, 32 * kMiB);
    // Each volume leads back to its disk and place.
    std::string disk;
    uint64_t start = 0, sectors = 0;
    ASSERT_TRUE(PartitionOfDisk("E:", disk, start, sectors));
    EXPECT_EQ(disk, "PhysicalDrive2");
    EXPECT_EQ(start, kMiB / 512);
    EXPECT_EQ(sectors, 31 * kMiB / 512);
    ASSERT_TRUE(PartitionOfDisk(parts[1].name, disk, start, sectors));
    EXPECT_EQ(start, 32 * kMiB / 512);
    EXPECT_FALSE(PartitionOfDisk("Q:", disk, start, sectors));
    uint64_t device = 0;
    ASSERT_EQ(GetNodeDeviceNumber(parts[1].node, device), kSuccess);
    EXPECT_EQ(device, 0x0BADF00Du);
}

TEST_F(FakeMachine, CommandLineNamesOfVolumesAndDrives) {
    EXPECT_TRUE(LooksLikeDevicePath("\\\\.\\PhysicalDrive2"));
    EXPECT_TRUE(LooksLikeDevicePath("e:"));
    EXPECT_TRUE(LooksLikeDevicePath("E:\\"));
    EXPECT_TRUE(LooksLikeDevicePath("\\\\?\\Volume{66666666-7777-8888-9999-000000000000}\\"));
    EXPECT_FALSE(LooksLikeDevicePath("E:\\card.img"));
    EXPECT_FALSE(LooksLikeDevicePath("card.img"));
    EXPECT_EQ(DeviceNameOfPath("\\\\.\\PhysicalDrive2"), "PhysicalDrive2");
    EXPECT_EQ(DeviceNameOfPath("e:\\"), "E:");
    EXPECT_EQ(DeviceNameOfPath("\\\\?\\Volume{66666666-7777-8888-9999-000000000000}\\"),
              "Volume{66666666-7777-8888-9999-000000000000}");
}

TEST(FakeDeviceControlTable, TruncatedOrEmptyAnswersAreNotBelieved) {
    FakeDeviceControl fake;
    // A layout that claims four partitions but holds one.
    const size_t head = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    std::vector<uint8_t> layoutBytes(head + sizeof(PARTITION_INFORMATION_EX));
    DRIVE_LAYOUT_INFORMATION_EX layout{};
    layout.PartitionStyle = PARTITION_STYLE_MBR;
    layout.PartitionCount = 4;
    std::memcpy(layoutBytes.data(), &layout, head);
    PARTITION_INFORMATION_EX entry{};
    entry.PartitionStyle = PARTITION_STYLE_MBR;
    entry.StartingOffset.QuadPart = 1 << 20;
    entry.PartitionLength.QuadPart = 1 << 20;
    entry.PartitionNumber = 1;
    entry.Mbr.PartitionType = 0x0E;
    std::memcpy(layoutBytes.data() + head, &entry, sizeof entry);
    STORAGE_DEVICE_NUMBER number{};
    fake.SetAnswerOf(L"\\\\.\\PhysicalDrive5", IOCTL_STORAGE_GET_DEVICE_NUMBER, number);
    fake.SetAnswer(L"\\\\.\\PhysicalDrive5", IOCTL_DISK_GET_DRIVE_LAYOUT_EX, layoutBytes);
    // A volume whose extents answer lists none, and a storage descriptor cut short.
    VOLUME_DISK_EXTENTS none{};
    none.NumberOfDiskExtents = 0;
    fake.SetAnswerOf(L"\\\\.\\F:", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, none);
    fake.SetAnswer(L"\\\\.\\PhysicalDrive5", IOCTL_STORAGE_QUERY_PROPERTY, {1, 2, 3});
    fake.SetFailure(L"\\\\.\\PhysicalDrive5", IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, ERROR_NOT_READY);
    InjectDeviceControl(&fake);
    DriveTable::Instance().Refresh();
    auto drive = DriveTable::Instance().Drive(5);
    ASSERT_TRUE(drive);
    std::vector<SystemPartition> parts = ListSystemPartitions(*drive);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].partitionType, 0x0E);
    EXPECT_EQ(parts[0].letter, 0) << "no volume answers for it";
    std::string disk;
    uint64_t start = 0, sectors = 0;
    EXPECT_FALSE(PartitionOfDisk("F:", disk, start, sectors));
    EXPECT_FALSE(DiskIsRemovable("PhysicalDrive5"));
    uint64_t bytes = 0;
    uint32_t sector = 0;
    EXPECT_FALSE(SystemDiskSize(*drive, bytes, sector)) << "a reader without a card has no size";
    InjectDeviceControl(nullptr);
    DriveTable::Instance().Refresh();
}

// ---- helper programs end as a whole group ----

// Starts this test program again, running only the (disabled) test `name`.
HANDLE StartSelf(const std::string& name, DWORD& id) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring line =
        L"\"" + std::wstring(exe) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + win::Wide(name);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return nullptr;
    }
    ::CloseHandle(info.hThread);
    id = info.dwProcessId;
    return info.hProcess;
}

// Run only as a child by the test below: leads a group, starts a child of its
// own, tells its id through the file named in SORVANE_GROUP_FILE, and waits.
TEST(ProcessGroupChild, DISABLED_Leader) {
    BecomeProcessGroupLeader();
    DWORD child = 0;
    HANDLE process = StartSelf("ProcessGroupChild.DISABLED_Sleeper", child);
    ASSERT_NE(process, nullptr);
    const char* file = std::getenv("SORVANE_GROUP_FILE");
    ASSERT_NE(file, nullptr);
    const std::string temporary = std::string(file) + ".part";
    { std::ofstream(temporary) << child << "\n"; }
    std::filesystem::rename(temporary, file);
    ::Sleep(120000);
}

TEST(ProcessGroupChild, DISABLED_Sleeper) { ::Sleep(120000); }

TEST(ProcessGroup, EndingTheLeaderEndsTheChildrenItStarted) {
    ScratchDir dir;
    const std::filesystem::path file = dir.Path() / "child";
    ::SetEnvironmentVariableW(L"SORVANE_GROUP_FILE", file.wstring().c_str());
    DWORD leaderId = 0;
    HANDLE leader = StartSelf("ProcessGroupChild.DISABLED_Leader", leaderId);
    ASSERT_NE(leader, nullptr);
    for (int i = 0; i < 600 && !std::filesystem::exists(file); ++i) ::Sleep(50);
    DWORD childId = 0;
    std::ifstream(file) >> childId;
    HANDLE child = childId ? ::OpenProcess(SYNCHRONIZE, FALSE, childId) : nullptr;
    EXPECT_NE(child, nullptr);

    EXPECT_EQ(KillProcessGroup(leaderId), 1);
    EXPECT_EQ(::WaitForSingleObject(leader, 10000), WAIT_OBJECT_0);
    if (child) {
        EXPECT_EQ(::WaitForSingleObject(child, 10000), WAIT_OBJECT_0) << "the leader's child outlived it";
        ::CloseHandle(child);
    }
    ::TerminateProcess(leader, 1);  // never left behind when a check failed
    ::CloseHandle(leader);
}

TEST(ProcessGroup, NoGroupForImpossibleIdsOrTheCallerItself) {
    EXPECT_EQ(KillProcessGroup(0), 0);
    EXPECT_EQ(KillProcessGroup(-1), 0);
    EXPECT_EQ(KillProcessGroup(int64_t{1} << 40), 0);
    EXPECT_EQ(KillProcessGroup(::GetCurrentProcessId()), 0);
}

}  // namespace
}  // namespace sorvane
