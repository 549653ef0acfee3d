#include "appstate.h"

#include "folderwatcher.h"
#include "mouseactivitymonitor.h"
#include "statusbarclock.h"

#include <QSettings>
#include <algorithm>

namespace kivo {

namespace {

const QString kDisplayModeKey = QStringLiteral("displayMode");
const QString kOverlayModeKey = QStringLiteral("overlayMode");
const QString kShowThumbnailBarKey = QStringLiteral("showThumbnailBar");
const QString kMultiWindowModeKey = QStringLiteral("multiWindowMode");
const QString kLastWindowWidthKey = QStringLiteral("lastWindowWidth");
const QString kLastWindowHeightKey = QStringLiteral("lastWindowHeight");

// Assigns `value` to `field` and notifies only when it changed.
template <typename T, typename Signal>
void assign(AppState* state, T& field, T value, Signal changed) {
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(state->*changed)();
}

// A stored value read as a boolean the way a defaults store reads one: true, a non-zero number,
// or the text "true"/"yes"/a non-zero integer (INI files keep every value as text); anything
// else, garbage included, reads as false.
bool readBool(QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes"))
            return true;
        bool ok = false;
        const long long number = text.toLongLong(&ok);
        return ok && number != 0;
    }
    default:
        return false;
    }
}

double readDouble(QSettings& settings, const QString& key) {
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    return ok ? value : 0.0;
}

} // namespace

QString caseName(DisplayMode mode) {
    switch (mode) {
    case DisplayMode::fitToWindow:
        return QStringLiteral("fitToWindow");
    case DisplayMode::actualSize:
        return QStringLiteral("actualSize");
    case DisplayMode::autoSizeWindow:
        return QStringLiteral("autoSizeWindow");
    }
    return {};
}

QString caseName(OverlayMode mode) {
    switch (mode) {
    case OverlayMode::none:
        return QStringLiteral("none");
    case OverlayMode::metadata:
        return QStringLiteral("metadata");
    case OverlayMode::histogram:
        return QStringLiteral("histogram");
    }
    return {};
}

std::optional<DisplayMode> displayModeFromString(const QString& text) {
    for (auto mode :
         {DisplayMode::fitToWindow, DisplayMode::actualSize, DisplayMode::autoSizeWindow})
        if (caseName(mode) == text)
            return mode;
    return std::nullopt;
}

std::optional<OverlayMode> overlayModeFromString(const QString& text) {
    for (auto mode : {OverlayMode::none, OverlayMode::metadata, OverlayMode::histogram})
        if (caseName(mode) == text)
            return mode;
    return std::nullopt;
}

AppState::AppState(const AppStateContext& context, QObject* parent)
    : QObject(parent)
    , context_(context) {
    Q_ASSERT(context_.settings);
    QSettings& settings = *context_.settings;

    // Only a stored text that names a case is taken, and it is written back through the
    // ordinary setter; anything else leaves the default without writing it.
    const QVariant storedDisplay = settings.value(kDisplayModeKey);
    if (storedDisplay.typeId() == QMetaType::QString)
        if (auto mode = displayModeFromString(storedDisplay.toString()))
            setDisplayModeField(*mode);
    const QVariant storedOverlay = settings.value(kOverlayModeKey);
    if (storedOverlay.typeId() == QMetaType::QString)
        if (auto mode = overlayModeFromString(storedOverlay.toString()))
            setOverlayMode(*mode);
    setShowThumbnailBar(readBool(settings, kShowThumbnailBarKey));

    MouseActivityMonitor::add(this);
    new FolderWatcher(*this); // a child: keeps the current folder's list up to date
}

AppState::~AppState() {
    MouseActivityMonitor::remove(this);
}

StatusBarClock& AppState::clock() const {
    return context_.clock ? *context_.clock : StatusBarClock::system();
}

void AppState::setCurrentURL(std::optional<FilePath> url) {
    assign(this, currentURL_, std::move(url), &AppState::currentURLChanged);
}

void AppState::setCurrentImage(ImagePtr image) {
    // shared_ptr compares by the object it points to: identity, not pixels.
    assign(this, currentImage_, std::move(image), &AppState::currentImageChanged);
}

void AppState::setImageFiles(std::vector<FilePath> files) {
    // Compared as bytes: path's own operator== walks every component, which adds up over a
    // folder of many thousand files.
    const bool same =
        std::equal(files.begin(), files.end(), imageFiles_.begin(), imageFiles_.end(),
                   [](const FilePath& a, const FilePath& b) { return a.native() == b.native(); });
    if (same)
        return;
    imageFiles_ = std::move(files);
    Q_EMIT imageFilesChanged();
}

