// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QTimer>
#include <functional>

class QWidget;

namespace kivo {

class ZoomScrollView;

// Whether a top-level window is in the normal state, the one where its size is its own (or the
// program's) to choose; a maximised, full-screen or minimised window's size is the screen's.
bool hasNormalState(const QWidget* window);

// Resizes the canvas's top-level window so the image shows at 100 % when the screen allows it,
// scaled down just enough to fit the screen's usable area otherwise, and centres the window on
// that area. Without a window or a screen, or while the window is maximised or full screen, it
// does nothing.
void resizeWindowForImage(ZoomScrollView* scrollView, QSizeF imageSize);

// The step that follows a window auto-size in a later turn of the event loop, once the new size
// has reached the canvas: fit against the final size, then `completion` (when given), then
// `report`.
void finishAutoSize(ZoomScrollView* scrollView, const std::function<void()>& completion,
                    const std::function<void()>& report);

// Resizes a top-level window's client area from code. Such resizes are never reported as the
// end of a user's live resize.
void resizeWindowProgrammatically(QWidget* window, QSize clientSize);

// Tells a window scene which top-level window hosts a widget (once), and when the user has
// finished resizing that window, with the outer frame size. Qt has no live-resize-end event: a
// resize counts as finished after a short quiet time, and neither sizes the program set itself
// (resizeWindowProgrammatically) nor those of a maximised or full-screen window are reported.
class WindowAccessor : public QObject {
    Q_OBJECT

public:
    static constexpr int kQuietTimeMs = 300;

    // Watches `widget`; the callbacks are fixed at construction.
    WindowAccessor(QWidget* widget, std::function<void(QWidget*)> onWindow,
                   std::function<void(QSizeF)> onLiveResizeEnd);

    bool hasReportedWindow() const { return hasReportedWindow_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void checkWindow();
    void reportResizeEnd();

    QPointer<QWidget> widget_;
    QPointer<QWidget> window_;
    std::function<void(QWidget*)> onWindow_;
    std::function<void(QSizeF)> onLiveResizeEnd_;
    bool hasReportedWindow_ = false;
    QTimer quietTimer_;
};

} // namespace kivo
