// SPDX-License-Identifier: GPL-3.0-or-later
#include "vieweroverlays.h"

#include "canvas/navigatoroverlay.h"
#include "model/appstate.h"
#include "overlaylayout.h"
#include "panels/histogrampanel.h"
#include "panels/metadatapanel.h"
#include "thumbnails/thumbnailstrip.h"

#include <QWidget>

namespace kivo {

ViewerOverlays::ViewerOverlays(AppState& state, const OverlayServices& services, QWidget& viewer)
    : QObject(&viewer)
    , state_(state)
    , services_(services)
    , viewer_(viewer) {
    if (services_.thumbnails) {
        strip_ = new ThumbnailStrip(*services_.thumbnails, &viewer_);
        strip_->onSelect = [this](qsizetype index) { state_.goToIndex(index); };
        strip_->setFiles(state_.imageFiles());
        strip_->setCurrentIndex(state_.currentIndex());
        strip_->setDisplayProfile(state_.displayProfile());
        connect(&state_, &AppState::displayProfileChanged, this,
                [this] { strip_->setDisplayProfile(state_.displayProfile()); });
        connect(&state_, &AppState::imageFilesChanged, this,
                [this] { strip_->setFiles(state_.imageFiles()); });
        connect(&state_, &AppState::currentIndexChanged, this,
                [this] { strip_->setCurrentIndex(state_.currentIndex()); });
        // A rotation saved into the file, or a file rewritten elsewhere, shows in its cell; a
        // rewritten neighbour is preloaded anew.
        for (auto changed : {&AppState::currentImageChanged, &AppState::preloadedImagesChanged})
            connect(&state_, changed, this, [this] { strip_->revalidate(); });
    }
    const auto relayout = [this] { Q_EMIT layoutChanged(); };
    connect(&state_, &AppState::currentImageChanged, this, [this] { feedPanel(); });
    connect(&state_, &AppState::metadataChanged, this, [this] { feedPanel(); });
    connect(&state_, &AppState::overlayModeChanged, this, [this] { rebuildPanel(); });
    for (auto signal : {&AppState::currentImageChanged, &AppState::imageFilesChanged,
                        &AppState::showThumbnailBarChanged, &AppState::visibleRectChanged,
                        &AppState::isNavigatorDraggingChanged, &AppState::metadataChanged})
        connect(&state_, signal, this, relayout);
    rebuildPanel();
}

ViewerOverlays::~ViewerOverlays() = default;

void ViewerOverlays::rebuildPanel() {
    if (panel_) {
        panel_->hide();
        panel_->deleteLater();
        panel_ = nullptr;
    }
    switch (state_.overlayMode()) {
    case OverlayMode::histogram:
        if (services_.histogramPool)
            panel_ = new HistogramPanel(*services_.histogramPool, &viewer_);
        break;
    case OverlayMode::metadata:
        panel_ = new MetadataPanel(&viewer_);
        break;
    case OverlayMode::none:
        break;
    }
    feedPanel();
    Q_EMIT layoutChanged();
}

void ViewerOverlays::feedPanel() {
    if (auto* histogram = qobject_cast<HistogramPanel*>(panel_.data()))
        histogram->setImage(state_.currentImage());
    else if (auto* metadata = qobject_cast<MetadataPanel*>(panel_.data()))
        metadata->setEntries(state_.metadata());
}

void ViewerOverlays::place(QWidget* navigator, QWidget* statusPill) {
    OverlayInputs in;
    in.viewerSize = viewer_.size();
    in.hasImage = state_.currentImage() != nullptr;
    in.fileCount = qsizetype(state_.imageFiles().size());
    in.showThumbnailBar = state_.showThumbnailBar();
    in.visibleRect = state_.visibleRect();
    in.isNavigatorDragging = state_.isNavigatorDragging();
    in.showsPanel = panel_ != nullptr;
    in.panelSize = panel_ ? panel_->fittedSize() : QSize();
    if (navigator) {
        in.navigatorSize = navigator->sizeHint();
        in.navigatorShadowMargin = NavigatorOverlay::kShadowMargin;
    }
    applyOverlayPlacement(placeOverlays(in), navigator, panel_, statusPill, strip_);
}

} // namespace kivo
