// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "coordinator.h"

#include <QWidget>
#include <functional>

namespace kivo {

class ZoomScrollView;

// The canvas as a widget. Its inputs are read from a provider when an update runs; any change
// of an input only schedules the update, which runs once in the next turn of the event loop, so
// the fields one model operation changes together reach the canvas together.
class ZoomableImageView : public QWidget {
    Q_OBJECT

public:
    explicit ZoomableImageView(QWidget* parent = nullptr, QThreadPool* animationPool = nullptr);
    ~ZoomableImageView() override;

    void setInputProvider(std::function<CanvasInputs()> provider);
    // Asks for an update in the next turn; several requests in one turn give one update.
    void scheduleUpdate();
    bool isUpdatePending() const { return isUpdatePending_; }

    Coordinator& coordinator() { return coordinator_; }
    ZoomScrollView* scrollView() const { return coordinator_.scrollView(); }

private:
    void runUpdate();

    Coordinator coordinator_;
    std::function<CanvasInputs()> provider_;
    bool isUpdatePending_ = false;
};

} // namespace kivo
