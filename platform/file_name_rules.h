// What a file name may be on the system that receives recovered files. Names
// come from the scanned disk and are untrusted; they were valid on the system
// that wrote them, which need not be this one.
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

// The name with whatever this system refuses in a file name replaced, so that
// creating it neither fails nor opens something else (a device, a stream).
// Path separators and control characters are the caller's concern.
std::string NameAllowedBySystem(std::string_view name);

// The Windows rules, usable everywhere (a disk recovered on Linux may be
// copied to Windows later, and the rules are tested on every system):
// <>:"|?* become '_', trailing dots and spaces are dropped, and a reserved
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension) gets a
// leading '_'. Never returns an empty name.
std::string NameAllowedOnWindows(std::string_view name);

}  // namespace sorvane
