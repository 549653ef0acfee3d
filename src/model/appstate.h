// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/image.h"
#include "imaging/metadata/metadataentry.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"
#include "imaging/tasks/pendingresult.h"
#include "preferences.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QWindow>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace kivo {

class DesktopServices;
class FolderWatcher;
class NeighbourPreloader;
class PictureLoader;
template <class T> class PendingResult;
struct EarlyDecode;
class StatusBarAutoHide;
class StatusBarClock;
class TrashUndo;
struct WorkerPools;

enum class ZoomAction { fit, actualSize, zoomIn, zoomOut };

// An application that can open the current file.
struct OpenWithApp {
    QString name; // the application's display name
    QString url;  // what identifies the application to the desktop (its .desktop entry id)
    friend bool operator==(const OpenWithApp&, const OpenWithApp&) = default;
};

// The rows of the metadata panel for a file; the composing application supplies the reader.
using MetadataReader = std::function<QList<MetadataEntry>(const FilePath&)>;

// What an AppState needs from outside, passed in rather than reached for, so tests can give it a
// private preference store, a clock they control and desktop services of their own.
struct AppStateContext {
    QSettings* settings = nullptr;      // required: the per-user preference store
    WorkerPools* pools = nullptr;       // the application's threads; null: nothing is preloaded
    StatusBarClock* clock = nullptr;    // null: the system clock
    DesktopServices* desktop = nullptr; // null: desktop actions do nothing
    MetadataReader readMetadata = {};   // null: no metadata rows
};

// The model of one viewer window and the single source of truth for everything it shows.
// Confined to the GUI thread. Every observable field has one <field>Changed signal, emitted only
// when an assignment changes the value (images by identity); in-place changes of imageFiles and
// preloadedImages always notify.
class AppState : public QObject {
    Q_OBJECT

public:
    explicit AppState(const AppStateContext& context, QObject* parent = nullptr);
    ~AppState() override;

    // --- fields, in declaration order ---
    const std::optional<FilePath>& currentURL() const { return currentURL_; }
    void setCurrentURL(std::optional<FilePath> url);

    const ImagePtr& currentImage() const { return currentImage_; }
    void setCurrentImage(ImagePtr image);

    const std::vector<FilePath>& imageFiles() const { return imageFiles_; }
    void setImageFiles(std::vector<FilePath> files);
    void removeImageFile(qsizetype index);

    qsizetype currentIndex() const { return currentIndex_; }
    void setCurrentIndex(qsizetype index);

    double rotation() const { return rotation_; }
    void setRotation(double degrees);

    const QList<MetadataEntry>& metadata() const { return metadata_; }
    void setMetadata(QList<MetadataEntry> rows);

    DisplayMode displayMode() const { return displayMode_; }
    void setDisplayModeField(DisplayMode mode); // the plain field write; see setDisplayMode

    OverlayMode overlayMode() const { return overlayMode_; }
    void setOverlayMode(OverlayMode mode);

    bool showThumbnailBar() const { return showThumbnailBar_; }
    void setShowThumbnailBar(bool show);

    // The hosting window, held weakly: the parent of the dialogs opened for this model, and
    // what the application closes when the window shows no file. Not observable.
    QWindow* window() const { return window_; }
    void setWindow(QWindow* window) { window_ = window; }

    // The colour profile of the screen the window is on, which pictures are converted to. A
    // change converts the picture shown again, in place, and drops the preloaded neighbours.
    const DisplayProfile& displayProfile() const { return displayProfile_; }
    void setDisplayProfile(const DisplayProfile& profile);

    // The size of the area pictures are shown in, in points, as the view last reported it;
    // levels are decoded to fill it. Until the view says, the window's size. Not observable.
    void setViewSize(QSize size) { viewSize_ = size; }

    // The memory the tiles of a picture too large to hold whole may take, from the preference
    // store; also the largest bitmap of one that is copied or turned whole. Not observable.
    qint64 tileCacheBytes() const;

    const std::optional<ZoomAction>& zoomAction() const { return zoomAction_; }
    void setZoomAction(std::optional<ZoomAction> action);

    double magnification() const { return magnification_; }
    void setMagnification(double value);

    const QRectF& visibleRect() const { return visibleRect_; }
    void setVisibleRect(const QRectF& rect);

    const std::optional<QPointF>& scrollTarget() const { return scrollTarget_; }
    void setScrollTarget(std::optional<QPointF> target);

    bool isNavigatorDragging() const { return isNavigatorDragging_; }
    void setIsNavigatorDragging(bool dragging);

    bool showDeleteConfirmation() const { return showDeleteConfirmation_; }
    void setShowDeleteConfirmation(bool show);

    const std::optional<QString>& deleteError() const { return deleteError_; }
    void setDeleteError(std::optional<QString> error);

    bool showStatusBar() const { return showStatusBar_; }
    void setShowStatusBar(bool show);

    bool hasHideStatusBarTask() const;

    double hideStatusBarDeadline() const;

    // A file is current but nothing of it is shown yet, and nothing says it cannot be: its
    // first level is still decoding. Derived from currentURL, currentImage and loadError.
    bool isLoading() const { return currentURL_ && !currentImage_ && !loadError_; }

    // Why the current file is not shown; none while it is (or when there is no current file).
    const std::optional<Failure>& loadError() const { return loadError_; }
    void setLoadError(std::optional<Failure> error);

    const std::map<FilePath, ImagePtr>& preloadedImages() const;
    void setPreloadedImages(std::map<FilePath, ImagePtr> images);
    void storePreloadedImage(const FilePath& url, ImagePtr image);
    ImagePtr takePreloadedImage(const FilePath& url);

