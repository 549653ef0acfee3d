// SPDX-License-Identifier: GPL-3.0-or-later
#include "statebinding.h"

#include "canvas/canvasgeometry.h"
#include "canvas/navigatoroverlay.h"
#include "canvas/zoomableimageview.h"
#include "model/appstate.h"

#include <QPointer>

namespace kivo {

void bindCanvasToState(ZoomableImageView& canvas, AppState& state) {
    QPointer<AppState> model(&state);
    canvas.setInputProvider([model] {
        CanvasInputs inputs;
        if (!model)
            return inputs;
        inputs.image = model->currentImage();
        inputs.rotation = model->rotation();
        inputs.isAutoSizeWindow = model->displayMode() == DisplayMode::autoSizeWindow;
        inputs.tileCacheBytes = model->tileCacheBytes();
        inputs.zoomAction = model->zoomAction();
        inputs.scrollTarget = model->scrollTarget();
        // A request is cleared only while it is still the one carried out: a newer one set
        // in the meantime (the next step of a navigator drag) must reach the next update.
        inputs.onZoomActionConsumed = [model, consumed = inputs.zoomAction] {
            if (model && model->zoomAction() == consumed)
                model->setZoomAction(std::nullopt);
        };
        inputs.onStateChange = [model](double magnification, QRectF visibleRect) {
            if (!model)
                return;
            model->setMagnification(magnification);
            model->setVisibleRect(visibleRect);
        };
        inputs.onScrollTargetConsumed = [model, consumed = inputs.scrollTarget] {
            if (model && model->scrollTarget() == consumed)
                model->setScrollTarget(std::nullopt);
        };
        inputs.onDoubleClick = [model] {
            if (model && model->zoomAction() != ZoomAction::fit)
                model->setZoomAction(ZoomAction::fit);
        };
        inputs.onNavigateClick = [model](bool isNext) {
            if (model)
                model->navigate(isNext ? 1 : -1);
        };
        return inputs;
    });
    QPointer<ZoomableImageView> view(&canvas);
    const auto schedule = [view] {
        if (view)
            view->scheduleUpdate();
    };
    QObject::connect(&state, &AppState::currentImageChanged, &canvas, schedule);
    QObject::connect(&state, &AppState::rotationChanged, &canvas, schedule);
    QObject::connect(&state, &AppState::displayModeChanged, &canvas, schedule);
    QObject::connect(&state, &AppState::zoomActionChanged, &canvas, schedule);
    QObject::connect(&state, &AppState::scrollTargetChanged, &canvas, schedule);
}

void bindNavigatorToState(NavigatorOverlay& navigator, AppState& state) {
    QPointer<AppState> model(&state);
    QPointer<NavigatorOverlay> overlay(&navigator);
    navigator.onNavigate = [model](QPointF point) {
        if (model)
            model->setScrollTarget(point);
    };
    navigator.onDragStateChange = [model](bool dragging) {
        if (model)
            model->setIsNavigatorDragging(dragging);
    };
    const auto refresh = [model, overlay] {
        if (!model || !overlay)
            return;
        overlay->setImage(model->currentImage(), model->rotation());
        overlay->setVisibleRect(model->visibleRect());
        overlay->setVisible(
            model->currentImage() &&
            canvas::navigatorShouldShow(model->visibleRect(), model->isNavigatorDragging()));
    };
    QObject::connect(&state, &AppState::currentImageChanged, &navigator, refresh);
    QObject::connect(&state, &AppState::rotationChanged, &navigator, refresh);
    QObject::connect(&state, &AppState::visibleRectChanged, &navigator, refresh);
    QObject::connect(&state, &AppState::isNavigatorDraggingChanged, &navigator, refresh);
    refresh();
}

} // namespace kivo
