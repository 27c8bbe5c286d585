#include "platform/file_handle.h"

#include <utility>

// Ownership moves the same way on every system; opening, reading and closing
// are each system's own (posix/ and windows/).
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

}  // namespace sorvane
