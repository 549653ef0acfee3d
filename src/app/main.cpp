#include "canvas/navigatoroverlay.h"
#include "canvas/windowautosize.h"
#include "canvas/zoomableimageview.h"
#include "desktop/desktopservices.h"
#include "imaging/workerpools.h"
#include "model/appstate.h"
#include "model/folderlisting.h"
#include "panels/metadata.h"
#include "viewer/statebinding.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSettings>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

// Qt aborts with a cryptic message when no display can be reached; say it plainly instead.
bool displayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true; // offscreen, vnc, ...: the user chose a platform that needs no display
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

// The file to open: the first argument as given (file names are bytes), or the first picture
// of the bundled sample folder.
std::optional<kivo::FilePath> fileToOpen(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc > 1) {
        std::error_code error;
        fs::path path = fs::absolute(fs::path(argv[1]), error);
        return error ? fs::path(argv[1]) : path.lexically_normal();
    }
    const auto listed = kivo::listSupportedImages(fs::path(KIVO_SAMPLES_DIR));
    if (!listed || listed->empty())
        return std::nullopt;
    return listed->front();
}

// A plain window around the canvas until the full viewer window exists: the canvas and its
// navigator bound to the model, the arrow keys stepping through the folder, and a few keys for
// the zoom requests and display modes.
class CanvasWindow : public QWidget {
public:
    CanvasWindow(kivo::AppState& state, QSettings& settings, QThreadPool& animationPool)
        : state_(state)
        , canvas_(new kivo::ZoomableImageView(this, &animationPool))
        , navigator_(new kivo::NavigatorOverlay(this)) {
        kivo::bindCanvasToState(*canvas_, state);
        kivo::bindNavigatorToState(*navigator_, state);
        new kivo::WindowAccessor(
            canvas_, [&state](QWidget* window) { state.setWindow(window->windowHandle()); },
            [&settings](QSizeF size) {
                kivo::AppState::saveWindowSize(settings, size.width(), size.height());
            });
        const auto retitle = [this] { setWindowTitle(state_.windowTitle()); };
        QObject::connect(&state, &kivo::AppState::currentURLChanged, this, retitle);
        QObject::connect(&state, &kivo::AppState::currentIndexChanged, this, retitle);
        QObject::connect(&state, &kivo::AppState::imageFilesChanged, this, retitle);
        QObject::connect(&state, &kivo::AppState::visibleRectChanged, this,
                         [this] { placeNavigator(); });
        setWindowTitle(state.windowTitle());
        const auto saved = kivo::AppState::savedWindowSize(settings);
        resize(saved ? saved->toSize() : QSize(900, 650));
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        canvas_->setGeometry(rect());
        placeNavigator();
    }

    void keyPressEvent(QKeyEvent* event) override {
        using kivo::ZoomAction;
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
            state_.setDisplayMode(kivo::DisplayMode::actualSize);
            break;
        case Qt::Key_F:
            state_.setDisplayMode(kivo::DisplayMode::fitToWindow);
            break;
        case Qt::Key_A:
            state_.setDisplayMode(kivo::DisplayMode::autoSizeWindow);
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

    kivo::AppState& state_;
    kivo::ZoomableImageView* canvas_;
    kivo::NavigatorOverlay* navigator_;
};

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fputs("kivo: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Start Kivo from a graphical session, or run it under Xvfb.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kivo"));
    QApplication::setApplicationName(QStringLiteral("Kivo"));
    QSettings settings;

    const auto desktop = kivo::DesktopServices::createForThisDesktop();
    kivo::WorkerPools pools;
    kivo::AppState state({&settings, &pools, nullptr, desktop.get(), kivo::extractMetadata});
    CanvasWindow window(state, settings, pools.animation);
    window.show();
    if (const auto file = fileToOpen(argc, argv))
        state.openFile(*file);
    return app.exec();
}
