#include "viewerwindow.h"

#include "canvas/navigatoroverlay.h"
#include "canvas/windowautosize.h"
#include "canvas/zoomableimageview.h"
#include "statebinding.h"

#include <QKeyEvent>
#include <QSettings>
#include <QShortcut>
#include <QTimer>

namespace kivo {

namespace {

// The canvas and its navigator bound to the model, the arrow keys stepping through the folder,
// and a few keys for the zoom requests and display modes.
class CanvasContent : public QWidget {
public:
    CanvasContent(AppState& state, QWidget* parent)
        : QWidget(parent)
        , state_(state)
        , canvas_(new ZoomableImageView(this))
        , navigator_(new NavigatorOverlay(this)) {
        setFocusPolicy(Qt::StrongFocus);
        bindCanvasToState(*canvas_, state);
        bindNavigatorToState(*navigator_, state);
        connect(&state, &AppState::visibleRectChanged, this, [this] { placeNavigator(); });
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        canvas_->setGeometry(rect());
        placeNavigator();
    }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Right:
        case Qt::Key_Space:
            state_.navigate(+1);
            break;
        case Qt::Key_Left:
        case Qt::Key_Backspace:
            state_.navigate(-1);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            state_.setZoomAction(ZoomAction::zoomIn);
            break;
        case Qt::Key_Minus:
            state_.setZoomAction(ZoomAction::zoomOut);
            break;
        case Qt::Key_0:
            state_.setDisplayMode(DisplayMode::actualSize);
            break;
        case Qt::Key_F:
            state_.setDisplayMode(DisplayMode::fitToWindow);
            break;
        case Qt::Key_A:
            state_.setDisplayMode(DisplayMode::autoSizeWindow);
            break;
        case Qt::Key_R: // turns the file itself, or the picture on screen when it cannot
            state_.rotate(+1);
            break;
        case Qt::Key_L:
            state_.rotate(-1);
            break;
        case Qt::Key_C:
            if (event->modifiers() & Qt::ControlModifier)
                state_.copyImage();
            break;
        default:
            QWidget::keyPressEvent(event);
        }
    }

private:
    void placeNavigator() {
        constexpr int margin = 12;
        const QSize size = navigator_->sizeHint();
        navigator_->setGeometry(width() - size.width() - margin, height() - size.height() - margin,
                                size.width(), size.height());
        navigator_->raise();
    }

    AppState& state_;
    ZoomableImageView* canvas_;
    NavigatorOverlay* navigator_;
};

} // namespace

QWidget* makeViewerContent(AppState& state, ApplicationCommands&, QWidget* parent) {
    return new CanvasContent(state, parent);
}

ViewerWindow::ViewerWindow(const ViewerWindowContext& context, std::optional<FilePath> fileURL,
                           QWidget* parent)
    : QMainWindow(parent)
    , context_(context)
    , fileURL_(std::move(fileURL))
    , state_(std::make_unique<AppState>(context.model)) {
    setAttribute(Qt::WA_DeleteOnClose);
    QWidget* content = makeViewerContent(*state_, *context_.commands, this);
    setCentralWidget(content);
    content->setFocus();

    // The remembered size is the window's client size, the one measure that is the same before
    // and after a window manager adds its frame, so a window never grows by a title bar per
    // launch.
    new WindowAccessor(
        content, [this](QWidget* window) { restoreWindowSize(window); },
        [this](QSizeF) { AppState::saveWindowSize(*context_.model.settings, width(), height()); });
    resizeWindowProgrammatically(this, kDefaultSize);

    auto* settings = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this);
    connect(settings, &QShortcut::activated, context_.commands, &ApplicationCommands::showSettings);

    connect(state_.get(), &AppState::currentURLChanged, this, &ViewerWindow::retitle);
    connect(state_.get(), &AppState::currentIndexChanged, this, &ViewerWindow::retitle);
    connect(state_.get(), &AppState::imageFilesChanged, this, &ViewerWindow::retitle);
    retitle();
}

ViewerWindow::~ViewerWindow() {
    // The content reads the model until it is gone, so it goes first.
    std::unique_ptr<QWidget> content(takeCentralWidget());
}

void ViewerWindow::retitle() {
    setWindowTitle(state_->windowTitle());
}

void ViewerWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Once the window is on screen: the windows it opens for queued files must come after it.
    QTimer::singleShot(0, this, &ViewerWindow::attachViewerWindow);
}

void ViewerWindow::attachViewerWindow() {
    if (fileURL_ && !state_->currentURL())
        state_->openFile(*fileURL_);
    context_.router->registerState(*state_);
    context_.router->setOpenWindowAction(context_.openWindow);
    context_.router->flushPendingURLs();
    context_.router->closeEmptyWindows();
}

void ViewerWindow::restoreWindowSize(QWidget* window) {
    state_->setWindow(window);
    if (state_->displayMode() == DisplayMode::autoSizeWindow)
        return;
    const auto saved = AppState::savedWindowSize(*context_.model.settings);
    if (!saved)
        return;
    // A top-level's position is its top-left corner, so resizing keeps the left and top edges.
    resizeWindowProgrammatically(window, saved->toSize());
}

} // namespace kivo
