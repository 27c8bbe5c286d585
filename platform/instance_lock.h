// The single-instance lock of the window program: an flock()ed file on Linux,
// a named mutex (named after the file) on Windows. The
// kernel drops the lock when the process ends, however it ends, so a crash
// never leaves a stale lock behind.
#pragma once

#include <cstdint>
#include <filesystem>

namespace sorvane {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates the file (and its folder) when needed and takes an exclusive
    // lock without waiting. False when another process holds it or the file
    // cannot be opened.
    [[nodiscard]] bool TryAcquire(const std::filesystem::path& file);
    bool Held() const { return native_ != -1; }

  private:
    intptr_t native_ = -1;
};

// Where per-session files of the running user belong: $XDG_RUNTIME_DIR, else Sorvane's data folder.
std::filesystem::path RuntimeDir();

// Ends (SIGTERM) every process of this user whose executable is `executable`.
// Used for Sorvane's own helper programs only, so an unrelated program that
// happens to share a name is never touched. Returns how many were signalled.
int TerminateProcessesOf(const std::filesystem::path& executable);

}  // namespace sorvane
