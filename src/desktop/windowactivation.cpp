// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowactivation.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace kivo {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

// A value of a startup-notification message, quoted where it holds a space, a quote or a
// backslash.
QByteArray quoted(const QByteArray& value) {
    if (!value.contains(' ') && !value.contains('"') && !value.contains('\\'))
        return value;
    QByteArray escaped = value;
    escaped.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + escaped + '"';
}

// Tells the desktop's launch feedback that the launch `id` is answered. The message travels in
// 20-byte pieces, its NUL included, from a window made for it, by which receivers put the pieces
// together.
void sendStartupRemove(xcb_connection_t* connection, xcb_window_t root, const QByteArray& id) {
    const QByteArray message = "remove: ID=" + quoted(id) + '\0';
    const xcb_atom_t begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    if (begin == XCB_ATOM_NONE || more == XCB_ATOM_NONE)
        return;
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (qsizetype at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + at,
                    size_t(std::min<qsizetype>(20, message.size() - at)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
}

// Asks the window manager to activate `window` as of the launch's time: Qt's own request carries
// the time of this process's last input, older than the user's click in the file manager, and a
// window manager that prevents focus stealing may refuse it.
void requestActivationAt(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
                         uint32_t timestamp) {
    const xcb_atom_t active = atom(connection, "_NET_ACTIVE_WINDOW");
    if (active == XCB_ATOM_NONE)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = active;
    event.data.data32[0] = 1; // from an application
    event.data.data32[1] = timestamp;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

// The X server time an id of the form "..._TIME<timestamp>" was made at, or 0.
uint32_t launchTime(const QByteArray& id) {
    static const QRegularExpression time(QStringLiteral("_TIME(\\d{1,10})$"));
    const auto match = time.match(QString::fromLatin1(id));
    bool ok = false;
    const qulonglong value = match.hasMatch() ? match.captured(1).toULongLong(&ok) : 0;
    return ok && value <= 0xffffffffu ? uint32_t(value) : 0;
}

void completeX11Launch(QWindow& window, const QByteArray& startupId) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    if (const uint32_t timestamp = launchTime(startupId); timestamp != 0 && window.isExposed())
        requestActivationAt(connection, root, xcb_window_t(window.winId()), timestamp);
    sendStartupRemove(connection, root, startupId);
    xcb_flush(connection);
}

} // namespace

void LinuxWindowActivation::activate(QWindow& window, const LaunchCredentials& launch) {
    const bool wayland = QGuiApplication::platformName().startsWith(u"wayland");
    // Qt's activation request takes the token from the environment.
    if (wayland && !launch.activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", launch.activationToken);
    window.requestActivate();
    if (!wayland && !launch.startupId.isEmpty() &&
        QGuiApplication::platformName() == QLatin1String("xcb"))
        completeX11Launch(window, launch.startupId);
}

} // namespace kivo
