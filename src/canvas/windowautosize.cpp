// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowautosize.h"

#include "canvasgeometry.h"
#include "zoomscrollview.h"

#include <QApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QWidget>

namespace kivo {

namespace {

// The client size a window was last given by code; a resize to it is not the user's.
const char* const kProgrammaticSize = "kivoProgrammaticSize";

QWidget* windowForAutoSize(ZoomScrollView* scrollView) {
    if (scrollView && scrollView->window()->isWindow() && scrollView->window()->isVisible())
        return scrollView->window();
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* candidate : QApplication::topLevelWidgets())
        if (candidate->isVisible())
            return candidate;
    return nullptr;
}

} // namespace

bool hasNormalState(const QWidget* window) {
    return !(window->windowState() &
             (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized));
}

void resizeWindowProgrammatically(QWidget* window, QSize clientSize) {
    // Noted as the size the window will take: held within its minimum and maximum, as resize
    // holds it, so a picture smaller than the window's minimum is not taken for the user's size.
    window->setProperty(
        kProgrammaticSize,
        clientSize.expandedTo(window->minimumSize()).boundedTo(window->maximumSize()));
    window->resize(clientSize);
}

void resizeWindowForImage(ZoomScrollView* scrollView, QSizeF imageSize) {
    QWidget* window = windowForAutoSize(scrollView);
    if (!window || !window->screen() || !hasNormalState(window))
        return;
    const QRectF visibleArea = window->screen()->availableGeometry();
    const QSizeF frame = window->frameGeometry().size();
    const QSizeF decorations = frame - QSizeF(window->geometry().size());
    QSizeF chrome = decorations;
    if (scrollView && scrollView->width() > 0 && scrollView->height() > 0)
        chrome = frame - QSizeF(scrollView->size());
    const auto target = canvas::autoSizeFrame(visibleArea, chrome, imageSize);
    if (!target)
        return;
    const QSizeF client = target->frame.size() - decorations;
    resizeWindowProgrammatically(window, client.toSize());
    window->move(target->frame.topLeft().toPoint()); // a top-level's position is its frame's
}

void finishAutoSize(ZoomScrollView* scrollView, const std::function<void()>& completion,
                    const std::function<void()>& report) {
    if (scrollView) {
        scrollView->setAutoSizing(false);
        scrollView->updateMinMagnification();
        scrollView->setFitMode(true);
        scrollView->setMagnification(scrollView->minMagnification());
    }
    if (completion)
        completion();
    if (report)
        report();
}

WindowAccessor::WindowAccessor(QWidget* widget, std::function<void(QWidget*)> onWindow,
                               std::function<void(QSizeF)> onLiveResizeEnd)
    : QObject(widget)
    , widget_(widget)
    , onWindow_(std::move(onWindow))
    , onLiveResizeEnd_(std::move(onLiveResizeEnd)) {
    quietTimer_.setSingleShot(true);
    quietTimer_.setInterval(kQuietTimeMs);
    connect(&quietTimer_, &QTimer::timeout, this, &WindowAccessor::reportResizeEnd);
    widget->installEventFilter(this);
    checkWindow();
}

void WindowAccessor::checkWindow() {
    if (!widget_ || !widget_->isVisible())
        return;
    QWidget* window = widget_->window();
    if (window == window_)
        return;
    if (window_)
        window_->removeEventFilter(this);
    window_ = window;
    window_->installEventFilter(this);
    if (!hasReportedWindow_) {
        hasReportedWindow_ = true;
        if (onWindow_)
            onWindow_(window);
    }
}

bool WindowAccessor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::ParentChange))
        checkWindow();
    if (watched == window_ && event->type() == QEvent::Resize && window_->isVisible()) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        const QVariant programmatic = window_->property(kProgrammaticSize);
        if (programmatic.isValid() && programmatic.toSize() == resize->size())
            quietTimer_.stop(); // the program's own resize ends whatever was pending
        else {
            window_->setProperty(kProgrammaticSize, QVariant()); // the window has left it
            quietTimer_.start();
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowAccessor::reportResizeEnd() {
    // A maximised or full-screen window has the screen's size, not one the user chose.
    if (window_ && onLiveResizeEnd_ && hasNormalState(window_))
        onLiveResizeEnd_(QSizeF(window_->frameGeometry().size()));
}

} // namespace kivo
