// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace kivo {

// How a desktop-portal request ended, as its Response signal reports it.
enum class PortalOutcome {
    succeeded, // response 0: the portal did what was asked
    cancelled, // response 1: the user dismissed the portal's dialog
    failed,    // response 2, an error reply, or the portal left the bus before answering
};

// One call to a desktop-portal method that answers through a request object: the call's reply
// only names the request, and the outcome comes later as that request's Response signal. The
// signal is subscribed under the path the portal will use (derived from our unique bus name and
// a handle token we choose) before the call is made, so an answer that follows the reply at once
// is never missed. Reports the outcome once, then deletes itself.
class PortalRequest final : public QObject {
    Q_OBJECT

public:
    // `message` is a portal method call whose options (its last argument) lack "handle_token";
    // the request adds it. `done` is called exactly once unless the parent goes first.
    static void start(QDBusConnection bus, QDBusMessage message, const QString& handleToken,
                      std::function<void(PortalOutcome)> done, QObject* parent);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    PortalRequest(QDBusConnection bus, std::function<void(PortalOutcome)> done, QObject* parent);
    bool watch(const QString& path);
    void unwatch();
    void finish(PortalOutcome outcome);

    QDBusConnection bus_;
    std::function<void(PortalOutcome)> done_;
    QString watchedPath_;
    bool finished_ = false;
};

} // namespace kivo
