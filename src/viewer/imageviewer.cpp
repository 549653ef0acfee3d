// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageviewer.h"

#include "canvas/navigatoroverlay.h"
#include "canvas/tilelayer.h"
#include "canvas/zoomableimageview.h"
#include "controlgroups.h"
#include "emptystate.h"
#include "menubar.h"
#include "model/appstate.h"
#include "statebinding.h"
#include "statuspill.h"
#include "vieweralerts.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <memory>

namespace kivo {

Q_LOGGING_CATEGORY(lcViewer, "kivo.viewer", QtWarningMsg)

namespace {

// The first local file among the dropped items, if any.
std::optional<FilePath> firstDroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return std::nullopt;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return filePathFromText(url.toLocalFile());
    return std::nullopt;
}

OverlayMode nextOverlay(OverlayMode mode) {
    switch (mode) {
    case OverlayMode::none:
        return OverlayMode::metadata;
    case OverlayMode::metadata:
        return OverlayMode::histogram;
    case OverlayMode::histogram:
        break;
    }
    return OverlayMode::none;
}

// Modified keys belong to the menus' shortcuts; the viewer's keys are the bare ones (Shift
// allowed, since some layouts need it for a character).
bool hasCommandModifier(const QKeyEvent& event) {
    return event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

} // namespace

ImageViewer::ImageViewer(AppState& state, QWidget* parent, const OverlayServices& services)
    : QWidget(parent)
    , state_(state)
    , emptyState_(new EmptyState(state, this))
    , statusPill_(new StatusPill(state, this))
    , alerts_(new ViewerAlerts(state, *this))
    , overlays_(new ViewerOverlays(state, services, *this))
    , tilePool_(services.tilePool) {
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);

    connect(&state, &AppState::currentImageChanged, this, &ImageViewer::showCurrentImage);
    connect(overlays_, &ViewerOverlays::layoutChanged, this, [this] { placeNavigator(); });
    const auto retitle = [this] { retitleWindow(); };
    connect(&state, &AppState::currentURLChanged, this, retitle);
    connect(&state, &AppState::currentIndexChanged, this, retitle);
    connect(&state, &AppState::imageFilesChanged, this, retitle);
    showCurrentImage();
}

ImageViewer::~ImageViewer() = default;

ZoomableImageView* ImageViewer::canvas() const {
    return canvas_;
}
NavigatorOverlay* ImageViewer::navigator() const {
    return navigator_;
}

void ImageViewer::showCurrentImage() {
    const bool hasImage = state_.currentImage() != nullptr;
    if (hasImage && !canvas_) {
        canvas_ = new ZoomableImageView(this);
        if (PannableImageView* view = canvas_->coordinator().imageView())
            view->tileLayer().setPool(tilePool_);
        bindCanvasToState(*canvas_, state_);
        navigator_ = new NavigatorOverlay(this);
        bindNavigatorToState(*navigator_, state_);
        canvas_->scheduleUpdate();
    } else if (!hasImage && canvas_) {
        // A click on the canvas may have led here: it goes once its event is handled.
        for (QWidget* layer : {static_cast<QWidget*>(canvas_), static_cast<QWidget*>(navigator_)}) {
            layer->hide();
            layer->deleteLater();
        }
        canvas_ = nullptr;
        navigator_ = nullptr;
    }
    emptyState_->setVisible(!hasImage);
    statusPill_->setVisible(hasImage);
    placeLayers();
    if (canvas_)
        canvas_->show();
    if (hasShownOnce_) {
        setFocus(Qt::OtherFocusReason);
        state_.showStatusBarTemporarily();
    }
}

void ImageViewer::placeLayers() {
    emptyState_->setGeometry(rect());
    if (canvas_) {
        canvas_->setGeometry(rect());
        canvas_->lower();
    }
    placeNavigator();
    statusPill_->place();
    statusPill_->raise();
}

void ImageViewer::placeNavigator() {
    overlays_->place(navigator_, statusPill_);
}

void ImageViewer::retitleWindow() {
    if (QWidget* host = window(); host != this || isWindow())
        host->setWindowTitle(state_.windowTitle());
}

void ImageViewer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void ImageViewer::resizeEvent(QResizeEvent*) {
    state_.setViewSize(size()); // the canvas fills the viewer: levels are decoded to fit it
    placeLayers();
}

void ImageViewer::showEvent(QShowEvent*) {
    retitleWindow();
    if (!hasShownOnce_) {
        hasShownOnce_ = true;
        setFocus(Qt::OtherFocusReason);
    }
}

bool ImageViewer::focusNextPrevChild(bool) {
    return false; // Tab cycles the overlays instead of moving focus
}

void ImageViewer::keyPressEvent(QKeyEvent* event) {
    if (handleKey(*event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool ImageViewer::handleKey(QKeyEvent& event) {
    if (hasCommandModifier(event))
        return false;
    switch (event.key()) {
    case Qt::Key_Right:
    case Qt::Key_Space:
        state_.navigate(+1);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        state_.navigate(-1);
        return true;
    case Qt::Key_Tab:
        cycleOverlay();
        return true;
    case Qt::Key_Escape:
        escape();
        return true;
    case Qt::Key_F:
        if (event.text() != QLatin1String("f"))
            return false;
        toggleFullScreen(*window());
        return true;
    default:
        break;
    }
    // Keyboards that send the delete or backspace characters without the Backspace key code.
    if (event.text() == QChar(0x7f) || event.text() == QChar(0x08)) {
        state_.navigate(-1);
        return true;
    }
    return false;
}

void ImageViewer::cycleOverlay() {
    state_.setOverlayMode(nextOverlay(state_.overlayMode()));
}

void ImageViewer::escape() {
    if (state_.overlayMode() != OverlayMode::none) {
        state_.setOverlayMode(OverlayMode::none);
        return;
    }
    QWidget* host = window();
    if (host->isFullScreen())
        toggleFullScreen(*host);
    else
        host->close();
}

void ImageViewer::dragEnterEvent(QDragEnterEvent* event) {
    if (firstDroppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageViewer::dragMoveEvent(QDragMoveEvent* event) {
    if (firstDroppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageViewer::dropEvent(QDropEvent* event) {
    const auto file = firstDroppedFile(event->mimeData());
    if (!file) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    qCDebug(lcViewer) << "dropped" << displayPath(*file);
    state_.openFile(*file);
}

void ImageViewer::contextMenuEvent(QContextMenuEvent* event) {
    auto menu = std::make_unique<QMenu>(this);
    fillContextMenu(*menu, state_);
    if (menu->isEmpty())
        return;
    // A popup, not a nested event loop: the window may close while the menu is up (a file routed
    // elsewhere closes an empty window), and then takes its menu with it.
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu.release()->popup(event->globalPos()); // this viewer owns it now
}

} // namespace kivo
