// Live progress on the terminal and Ctrl-C for the long-running commands.
#pragma once

#include <cstdint>
#include <string>

namespace sorvane::cli {

// Makes Ctrl-C (SIGINT), SIGTERM and SIGHUP raise a flag instead of ending the
// program, so the running operation can stop at its next progress call and
// clean up.
void InstallInterruptHandler();
bool Interrupted();

// The remaining time as the whole program shows it ("4 Min 5 Sec"), or
// "estimating" while it is not known (a negative count).
std::string TimeLeftText(int64_t seconds);

// Prints one self-overwriting progress line on stderr. Disabled printers
// print nothing, so callers need not ask whether stderr is a terminal.
class ProgressLine {
  public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { Finish(); }
    // `what` is the unit of the counters ("sectors", "files").
    void Update(int percent, uint64_t done, uint64_t total, int64_t secondsLeft, const char* what);
    // Ends the line so later output starts on a fresh one.
    void Finish();

  private:
    bool enabled_;
    bool open_ = false;
    int lastPercent_ = -1;
    int64_t lastSecondsLeft_ = -2;
};

// True when progress should show: stderr is a terminal, or it was asked for.
bool WantProgress(bool asked);

}  // namespace sorvane::cli