void AppState::removeImageFile(qsizetype index) {
    if (index < 0 || index >= static_cast<qsizetype>(imageFiles_.size()))
        return;
    imageFiles_.erase(imageFiles_.begin() + index);
    Q_EMIT imageFilesChanged();
}

void AppState::setCurrentIndex(qsizetype index) {
    assign(this, currentIndex_, index, &AppState::currentIndexChanged);
}

void AppState::setLoadError(std::optional<Failure> error) {
    const auto same = [](const std::optional<Failure>& a, const std::optional<Failure>& b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->reason == b->reason && a->message == b->message));
    };
    if (same(loadError_, error))
        return;
    loadError_ = std::move(error);
    Q_EMIT loadErrorChanged();
}

void AppState::setRotation(double degrees) {
    assign(this, rotation_, degrees, &AppState::rotationChanged);
}

void AppState::setMetadata(QList<MetadataEntry> rows) {
    assign(this, metadata_, std::move(rows), &AppState::metadataChanged);
}

void AppState::setDisplayModeField(DisplayMode mode) {
    context_.settings->setValue(kDisplayModeKey, caseName(mode));
    assign(this, displayMode_, mode, &AppState::displayModeChanged);
}

void AppState::setOverlayMode(OverlayMode mode) {
    context_.settings->setValue(kOverlayModeKey, caseName(mode));
    assign(this, overlayMode_, mode, &AppState::overlayModeChanged);
}

void AppState::setShowThumbnailBar(bool show) {
    context_.settings->setValue(kShowThumbnailBarKey, show);
    assign(this, showThumbnailBar_, show, &AppState::showThumbnailBarChanged);
}

void AppState::setZoomAction(std::optional<ZoomAction> action) {
    assign(this, zoomAction_, action, &AppState::zoomActionChanged);
}

void AppState::setMagnification(double value) {
    assign(this, magnification_, value, &AppState::magnificationChanged);
}

void AppState::setVisibleRect(const QRectF& rect) {
    assign(this, visibleRect_, rect, &AppState::visibleRectChanged);
}

void AppState::setScrollTarget(std::optional<QPointF> target) {
    assign(this, scrollTarget_, target, &AppState::scrollTargetChanged);
}

void AppState::setIsNavigatorDragging(bool dragging) {
    assign(this, isNavigatorDragging_, dragging, &AppState::isNavigatorDraggingChanged);
}

void AppState::setShowDeleteConfirmation(bool show) {
    assign(this, showDeleteConfirmation_, show, &AppState::showDeleteConfirmationChanged);
}

void AppState::setDeleteError(std::optional<QString> error) {
    assign(this, deleteError_, std::move(error), &AppState::deleteErrorChanged);
}

void AppState::setShowStatusBar(bool show) {
    assign(this, showStatusBar_, show, &AppState::showStatusBarChanged);
}

void AppState::setHideStatusBarDeadline(double seconds) {
    assign(this, hideStatusBarDeadline_, seconds, &AppState::hideStatusBarDeadlineChanged);
}

void AppState::setHideStatusBarTask(std::unique_ptr<QObject> task) {
    if (task == hideStatusBarTask_)
        return;
    hideStatusBarTask_ = std::move(task);
    Q_EMIT hideStatusBarTaskChanged();
}

void AppState::setPreloadedImages(std::map<FilePath, ImagePtr> images) {
    assign(this, preloadedImages_, std::move(images), &AppState::preloadedImagesChanged);
}

void AppState::storePreloadedImage(const FilePath& url, ImagePtr image) {
    if (image)
        preloadedImages_[url] = std::move(image);
    else
        preloadedImages_.erase(url);
    Q_EMIT preloadedImagesChanged();
}

ImagePtr AppState::takePreloadedImage(const FilePath& url) {
    auto it = preloadedImages_.find(url);
    if (it == preloadedImages_.end())
        return nullptr;
    ImagePtr image = std::move(it->second);
    preloadedImages_.erase(it);
    Q_EMIT preloadedImagesChanged();
    return image;
}

bool AppState::isMultiWindowMode(QSettings& settings) {
    if (!settings.contains(kMultiWindowModeKey))
        return true;
    return readBool(settings, kMultiWindowModeKey);
}

std::optional<QSizeF> AppState::savedWindowSize(QSettings& settings) {
    const double width = readDouble(settings, kLastWindowWidthKey);
    const double height = readDouble(settings, kLastWindowHeightKey);
    if (width >= 100.0 && height >= 100.0)
        return QSizeF(width, height);
    return std::nullopt;
}

void AppState::saveWindowSize(QSettings& settings, double width, double height) {
    settings.setValue(kLastWindowWidthKey, width);
    settings.setValue(kLastWindowHeightKey, height);
}

} // namespace kivo
