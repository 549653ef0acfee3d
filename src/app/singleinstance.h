// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/windowactivation.h"
#include "handoffchannel.h"
#include "imaging/filepath.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace kivo {

// The hand-off's messages as the running process reads them; the wire format and its limits are
// described in handoffchannel.h, shared with the launcher.
namespace handoff {
inline constexpr qsizetype kMaxPayload = qsizetype(channel::kMaxPayload);
inline constexpr qsizetype kMaxPaths = qsizetype(channel::kMaxPaths);
inline constexpr qsizetype kHeaderSize = qsizetype(channel::kHeaderSize);

struct Message {
    std::vector<FilePath> paths;
    // What lets the running process's window take the focus for this launch.
    LaunchCredentials launch;
};

QByteArray encode(const std::vector<FilePath>& paths, const LaunchCredentials& launch = {});
// A complete message, or nothing when it is malformed or too large.
std::optional<Message> decode(const QByteArray& message);
// What the desktop gave this launch.
LaunchCredentials launchCredentials();
// The payload length a header announces, or -1 when the header is malformed or too large.
qsizetype payloadLength(const QByteArray& header);
} // namespace handoff

// Where the channel of this user and this display lives: a folder only the user can enter
// ($XDG_RUNTIME_DIR when it is private, else a private folder made under the temporary folder).
// Empty when no such folder can be had; Kivo then runs without a channel.
QString singleInstanceSocketPath();

// The outcome of trying to reach a running Kivo before this process starts its own windows.
struct HandoffAttempt {
    bool delivered = false;   // the running process took the files: exit now
    int listeningSocket = -1; // else: a bound, listening socket this process now serves, or -1
};

// Hands `paths` (and this launch's credentials) to the Kivo already serving `socketPath`, or,
// when none answers (no socket, or a stale one left by a crashed process), takes the socket over. A
// lock beside the socket makes two processes started at the same moment end with exactly one
// server. Plain POSIX calls, so it runs before the GUI is set up and a hand-off never pays for
// connecting to the display.
HandoffAttempt handOffOrListen(const QString& socketPath, const std::vector<FilePath>& paths);

// The running instance's end: accepts connections from this user only, reads each message
// without blocking the GUI thread, drops malformed, oversized and slow ones, and reports every
// well-formed message's paths in order.
class SingleInstanceServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kClientTimeoutMs = 5000;

    // Serves `listeningSocket` (from handOffOrListen); the socket file is removed on destruction.
    SingleInstanceServer(int listeningSocket, QString socketPath, QObject* parent = nullptr);
    ~SingleInstanceServer() override;
    bool isListening() const;

Q_SIGNALS:
    void filesReceived(const std::vector<kivo::FilePath>& paths,
                       const kivo::LaunchCredentials& launch);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);

    QLocalServer* server_;
    QString socketPath_;
};

} // namespace kivo
