// SPDX-License-Identifier: GPL-3.0-or-later
#include "emptystate.h"

#include "model/appstate.h"

#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace kivo {

namespace {

// A framed landscape: the usual sign for "a picture goes here", drawn so no icon theme is needed.
QPixmap photoSymbol(int size, qreal devicePixelRatio) {
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour(255, 255, 255, qRound(255 * 0.4));
    const qreal stroke = size / 16.0;
    const QRectF frame(stroke, size * 0.18, size - 2 * stroke, size * 0.64);
    painter.setPen(QPen(colour, stroke));
    painter.drawRoundedRect(frame, stroke * 1.5, stroke * 1.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(
        QPointF(frame.left() + frame.width() * 0.72, frame.top() + frame.height() * 0.3),
        size * 0.07, size * 0.07);
    QPainterPath hills;
    hills.moveTo(frame.left() + stroke, frame.bottom() - stroke);
    hills.lineTo(frame.left() + frame.width() * 0.35, frame.top() + frame.height() * 0.4);
    hills.lineTo(frame.left() + frame.width() * 0.6, frame.bottom() - frame.height() * 0.3);
    hills.lineTo(frame.left() + frame.width() * 0.75, frame.top() + frame.height() * 0.55);
    hills.lineTo(frame.right() - stroke, frame.bottom() - stroke);
    hills.closeSubpath();
    painter.drawPath(hills);
    return pixmap;
}

QLabel* makeLabel(QWidget* parent, double opacity, bool isCaption) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, qRound(255 * opacity)));
    label->setPalette(palette);
    if (isCaption) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
    }
    return label;
}

} // namespace

QString failureText(FailureReason reason) {
    switch (reason) {
    case FailureReason::damaged:
        return EmptyState::tr("This file is damaged");
    case FailureReason::notAnImage:
    case FailureReason::unsupported:
        return EmptyState::tr("Not an image Kivo can read");
    case FailureReason::tooLarge:
        return EmptyState::tr("Too large to show");
    case FailureReason::noImages:
        return EmptyState::tr("No images in this folder");
    case FailureReason::notAFile:
    case FailureReason::unreadable:
    case FailureReason::writeFailed:
        break;
    }
    return EmptyState::tr("Kivo cannot read this file");
}

EmptyState::EmptyState(AppState& state, QWidget* parent)
    : QWidget(parent)
    , state_(state)
    , symbol_(new QLabel(this))
    , fileName_(makeLabel(this, 0.7, false))
    , message_(makeLabel(this, 0.5, false))
    , hint_(makeLabel(this, 0.3, true)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    symbol_->setAlignment(Qt::AlignHCenter);
    symbol_->setPixmap(photoSymbol(kSymbolSize, devicePixelRatioF()));
    hint_->setText(tr("Drop a file or use File > Open"));
    QFont bold = fileName_->font();
    bold.setBold(true);
    fileName_->setFont(bold);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    layout->addStretch(1);
    for (QLabel* label : {symbol_, fileName_, message_, hint_})
        layout->addWidget(label);
    layout->addStretch(1);

    const auto refreshLater = [this] { refresh(); };
    connect(&state, &AppState::currentURLChanged, this, refreshLater);
    connect(&state, &AppState::currentImageChanged, this, refreshLater);
    connect(&state, &AppState::loadErrorChanged, this, refreshLater);
    refresh();
}

QString EmptyState::fileNameText() const {
    return fileName_->isHidden() ? QString() : fileName_->text();
}
QString EmptyState::messageText() const {
    return message_->text();
}
QString EmptyState::hintText() const {
    return hint_->text();
}

void EmptyState::refresh() {
    // While the first picture of a file decodes the window stays dark: a sign and a message
    // flashing up for a fraction of a second would only distract.
    const bool isLoading = state_.isLoading();
    for (QLabel* label : {symbol_, message_, hint_})
        label->setVisible(!isLoading);
    const auto& url = state_.currentURL();
    const bool isUnshowable = url && !state_.currentImage() && !isLoading;
    fileName_->setText(isUnshowable ? displayName(*url) : QString());
    fileName_->setVisible(isUnshowable);
    if (!isUnshowable) {
        message_->setText(tr("Open an image to start"));
        return;
    }
    const auto& error = state_.loadError();
    // Deleted with its folder, or the folder moved to the Trash: the file's name alone would
    // leave the user wondering where it went.
    const bool folderGone = !QFileInfo(QString::fromStdString(url->parent_path().native())).isDir();
    if (folderGone)
        message_->setText(tr("Its folder was moved to the Trash or deleted"));
    else
        message_->setText(error ? failureText(error->reason) : tr("Kivo cannot show this file"));
}

} // namespace kivo
