// SPDX-License-Identifier: GPL-3.0-or-later
#include "crossfade.h"

#include <QPainter>
#include <algorithm>

namespace kivo {

CrossFade::CrossFade(QWidget* viewport)
    : QWidget(viewport) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
    ticker_.setInterval(16);
    connect(&ticker_, &QTimer::timeout, this, &CrossFade::step);
}

void CrossFade::start(const QPixmap& snapshot, int durationMs) {
    if (snapshot.isNull() || durationMs <= 0)
        return;
    snapshot_ = snapshot;
    durationMs_ = durationMs;
    setGeometry(parentWidget()->rect());
    raise();
    show();
    clock_.start();
    ticker_.start();
    update();
}

void CrossFade::step() {
    if (clock_.elapsed() >= durationMs_) {
        ticker_.stop();
        snapshot_ = QPixmap();
        hide();
        return;
    }
    update();
}

void CrossFade::paintEvent(QPaintEvent*) {
    if (snapshot_.isNull())
        return;
    const double progress = std::clamp(double(clock_.elapsed()) / durationMs_, 0.0, 1.0);
    QPainter painter(this);
    painter.setOpacity(1.0 - progress);
    painter.drawPixmap(0, 0, snapshot_);
}

} // namespace kivo
