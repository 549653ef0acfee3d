// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariantAnimation>
#include <QWidget>

namespace kivo {

class AppState;

// The texts of the status indicator: the position in the folder (empty with fewer than two
// files) and the zoom percentage, truncated toward zero (0.29 reads 28%, since 0.29 * 100 lies
// just below 29).
struct StatusTexts {
    QString position;
    QString zoom;
};
StatusTexts statusTexts(const AppState& state);

// The small dark pill in the top-right corner showing where in the folder the user is and how
// far the picture is magnified. It follows the model's showStatusBar with a short fade.
class StatusPill : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 8;
    static constexpr int kInsetX = 8;
    static constexpr int kInsetY = 4;
    static constexpr int kMargin = 8; // from the window's edges
    static constexpr int kFadeMilliseconds = 200;

    StatusPill(AppState& state, QWidget* parent);

    const StatusTexts& texts() const { return texts_; }
    // Whether the pill is shown or fading in (rather than hidden or fading out).
    bool isShowing() const { return isShowing_; }
    QSize sizeHint() const override;
    // Keeps the pill in the parent's top-right corner.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshTexts();
    void fadeTo(bool show);

    AppState& state_;
    StatusTexts texts_;
    bool isShowing_ = true;
    double opacity_ = 1.0;
    QVariantAnimation fade_;
};

} // namespace kivo
