#include "platform/file_handle.h"

#include <utility>

#include "platform/fault_plan.h"
#include "platform/result_codes.h"

// Ownership, positioned reads and read-fault injection work the same way on
// every system; opening, reading and closing are each system's own (posix/ and
// windows/).
namespace sorvane {

FileHandle::FileHandle(FileHandle&& other) noexcept
    : native_(other.native_),
      readAlignment_(other.readAlignment_),
      position_(other.position_),
      path_(std::move(other.path_)) {
    other.native_ = kInvalid;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.native_;
        readAlignment_ = other.readAlignment_;
        position_ = other.position_;
        path_ = std::move(other.path_);
        other.native_ = kInvalid;
    }
    return *this;
}

FileHandle::~FileHandle() { Close(); }

int FileHandle::Read(void* buffer, size_t length, size_t& got) {
    int rc = ReadAt(position_, buffer, length, got);
    position_ += got;
    return rc;
}

bool FileHandle::FaultPlanEndsRead(uint64_t offset, size_t& length, int& rc) const {
    const FaultPlan& plan = FaultPlan::Instance();
    if (plan.Empty()) return false;
    uint64_t volume = 0, file = 0;
    if (!FileIdentityOf(*this, volume, file)) return false;
    FaultDecision d = plan.Decide(volume, file, offset, length);
    DelayRead(d);
    if (d.fail) {
        rc = kErrReadFault;
        return true;
    }
    length = d.allowed;
    rc = kSuccess;
    return length == 0;
}

void FileHandle::NoteOpened() const {
    const FaultPlan& plan = FaultPlan::Instance();
    if (plan.Empty()) return;
    uint64_t volume = 0, file = 0;
    if (FileIdentityOf(*this, volume, file)) plan.NoteOpen(volume, file);
}

}  // namespace sorvane
