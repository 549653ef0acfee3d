// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

class QWindow;

namespace kivo {

// What the desktop gave a launch so that the window answering it may take the focus and end the
// launch's busy feedback; each empty when none was given.
struct LaunchCredentials {
    QByteArray activationToken; // Wayland's XDG activation
    QByteArray startupId;       // X11 startup notification ("..._TIME<timestamp>")
};

// Gives a window the keyboard for a launch this running process answered (a file opened from
// the file manager while Kivo runs). Window managers that prevent focus stealing let a window
// take the focus only on the launch's own credentials, and the desktop shows the launch as
// busy until it hears the launch was answered.
class WindowActivation {
public:
    virtual ~WindowActivation() = default;
    virtual void activate(QWindow& window, const LaunchCredentials& launch) = 0;
};

// Wayland's XDG activation and X11 startup notification, whichever the session runs on.
class LinuxWindowActivation final : public WindowActivation {
public:
    void activate(QWindow& window, const LaunchCredentials& launch) override;
};

} // namespace kivo
