// SPDX-License-Identifier: GPL-3.0-or-later
#include "statuspill.h"

#include "model/appstate.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <limits>

namespace kivo {

namespace {

constexpr double kBackgroundOpacity = 0.6;
constexpr double kCornerRadius = 4.0;

// The zoom text of a magnification the canvas would never report (not finite, or beyond what
// a 64-bit integer holds) falls back to a dash rather than to undefined behaviour.
QString zoomText(double magnification) {
    const double percent = magnification * 100.0;
    if (!std::isfinite(percent) || std::abs(percent) >= 9.2e18)
        return QStringLiteral("–%");
    return QString::number(static_cast<qint64>(percent)) + u'%';
}

// The caption size with digits of one width, so the pill does not jitter while zooming.
QFont pillFont(const QFont& base) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 0.85 : 9.0);
    return font;
}

} // namespace

StatusTexts statusTexts(const AppState& state) {
    StatusTexts texts;
    const auto count = static_cast<qint64>(state.imageFiles().size());
    if (count >= 2)
        texts.position = QString::number(static_cast<qint64>(state.currentIndex()) + 1) +
                         QStringLiteral(" / ") + QString::number(count);
    texts.zoom = zoomText(state.magnification());
    return texts;
}

StatusPill::StatusPill(AppState& state, QWidget* parent)
    : QWidget(parent)
    , state_(state) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(pillFont(font()));
    fade_.setDuration(kFadeMilliseconds);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        opacity_ = value.toDouble();
        update();
    });
    const auto refresh = [this] { refreshTexts(); };
    connect(&state, &AppState::imageFilesChanged, this, refresh);
    connect(&state, &AppState::currentIndexChanged, this, refresh);
    connect(&state, &AppState::magnificationChanged, this, refresh);
    connect(&state, &AppState::showStatusBarChanged, this,
            [this] { fadeTo(state_.showStatusBar()); });
    isShowing_ = state.showStatusBar();
    opacity_ = isShowing_ ? 1.0 : 0.0;
    refreshTexts();
}

QSize StatusPill::sizeHint() const {
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(texts_.zoom);
    if (!texts_.position.isEmpty())
        width += metrics.horizontalAdvance(texts_.position) + kSpacing;
    return {width + 2 * kInsetX, metrics.height() + 2 * kInsetY};
}

void StatusPill::place() {
    if (!parentWidget())
        return;
    const QSize size = sizeHint();
    setGeometry(parentWidget()->width() - kMargin - size.width(), kMargin, size.width(),
                size.height());
}

void StatusPill::refreshTexts() {
    StatusTexts texts = statusTexts(state_);
    if (texts.position == texts_.position && texts.zoom == texts_.zoom)
        return;
    texts_ = std::move(texts);
    place();
    update();
}

void StatusPill::fadeTo(bool show) {
    if (show == isShowing_)
        return;
    isShowing_ = show;
    fade_.stop();
    fade_.setStartValue(opacity_);
    fade_.setEndValue(show ? 1.0 : 0.0);
    fade_.start();
}

void StatusPill::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0.0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(shape, QColor(0, 0, 0, qRound(255 * kBackgroundOpacity)));
    painter.setPen(Qt::white);
    const QRect inner = rect().adjusted(kInsetX, kInsetY, -kInsetX, -kInsetY);
    painter.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, texts_.zoom);
    if (!texts_.position.isEmpty())
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, texts_.position);
}

} // namespace kivo