    // --- operations ---
    void loadFolder(const FilePath& url);
    // Shows `url`; a folder shows its first picture, or says it holds none.
    void openFile(const FilePath& url);
    // Starts decoding a file the window is about to open, for a view of about `box` device
    // pixels, so the decode runs while the window is built; openFile then takes it over.
    void prefetch(const FilePath& url, QSize box);
    void prefetch(const EarlyDecode& early);
    void loadCurrentImage();
    void reloadCurrentImage();
    void preloadNeighbors();
    void navigate(int offset);
    void goToIndex(qsizetype index);
    void setDisplayMode(DisplayMode mode);
    void applyDisplayModeZoom();
    QString windowTitle() const;

    void rotate(int quarterTurns);
    bool saveRotation(const FilePath& url, int quarterTurns);

    void showStatusBarTemporarily();

    void copyImage();
    void revealInFileManager();
    QList<OpenWithApp> openWithApps() const;
    void openWith(const QString& appUrl);
    void chooseOtherApp();
    void deleteCurrentImage();
    bool canUndoMoveToTrash() const;
    void undoMoveToTrash(); // the most recent move this window made

    // --- preferences that need no instance ---
    static bool isMultiWindowMode(QSettings& settings);
    static std::optional<QSizeF> savedWindowSize(QSettings& settings);
    static void saveWindowSize(QSettings& settings, double width, double height);

Q_SIGNALS:
    void currentURLChanged();
    void displayProfileChanged();
    void currentImageChanged();
    void imageFilesChanged();
    void currentIndexChanged();
    void rotationChanged();
    void metadataChanged();
    void displayModeChanged();
    void overlayModeChanged();
    void showThumbnailBarChanged();
    void zoomActionChanged();
    void magnificationChanged();
    void visibleRectChanged();
    void scrollTargetChanged();
    void isNavigatorDraggingChanged();
    void showDeleteConfirmationChanged();
    void deleteErrorChanged();
    void showStatusBarChanged();
    void hideStatusBarTaskChanged();
    void hideStatusBarDeadlineChanged();
    void preloadedImagesChanged();
    void loadErrorChanged();
    void trashUndoChanged();

private:
    void openImageFile(const FilePath& url);
    bool isNeighbour(const FilePath& url) const;
    void showImage(ImagePtr image);
    // Shows `url`: `preloaded` at once when given, else whatever decodes first; the full
    // resolution follows through the picture loader.
    void startShowing(const FilePath& url, ImagePtr preloaded);
    void adoptLevel(ImagePtr image);
    void copyBestLevel(const Failure& whyNotFull);
    void copyTiledPicture();
    // Whether a pixel rewrite of the current picture would hold more than the tile budget; says
    // why in the error alert when it would.
    bool refusePixelTurn(const FilePath& url);
    void preloadNeighborsIfWaiting();
    // The device pixels a picture is shown in: the window (or, sizing itself to the picture,
    // its screen); invalid when it is shown at full size or there is no window to ask.
    QSize levelBox() const;
    // Asks for a sharper level of the current picture when the one shown cannot give what the
    // view needs: it looks closer, the window grew, or the histogram counts every pixel.
    void needSharperPicture(bool magnificationIsCurrent);
    void needSharperRendering(bool magnificationIsCurrent);
    void readMetadata(const FilePath& url);
    TrashUndo* trashUndo();     // made on first use; null without a Trash
    friend class FolderWatcher; // edits imageFiles_ in place, one entry at a time

    AppStateContext context_;
    PreferenceStore preferences_;

    std::optional<FilePath> currentURL_;
    ImagePtr currentImage_;
    std::optional<Failure> loadError_;
    std::vector<FilePath> imageFiles_;
    qsizetype currentIndex_ = 0;
    double rotation_ = 0.0;
    QList<MetadataEntry> metadata_;
    DisplayMode displayMode_ = DisplayMode::fitToWindow;
    OverlayMode overlayMode_ = OverlayMode::none;
    bool showThumbnailBar_ = false;
    QPointer<QWindow> window_;
    QSize viewSize_;
    DisplayProfile displayProfile_;
    std::optional<ZoomAction> zoomAction_;
    double magnification_ = 1.0;
    QRectF visibleRect_{0.0, 0.0, 1.0, 1.0};
    std::optional<QPointF> scrollTarget_;
    bool isNavigatorDragging_ = false;
    bool showDeleteConfirmation_ = false;
    std::optional<QString> deleteError_;
    bool showStatusBar_ = true;
    StatusBarAutoHide* statusBar_;    // child: the deadline and the waiting task
    NeighbourPreloader* preloader_;   // child: preloadedImages and the decodes in flight
    PictureLoader* loader_ = nullptr; // child, with a pool: the current picture's levels
    // The metadata rows being read for the file shown, and the request the reads must carry
    // to run: a step away skips a read still queued.
    std::unique_ptr<PendingResult<QList<MetadataEntry>>> metadataRead_;
    std::shared_ptr<std::atomic<quint64>> latestMetadataRead_;
    bool copyWhenFull_ = false; // Copy Image waits for the full resolution
    std::unique_ptr<PendingResult<Result<QImage>>> wholeCopy_; // a tiled picture read for Copy
    bool preloadWhenShown_ = false;  // the neighbours wait for the current file's first level
    TrashUndo* trashUndo_ = nullptr; // a child object

    // A child: follows the folder as other programs change it.
    FolderWatcher* watcher_ = nullptr;
};

} // namespace kivo
