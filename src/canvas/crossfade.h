// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace kivo {

// Fades the picture that was on screen into the one that replaced it: a snapshot of the old
// viewport drawn over the new content with falling opacity. It lets every mouse event through.
class CrossFade : public QWidget {
    Q_OBJECT

public:
    explicit CrossFade(QWidget* viewport);

    // Starts a fade from `snapshot` (the viewport as it looked) lasting `durationMs`.
    void start(const QPixmap& snapshot, int durationMs);
    bool isRunning() const { return !snapshot_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void step();

    QPixmap snapshot_;
    QElapsedTimer clock_;
    QTimer ticker_;
    int durationMs_ = 0;
};

} // namespace kivo
