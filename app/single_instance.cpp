#include "app/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "platform/instance_lock.h"

namespace sorvane::app {
namespace {

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaiseAnswer = "raised\n";
const QByteArray kOpenRequest = "open ";

// "Global\Name" becomes "Name": the part after the last backslash names the files.
QString FileStem(const QString& mutexName) {
    const qsizetype slash = mutexName.lastIndexOf(u'\\');
    return slash >= 0 ? mutexName.mid(slash + 1) : mutexName;
}

}  // namespace

SingleInstance::SingleInstance(const QString& mutexName, std::filesystem::path folder) {
    if (folder.empty()) folder = RuntimeDir();
    const std::string stem = FileStem(mutexName).toStdString();
    lockPath_ = folder / (stem + ".lock");
    socketPath_ = QString::fromStdString((folder / (stem + ".socket")).string());
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    lock_ = std::make_unique<InstanceLock>();
    if (!lock_->TryAcquire(lockPath_)) {
        lock_.reset();
        return false;
    }
    // The lock is ours, so a socket file left there belongs to a process that is gone.
    QLocalServer::removeServer(socketPath_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                // "open PATH" lines, then "raise"; anything else ends the talk.
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    if (line.startsWith(kOpenRequest) && line.endsWith('\n')) {
                        if (onOpen_) onOpen_(QString::fromUtf8(line.mid(kOpenRequest.size()).chopped(1)));
                        continue;
                    }
                    if (line == kRaiseRequest) {
                        if (onRaise_) onRaise_();
                        socket->write(kRaiseAnswer);
                        socket->flush();
                    }
                    socket->disconnectFromServer();
                    return;
                }
            });
        }
    });
    if (!server_->listen(socketPath_)) {
        qWarning("Sorvane: cannot listen on %s: %s", qPrintable(socketPath_),
                 qPrintable(server_->errorString()));
    }
    return true;
}

bool SingleInstance::AskRunningToRaise(int timeoutMs, const QStringList& files) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    for (const QString& file : files) {
        if (!file.contains(u'\n')) socket.write(kOpenRequest + file.toUtf8() + '\n');
    }
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    }
    return socket.readLine() == kRaiseAnswer;
}

}  // namespace sorvane::app
