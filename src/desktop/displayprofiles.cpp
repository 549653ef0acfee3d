// SPDX-License-Identifier: GPL-3.0-or-later
#include "displayprofiles.h"

#include <QAbstractNativeEventFilter>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>

namespace kivo {

namespace {

const QString kColord = QStringLiteral("org.freedesktop.ColorManager");
const QString kColordPath = QStringLiteral("/org/freedesktop/ColorManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// colord answers at once; a bus that does not is not waited for long with a window on screen.
constexpr int kColordTimeoutMs = 1000;
// Larger than any display profile worth reading; DisplayProfile refuses what is larger still.
constexpr qint64 kMaxProfileBytes = 4 * 1024 * 1024 + 1;
// _ICC_PROFILE, _ICC_PROFILE_1 ... for this many screens.
constexpr int kWatchedScreens = 8;

QByteArray atomName(int screenIndex) {
    return screenIndex == 0 ? QByteArray("_ICC_PROFILE")
                            : "_ICC_PROFILE_" + QByteArray::number(screenIndex);
}

} // namespace

// The root-window properties of an X server, read through Qt's own connection, and the
// PropertyNotify events that say one of them changed.
class LinuxDisplayProfiles::X11Watch final : public QAbstractNativeEventFilter {
public:
    X11Watch(xcb_connection_t* connection, LinuxDisplayProfiles& owner)
        : connection_(connection)
        , owner_(owner) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        std::vector<xcb_intern_atom_cookie_t> cookies;
        for (int i = 0; i < kWatchedScreens; ++i) {
            const QByteArray name = atomName(i);
            cookies.push_back(xcb_intern_atom(connection_, 0, uint16_t(name.size()), name.data()));
        }
        for (const auto& cookie : cookies) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
            atoms_.push_back(reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
            std::free(reply);
        }
        // PropertyNotify on the root window, on top of the events Qt already asked for there.
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, root_), nullptr);
        const uint32_t mask =
            (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
        std::free(attributes);
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~X11Watch() override {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    QByteArray profile(int screenIndex) const {
        if (screenIndex < 0 || screenIndex >= kWatchedScreens ||
            atoms_[size_t(screenIndex)] == XCB_ATOM_NONE)
            return {};
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, root_, atoms_[size_t(screenIndex)],
                             XCB_GET_PROPERTY_TYPE_ANY, 0, uint32_t(kMaxProfileBytes / 4 + 1)),
            nullptr);
        QByteArray bytes;
        if (reply && reply->format == 8)
            bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        std::free(reply);
        return bytes;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window == root_ &&
            std::find(atoms_.begin(), atoms_.end(), notify->atom) != atoms_.end())
            // Not from inside Qt's event handling: whoever asks again reads the property.
            QTimer::singleShot(0, &owner_, &LinuxDisplayProfiles::forgetAndNotify);
        return false;
    }

private:
    xcb_connection_t* connection_;
    LinuxDisplayProfiles& owner_;
    xcb_window_t root_ = 0;
    std::vector<xcb_atom_t> atoms_;
};

LinuxDisplayProfiles::LinuxDisplayProfiles(QDBusConnection systemBus, QObject* parent)
    : DisplayProfiles(parent)
    , bus_(std::move(systemBus)) {
    if (bus_.isConnected()) {
        bus_.connect(kColord, kColordPath, kColord, QStringLiteral("Changed"), this,
                     SLOT(forgetAndNotify()));
        bus_.connect(kColord, kColordPath, kColord, QStringLiteral("DeviceChanged"), this,
                     SLOT(deviceChanged(QDBusObjectPath)));
    }
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        x11 && x11->connection())
        x11_ = std::make_unique<X11Watch>(x11->connection(), *this);
}

LinuxDisplayProfiles::~LinuxDisplayProfiles() = default;

void LinuxDisplayProfiles::forgetAndNotify() {
    known_.clear();
    Q_EMIT changed();
}

DisplayProfile LinuxDisplayProfiles::profileFor(QScreen* screen) {
    if (!screen)
        return {};
    const QString name = screen->name();
    if (auto found = known_.find(name); found != known_.end())
        return found->second;
    DisplayProfile profile;
    if (const QByteArray icc = colordProfile(name); !icc.isEmpty()) {
        profile = DisplayProfile::fromIcc(icc, QStringLiteral("colord's for ") + name)
                      .value_or(DisplayProfile());
    } else if (x11_) {
        const int index = int(QGuiApplication::screens().indexOf(screen));
        if (const QByteArray atom = x11_->profile(index); !atom.isEmpty())
            profile = DisplayProfile::fromIcc(atom, QString::fromLatin1(atomName(index)))
                          .value_or(DisplayProfile());
    }
    known_.emplace(name, profile);
    return profile;
}

namespace {

QVariant colordProperty(const QDBusConnection& bus, const QString& path, const QString& interface,
                        const QString& name) {
    QDBusMessage get =
        QDBusMessage::createMethodCall(kColord, path, kProperties, QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, kColordTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

} // namespace

QByteArray LinuxDisplayProfiles::colordProfile(const QString& output) const {
    if (!bus_.isConnected() || output.isEmpty())
        return {};
    QDBusMessage find = QDBusMessage::createMethodCall(kColord, kColordPath, kColord,
                                                       QStringLiteral("FindDeviceByProperty"));
    find << QStringLiteral("XRANDR_name") << output;
    const QDBusMessage reply = bus_.call(find, QDBus::Block, kColordTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QString device = qdbus_cast<QDBusObjectPath>(reply.arguments().first()).path();
    // The device's profiles, its default first.
    const auto profiles = qdbus_cast<QList<QDBusObjectPath>>(
        colordProperty(bus_, device, QStringLiteral("org.freedesktop.ColorManager.Device"),
                       QStringLiteral("Profiles")));
    if (profiles.isEmpty())
        return {};
    const QString file = colordProperty(bus_, profiles.first().path(),
                                        QStringLiteral("org.freedesktop.ColorManager.Profile"),
                                        QStringLiteral("Filename"))
                             .toString();
    QFile profile(file);
    if (file.isEmpty() || !profile.open(QIODevice::ReadOnly))
        return {};
    return profile.read(kMaxProfileBytes);
}

} // namespace kivo
