#include "app/preview/helper_process.h"

#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "platform/process_group.h"

namespace sorvane::app {

HelperResult RunHelper(const QString& program, const QStringList& arguments, int timeoutMs,
                       const QString& workingDir) {
    HelperResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!workingDir.isEmpty()) process.setWorkingDirectory(workingDir);
    // In a group of its own, so that whatever the helper starts ends with it.
    process.setChildProcessModifier(&BecomeProcessGroupLeader);

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5 % early
    bool timedOut = false;
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) loop.quit();
    });
    // A helper may write more than a pipe holds before it ends; read as it comes.
    QObject::connect(&process, &QProcess::readyRead, &loop, [&] { result.output += process.readAll(); });

    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(5000)) return result;
    result.started = true;
    limit.start(timeoutMs);
    if (process.state() != QProcess::NotRunning) loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (timedOut && process.state() != QProcess::NotRunning) {
        KillProcessGroup(process.processId());
        process.kill();
        process.waitForFinished(2000);
    } else {
        result.finished = true;
        result.crashed = process.exitStatus() == QProcess::CrashExit;
        result.exitCode = process.exitCode();
    }
    result.output += process.readAll();
    return result;
}

QString FindSystemProgram(const QString& name) { return QStandardPaths::findExecutable(name); }

}  // namespace sorvane::app
