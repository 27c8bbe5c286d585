#pragma once

#include <filesystem>

#include "tests/testkit/testkit.h"

namespace sorvane::testkit {

// A FAT16 file system of its own, mounted through FUSE (fusefat) below
// `dir`, as a person's USB stick is: a destination that refuses names ext4
// takes. Mounted() is empty when this machine cannot mount one (no fusefat,
// no /dev/fuse, not root); it is unmounted with the object.
class FatStick {
  public:
    explicit FatStick(const TempDir& dir);
    ~FatStick();
    FatStick(const FatStick&) = delete;
    FatStick& operator=(const FatStick&) = delete;
    const std::filesystem::path& Mounted() const { return mounted_; }

  private:
    std::filesystem::path mounted_;
};

}  // namespace sorvane::testkit
