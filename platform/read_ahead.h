// Hints to the operating system about how a source will be read, so that the
// medium works while the program classifies what it already has. Hints only:
// they never change what a read returns, and failures are ignored.
#pragma once

#include <cstdint>

#include "platform/file_handle.h"

namespace sorvane {

// The handle will be read from start to end.
void AdviseSequential(const FileHandle& handle);
// Bytes [offset, offset + length) will be read soon; the system may start
// reading them into its cache in the background. True when it took the
// request, so the bytes come into the cache without being copied out; false
// where the system has no such request (the caller may then read them).
bool AdviseWillNeed(const FileHandle& handle, uint64_t offset, uint64_t length);

}  // namespace sorvane
