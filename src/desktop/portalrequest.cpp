// SPDX-License-Identifier: GPL-3.0-or-later
#include "portalrequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

namespace kivo {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// The portal may have to be started by D-Bus first; after that it replies at once (its dialog
// runs after the reply, and its answer comes through Response).
constexpr int kReplyTimeoutMs = 10000;

// Where the portal will put the request: our unique name without its colon, dots made
// underscores, and the token we pass.
QString expectedRequestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

} // namespace

PortalRequest::PortalRequest(QDBusConnection bus, std::function<void(PortalOutcome)> done,
                             QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , done_(std::move(done)) {}

void PortalRequest::start(QDBusConnection bus, QDBusMessage message, const QString& handleToken,
                          std::function<void(PortalOutcome)> done, QObject* parent) {
    auto* request = new PortalRequest(bus, std::move(done), parent);
    QList<QVariant> arguments = message.arguments();
    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), handleToken);
    arguments.append(options);
    message.setArguments(arguments);
    if (!request->watch(expectedRequestPath(bus, handleToken))) {
        request->finish(PortalOutcome::failed);
        return;
    }

    // A portal that goes away while its dialog is open will never answer.
    auto* vanished = new QDBusServiceWatcher(kPortalService, bus,
                                             QDBusServiceWatcher::WatchForUnregistration, request);
    QObject::connect(vanished, &QDBusServiceWatcher::serviceUnregistered, request,
                     [request] { request->finish(PortalOutcome::failed); });

    auto* reply = new QDBusPendingCallWatcher(bus.asyncCall(message, kReplyTimeoutMs), request);
    QObject::connect(
        reply, &QDBusPendingCallWatcher::finished, request,
        [request](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (finished->isError() || finished->reply().arguments().isEmpty()) {
                request->finish(PortalOutcome::failed);
                return;
            }
            // Portals older than the handle token choose their own path.
            const QString path =
                qvariant_cast<QDBusObjectPath>(finished->reply().arguments().front()).path();
            if (!request->finished_ && path != request->watchedPath_) {
                request->unwatch();
                if (!request->watch(path))
                    request->finish(PortalOutcome::failed);
            }
        });
}

bool PortalRequest::watch(const QString& path) {
    watchedPath_ = path;
    return bus_.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::unwatch() {
    bus_.disconnect(kPortalService, watchedPath_, kRequestInterface, QStringLiteral("Response"),
                    this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint response, const QVariantMap&) {
    finish(response == 0   ? PortalOutcome::succeeded
           : response == 1 ? PortalOutcome::cancelled
                           : PortalOutcome::failed);
}

void PortalRequest::finish(PortalOutcome outcome) {
    if (finished_)
        return;
    finished_ = true;
    unwatch();
    deleteLater();
    done_(outcome);
}

} // namespace kivo
