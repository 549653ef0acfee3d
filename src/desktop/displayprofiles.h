// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/pixels/displayprofile.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QScreen;

namespace kivo {

// Where the colour profile of each screen comes from: what pictures shown on it are converted
// to. Lives on the GUI thread.
class DisplayProfiles : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    // The profile of `screen`; sRGB when the desktop names none or one that cannot be used.
    virtual DisplayProfile profileFor(QScreen* screen) = 0;

Q_SIGNALS:
    // A screen's profile may have changed: whoever shows pictures asks again.
    void changed();
};

// The profiles a Linux desktop names, per screen, in this order:
// 1. colord (org.freedesktop.ColorManager on the system bus), which GNOME and KDE fill on X11 and
//    Wayland alike: the device whose "XRANDR_name" metadata is the screen's output name (what
//    QScreen::name() says, e.g. "eDP-1"), and the file of its first profile, which colord keeps
//    as the device's default. Its Changed and DeviceChanged signals mean asking again.
// 2. On X11, the _ICC_PROFILE root-window property of the first screen and _ICC_PROFILE_<n> of the
//    others (the order of QGuiApplication::screens()), as xcalib, dispwin and older desktops set
//    them; a PropertyNotify for one of them means asking again.
// 3. sRGB.
// What was read is kept per screen until one of those signals arrives.
class LinuxDisplayProfiles final : public DisplayProfiles {
    Q_OBJECT

public:
    explicit LinuxDisplayProfiles(QDBusConnection systemBus = QDBusConnection::systemBus(),
                                  QObject* parent = nullptr);
    ~LinuxDisplayProfiles() override;

    DisplayProfile profileFor(QScreen* screen) override;

private Q_SLOTS:
    void forgetAndNotify();
    void deviceChanged(const QDBusObjectPath&) { forgetAndNotify(); }

private:
    QByteArray colordProfile(const QString& output) const;
    QByteArray x11Profile(int screenIndex) const;

    QDBusConnection bus_;
    std::map<QString, DisplayProfile> known_;
    class X11Watch;
    std::unique_ptr<X11Watch> x11_;
};

} // namespace kivo
