// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// When a viewer's picture reaches the screen, seen from the X server rather than from the
// viewer's own log, so that viewers without one (feh) are timed the same way: the middle of the
// viewer's window is read back every few milliseconds until it shows detail. Every viewer here
// keeps the window one flat colour until its picture is drawn, and the pictures timed have
// grain everywhere, so the first read with detail is the first paint of the picture (give or
// take one poll).
//
// Include after every Qt header: Xlib's macros (None, Bool...) clash with Qt's names.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <ctime>
#include <optional>
#include <unistd.h>

namespace kivo::bench {

class WindowPaint {
public:
    explicit WindowPaint(const char* display)
        : display_(XOpenDisplay(display)) {
        // A window unmapped between two requests must not end the harness.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~WindowPaint() {
        if (display_)
            XCloseDisplay(display_);
    }
    WindowPaint(const WindowPaint&) = delete;
    WindowPaint& operator=(const WindowPaint&) = delete;

    // CLOCK_MONOTONIC microseconds of the first read of process `pid`'s window whose middle
    // shows detail; none within `timeoutMs`.
    std::optional<long long> firstPicture(long pid, int timeoutMs) {
        const long long deadline = nowUs() + timeoutMs * 1000LL;
        while (display_ && nowUs() < deadline) {
            const long long before = nowUs();
            if (const Window window = windowOf(pid); window && showsDetail(window))
                return before; // the picture was there when this read started
            usleep(2000);
        }
        return std::nullopt;
    }

    static long long nowUs() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
    }

private:
    // The managed window of `pid`, from the window manager's client list.
    Window windowOf(long pid) {
        const Window root = DefaultRootWindow(display_);
        unsigned long count = 0;
        unsigned char* data = property(root, "_NET_CLIENT_LIST", XA_WINDOW, &count);
        Window found = 0;
        for (unsigned long i = 0; data && i < count && !found; ++i) {
            const Window window = reinterpret_cast<Window*>(data)[i];
            unsigned long n = 0;
            unsigned char* owner = property(window, "_NET_WM_PID", XA_CARDINAL, &n);
            if (owner && n == 1 && long(*reinterpret_cast<unsigned long*>(owner)) == pid)
                found = window;
            if (owner)
                XFree(owner);
        }
        if (data)
            XFree(data);
        return found;
    }

    unsigned char* property(Window window, const char* name, Atom type, unsigned long* count) {
        Atom actual = 0;
        int format = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 4096, False,
                               type, &actual, &format, count, &after, &data) != Success ||
            format != 32) {
            if (data)
                XFree(data);
            return nullptr;
        }
        return data;
    }

    // Whether a square in the middle of `window`, read from the screen, holds more than one
    // flat colour.
    bool showsDetail(Window window) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display_, window, &attributes) ||
            attributes.map_state != IsViewable)
            return false;
        constexpr int kSide = 64;
        int x = 0, y = 0;
        Window child = 0;
        const Window root = DefaultRootWindow(display_);
        XTranslateCoordinates(display_, window, root, (attributes.width - kSide) / 2,
                              (attributes.height - kSide) / 2, &x, &y, &child);
        XImage* image = XGetImage(display_, root, x, y, kSide, kSide, AllPlanes, ZPixmap);
        if (!image)
            return false;
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (int row = 0; row < kSide; row += 2)
            for (int column = 0; column < kSide; column += 2) {
                const unsigned long pixel = XGetPixel(image, column, row);
                for (int c = 0; c < 3; ++c) {
                    const int value = int((pixel >> (16 - 8 * c)) & 0xff);
                    low[c] = std::min(low[c], value);
                    high[c] = std::max(high[c], value);
                }
            }
        XDestroyImage(image);
        for (int c = 0; c < 3; ++c)
            if (high[c] - low[c] > 10)
                return true;
        return false;
    }

    Display* display_;
};

} // namespace kivo::bench
