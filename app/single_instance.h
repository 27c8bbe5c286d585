// One running Sorvane per user session. The first process holds a lock file
// named after the instance mutex and listens on a local socket beside it; a
// second process finds the lock taken and asks the first, over the socket, to
// bring its window to the front.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;

namespace sorvane {
class InstanceLock;
}

namespace sorvane::app {

// The name the instance is known by.
inline constexpr const char* kInstanceMutexName = "Global\\Sorvane_2015_For_Windows";

class SingleInstance {
  public:
    // `folder` holds the lock file and the socket (the runtime folder by default).
    explicit SingleInstance(const QString& mutexName = QString::fromLatin1(kInstanceMutexName),
                            std::filesystem::path folder = {});
    ~SingleInstance();

    // True when this process is the first; it then listens for raise requests.
    bool Acquire();
    // Second process: asks the first to open `files` (image files named on the
    // second start, as absolute paths) and show its window. True when it answered.
    bool AskRunningToRaise(int timeoutMs = 3000, const QStringList& files = {});
    // First process: called for every raise request.
    void OnRaiseRequest(std::function<void()> handler) { onRaise_ = std::move(handler); }
    // First process: called for every file a second start names, before the raise.
    void OnOpenRequest(std::function<void(const QString&)> handler) { onOpen_ = std::move(handler); }

    const std::filesystem::path& LockPath() const { return lockPath_; }
    const QString& SocketPath() const { return socketPath_; }

  private:
    std::filesystem::path lockPath_;
    QString socketPath_;
    std::unique_ptr<InstanceLock> lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> onRaise_;
    std::function<void(const QString&)> onOpen_;
};

}  // namespace sorvane::app
