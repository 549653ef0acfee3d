// SPDX-License-Identifier: GPL-3.0-or-later
#include "singleinstance.h"

#include "applogging.h"
#include "handoffchannel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>
#include <QtEndian>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kivo {

namespace handoff {

LaunchCredentials launchCredentials() {
    const channel::LaunchCredentials launch = channel::launchCredentials();
    return {QByteArray::fromStdString(launch.activationToken),
            QByteArray::fromStdString(launch.startupId)};
}

QByteArray encode(const std::vector<FilePath>& paths, const LaunchCredentials& launch) {
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const FilePath& path : paths)
        names.push_back(path.native());
    return QByteArray::fromStdString(channel::encode(
        names, {launch.activationToken.toStdString(), launch.startupId.toStdString()}));
}

qsizetype payloadLength(const QByteArray& header) {
    if (header.size() < kHeaderSize || !header.startsWith(channel::kMagic))
        return -1;
    quint32 length = 0;
    std::memcpy(&length, header.constData() + 4, sizeof length);
    length = qFromBigEndian(length);
    return length > kMaxPayload ? -1 : static_cast<qsizetype>(length);
}

std::optional<Message> decode(const QByteArray& message) {
    const qsizetype length = payloadLength(message);
    if (length < 0 || message.size() != kHeaderSize + length)
        return std::nullopt;
    const QByteArray payload = message.mid(kHeaderSize);
    if (!payload.isEmpty() && !payload.endsWith('\0'))
        return std::nullopt;
    Message decoded;
    bool credentials = false; // once the launch's credentials begin, no path follows
    for (qsizetype start = 0; start < payload.size();) {
        const qsizetype end = payload.indexOf('\0', start);
        const QByteArray entry = payload.mid(start, end - start);
        start = end + 1;
        if (entry.startsWith(channel::kTokenKey)) {
            decoded.launch.activationToken = entry.mid(qsizetype(sizeof channel::kTokenKey) - 1);
            credentials = true;
            continue;
        }
        if (entry.startsWith(channel::kStartupIdKey)) {
            decoded.launch.startupId = entry.mid(qsizetype(sizeof channel::kStartupIdKey) - 1);
            credentials = true;
            continue;
        }
        if (credentials || !entry.startsWith('/') ||
            static_cast<qsizetype>(decoded.paths.size()) == kMaxPaths)
            return std::nullopt; // empty or relative names, or too many
        decoded.paths.emplace_back(entry.toStdString());
    }
    return decoded;
}

} // namespace handoff

namespace {

int listenAt(const QByteArray& path) {
    auto address = channel::socketAddress(path.toStdString());
    if (!address)
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const mode_t previous = umask(077); // the socket file is the user's alone
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&*address), sizeof *address) == 0;
    umask(previous);
    if (!bound || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Serialises the connect-or-take-over step between processes; the kernel drops the lock of a
// process that dies. Gives up after a while rather than hang behind a stuck process.
class ElectionLock {
public:
    explicit ElectionLock(const QByteArray& path)
        : fd_(open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        for (int attempt = 0; fd_ >= 0 && attempt < 500; ++attempt) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~ElectionLock() {
        if (fd_ >= 0)
            close(fd_); // releases the lock
    }
    ElectionLock(const ElectionLock&) = delete;
    ElectionLock& operator=(const ElectionLock&) = delete;

private:
    int fd_;
};

} // namespace

QString singleInstanceSocketPath() {
    return QFile::decodeName(QByteArray::fromStdString(channel::socketPath()));
}

HandoffAttempt handOffOrListen(const QString& socketPath, const std::vector<FilePath>& paths) {
    const QByteArray path = QFile::encodeName(socketPath);
    const QByteArray message = handoff::encode(paths, handoff::launchCredentials());
    if (socketPath.isEmpty() || !channel::fits(paths.size(), static_cast<size_t>(message.size())))
        return {};
    ElectionLock lock(path + ".lock");
    if (const int fd = channel::connectTo(path.toStdString()); fd >= 0) {
        const bool delivered = channel::deliver(fd, message.toStdString());
        close(fd);
        if (!delivered)
            qCInfo(lcApp) << "the running Kivo did not take the files; opening them here";
        return {delivered, -1};
    }
    if (errno != ECONNREFUSED && errno != ENOENT)
        return {};
    unlink(path.constData()); // a stale socket of a process that died
    return {false, listenAt(path)};
}

SingleInstanceServer::SingleInstanceServer(int listeningSocket, QString socketPath, QObject* parent)
    : QObject(parent)
    , server_(new QLocalServer(this))
    , socketPath_(std::move(socketPath)) {
    if (listeningSocket < 0)
        return;
    if (!server_->listen(listeningSocket)) {
        close(listeningSocket);
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstanceServer::acceptConnections);
}

SingleInstanceServer::~SingleInstanceServer() {
    if (server_->isListening()) {
        server_->close();
        unlink(QFile::encodeName(socketPath_).constData());
    }
}

bool SingleInstanceServer::isListening() const {
    return server_->isListening();
}

void SingleInstanceServer::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                       &size) != 0 ||
            peer.uid != getuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A client that never finishes its message is dropped rather than kept forever.
        QTimer::singleShot(kClientTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void SingleInstanceServer::readFrom(QLocalSocket* socket) {
    QByteArray buffer = socket->property("kivoMessage").toByteArray();
    buffer += socket->read(handoff::kHeaderSize + handoff::kMaxPayload + 1 - buffer.size());
    socket->setProperty("kivoMessage", buffer);
    if (buffer.size() < handoff::kHeaderSize)
        return;
    const qsizetype length = handoff::payloadLength(buffer);
    if (length < 0 || buffer.size() > handoff::kHeaderSize + length) {
        qCDebug(lcApp) << "dropped a malformed or oversized hand-off message";
        socket->abort();
        return;
    }
    if (buffer.size() < handoff::kHeaderSize + length)
        return;
    const auto received = handoff::decode(buffer);
    if (!received) {
        qCDebug(lcApp) << "dropped a malformed hand-off message";
        socket->abort();
        return;
    }
    socket->write("\x06", 1);
    socket->flush();
    socket->disconnectFromServer();
    Q_EMIT filesReceived(received->paths, received->launch);
}

} // namespace kivo
