#include "tests/testkit/fat_stick.h"

namespace sorvane::testkit {

FatStick::FatStick(const TempDir& dir) {
    const std::filesystem::path image = dir / "stick.img", point = dir / "stick";
    std::filesystem::create_directories(point);
    if (RunCommand("mkfs.fat -F 16 -C " + ShellQuote(image.string()) + " 32768 >/dev/null 2>&1") == 0 &&
        RunCommand("fusefat -o rw+ " + ShellQuote(image.string()) + " " + ShellQuote(point.string()) +
                   " >/dev/null 2>&1") == 0)
        mounted_ = point;
}

FatStick::~FatStick() {
    if (!mounted_.empty()) RunCommand("fusermount -u " + ShellQuote(mounted_.string()));
}

}  // namespace sorvane::testkit
