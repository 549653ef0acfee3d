// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlaycard.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace kivo {

const QColor& OverlayCard::background() {
    static const QColor black80(0, 0, 0, 204);
    return black80;
}

QFont headlineFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 1.1);
    font.setBold(true);
    return font;
}

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

OverlayCard::OverlayCard(const QString& title, int spacing, int spaceBelowTitle, QWidget* parent)
    : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kInnerMargin, kInnerMargin, kInnerMargin, kInnerMargin);
    stack->setSpacing(spacing + spaceBelowTitle);
    auto* heading = new QLabel(title, this);
    heading->setFont(headlineFont(font()));
    heading->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    stack->addWidget(heading);
    content_ = new QVBoxLayout;
    content_->setSpacing(spacing);
    content_->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(content_);
}

QSize OverlayCard::fittedSize() const {
    const QSize hint = sizeHint();
    const int width = minimumWidth() == maximumWidth() ? minimumWidth() : hint.width();
    return {width, hasHeightForWidth() ? heightForWidth(width) : hint.height()};
}

void OverlayCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(card, background());
}

} // namespace kivo
