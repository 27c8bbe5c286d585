// Runs one of the preview's helper programs (or a converter installed on the
// system) with a time limit. The helper's standard output and error are
// collected together. While it runs, the calling thread's event loop keeps
// turning, so a window stays responsive even when the helper hangs; a helper
// that outlives its time is killed.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sorvane::app {

struct HelperResult {
    bool started = false;   // false: the program is missing or cannot run
    bool finished = false;  // ended by itself (not killed at the time limit)
    bool crashed = false;   // ended by a signal
    int exitCode = -1;
    QByteArray output;  // standard output and error, as written
    bool Succeeded() const { return started && finished && !crashed && exitCode == 0; }
};

// Runs `program` with `arguments`, waiting at most `timeoutMs`. The helper's
// working folder is `workingDir` when given.
HelperResult RunHelper(const QString& program, const QStringList& arguments, int timeoutMs,
                       const QString& workingDir = {});

// The full path of a program on PATH, or empty.
QString FindSystemProgram(const QString& name);

}  // namespace sorvane::app
