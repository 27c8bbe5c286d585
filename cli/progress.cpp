#include "cli/progress.h"

#include <csignal>
#include <cstdio>

#include "platform/terminal.h"
#include "results/time_text.h"

namespace sorvane::cli {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

void InstallInterruptHandler() {
    gInterrupted = 0;
    // Ending the terminal or a polite kill stops the work as Ctrl-C does, so a
    // deep scan still saves how far it got.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, OnInterrupt);
#endif
}

bool Interrupted() { return gInterrupted != 0; }

std::string TimeLeftText(int64_t seconds) { return seconds < 0 ? "estimating" : RemainingTimeText(seconds); }

void ProgressLine::Update(int percent, uint64_t done, uint64_t total, int64_t secondsLeft, const char* what) {
    if (!enabled_ || (percent == lastPercent_ && secondsLeft == lastSecondsLeft_)) return;
    lastPercent_ = percent;
    lastSecondsLeft_ = secondsLeft;
    std::fprintf(stderr, "\r%3d %%  %llu / %llu %s  time left: %s\033[K", percent,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), what,
                 TimeLeftText(secondsLeft).c_str());
    std::fflush(stderr);
    open_ = true;
}

void ProgressLine::Finish() {
    if (!open_) return;
    std::fputc('\n', stderr);
    open_ = false;
}

bool WantProgress(bool asked) { return asked || StandardErrorIsTerminal(); }

}  // namespace sorvane::cli
