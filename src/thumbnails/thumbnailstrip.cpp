// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbnailstrip.h"

#include <QEasingCurve>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

constexpr double kPitch = ThumbnailStrip::kCellSize + ThumbnailStrip::kSpacing;
const QColor kBackground(0, 0, 0, 204);       // black at 0.8
const QColor kPlaceholder(128, 128, 128, 77); // grey at 0.3

QPainterPath roundedCell(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

ThumbnailStrip::ThumbnailStrip(ThumbnailCache& cache, QWidget* parent)
    : QWidget(parent)
    , cache_(cache) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    scroll_.setDuration(kScrollDurationMs);
    scroll_.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&scroll_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setScrollOffset(value.toDouble()); });
}

// A closed window's cells no longer wait for their pictures: those not decoded yet never are.
ThumbnailStrip::~ThumbnailStrip() {
    for (auto& [index, cell] : cells_)
        cell.request.cancel();
}

void ThumbnailStrip::setDisplayProfile(const DisplayProfile& profile) {
    if (profile == displayProfile_)
        return;
    displayProfile_ = profile;
    for (auto& [index, cell] : cells_)
        cell.picture = QImage();
    update();
}

void ThumbnailStrip::setFiles(std::vector<FilePath> files) {
    files_ = std::move(files);
    // Cells stand for indices; a cell whose index now names another file (one was trashed or
    // added before it) must not keep the old picture.
    for (auto it = cells_.begin(); it != cells_.end();) {
        const bool gone = it->first >= qsizetype(files_.size()) ||
                          files_[std::size_t(it->first)] != it->second.path;
        if (gone) {
            it->second.request.cancel();
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
    setScrollOffset(offset_); // clamps to the new length and makes the newly visible cells
    revalidate();
}

void ThumbnailStrip::setCurrentIndex(qsizetype index) {
    if (index == currentIndex_)
        return;
    currentIndex_ = index;
    update();
    if (!isVisible())
        return;
    scroll_.stop();
    scroll_.setStartValue(offset_);
    scroll_.setEndValue(centredOffset(index));
    scroll_.start();
}

void ThumbnailStrip::revalidate() {
    for (auto& [index, cell] : cells_) {
        if (!cell.waiting)
            load(index, cell);
    }
}

double ThumbnailStrip::contentWidth() const {
    const auto count = double(files_.size());
    return count == 0 ? 0.0 : 2 * kEdgeSpace + count * kPitch - kSpacing;
}

double ThumbnailStrip::maxOffset() const {
    return std::max(0.0, contentWidth() - width());
}

double ThumbnailStrip::centredOffset(qsizetype index) const {
    const double centre = kEdgeSpace + double(index) * kPitch + kCellSize / 2.0;
    return std::clamp(centre - width() / 2.0, 0.0, maxOffset());
}

void ThumbnailStrip::setScrollOffset(double offset) {
    offset_ = std::clamp(offset, 0.0, maxOffset());
    updateVisibleCells();
    update();
}

QRectF ThumbnailStrip::cellRect(qsizetype index) const {
    // Whole device pixels, so that pictures are drawn 1:1 even halfway through a scroll.
    const double ratio = devicePixelRatioF();
    const double x = std::round((kEdgeSpace + double(index) * kPitch - offset_) * ratio) / ratio;
    return {x, (kHeight - kCellSize) / 2.0, double(kCellSize), double(kCellSize)};
}

qsizetype ThumbnailStrip::indexAt(QPointF position) const {
    const double x = position.x() + offset_ - kEdgeSpace;
    if (x < 0)
        return -1;
    const auto index = qsizetype(x / kPitch);
    if (index >= qsizetype(files_.size()) || !cellRect(index).contains(position))
        return -1;
    return index;
}

// Makes cells for the indices on screen and drops the others, cancelling their requests.
void ThumbnailStrip::updateVisibleCells() {
    const auto count = qsizetype(files_.size());
    qsizetype first = 0;
    qsizetype last = -1;
    if (count > 0 && width() > 0) {
        first = std::max<qsizetype>(0, qsizetype(std::floor((offset_ - kEdgeSpace) / kPitch)));
        last = std::min<qsizetype>(
            count - 1, qsizetype(std::floor((offset_ + width() - kEdgeSpace) / kPitch)));
    }
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (it->first < first || it->first > last) {
            it->second.request.cancel();
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
    if (!isVisible())
        return; // a hidden strip loads nothing
    for (qsizetype index = first; index <= last; ++index) {
        auto [it, made] = cells_.try_emplace(index);
        if (made) {
            it->second.path = files_[std::size_t(index)];
            load(index, it->second);
        }
    }
}

void ThumbnailStrip::load(qsizetype index, Cell& cell) {
    const FilePath path = cell.path;
    cell.waiting = true;
    // A cached picture arrives before this returns, so `cell` is still the cell to fill.
    cell.request =
        cache_.requestThumbnail(path, this, [this, index, path](std::optional<QImage> thumbnail) {
            receive(index, path, thumbnail);
        });
}

void ThumbnailStrip::receive(qsizetype index, const FilePath& path,
                             const std::optional<QImage>& thumbnail) {
    const auto it = cells_.find(index);
    if (it == cells_.end() || it->second.path != path)
        return;
    Cell& cell = it->second;
    cell.waiting = false;
    const QImage source = thumbnail ? *thumbnail : QImage();
    if (source.cacheKey() == cell.source.cacheKey() && !source.isNull())
        return;
    cell.source = source;
    cell.picture = QImage();
    update(cellRect(index).toAlignedRect());
}

// The cell's picture for this screen: cropped to fill the square, corners rounded, at the
// device pixel ratio, so painting is a plain copy. Rebuilt when the ratio changes.
const QImage& ThumbnailStrip::pictureFor(Cell& cell) const {
    const double ratio = devicePixelRatioF();
    if (cell.source.isNull() ||
        (!cell.picture.isNull() && cell.picture.devicePixelRatio() == ratio))
        return cell.picture;
    const int side = qCeil(kCellSize * ratio);
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setClipPath(roundedCell(QRectF(0, 0, side, side), kCornerRadius * ratio));
    const QSizeF size = cell.source.size();
    const double scale = std::max(side / size.width(), side / size.height());
    const QSizeF drawn = size * scale;
    painter.drawImage(
        QRectF(QPointF((side - drawn.width()) / 2, (side - drawn.height()) / 2), drawn),
        cell.source);
    painter.end();
    // Forty-odd pixels square: converting here costs nothing, and the shared cache stays sRGB
    // for windows on every screen.
    picture = toDisplay(std::move(picture), {}, displayProfile_);
    picture.setDevicePixelRatio(ratio);
    cell.picture = std::move(picture);
    return cell.picture;
}

void ThumbnailStrip::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF dirty = event->rect();
    for (auto& [index, cell] : cells_) {
        const QRectF cellArea = cellRect(index);
        if (!cellArea.intersects(dirty))
            continue;
        const QImage& picture = pictureFor(cell);
        if (picture.isNull())
            painter.fillPath(roundedCell(cellArea, kCornerRadius), kPlaceholder);
        else
            painter.drawImage(cellArea.topLeft(), picture);
        if (index == currentIndex_) {
            // Inside the cell, so that the neighbours never cover it.
            const double inset = kOutlineWidth / 2;
            painter.strokePath(
                roundedCell(cellArea.adjusted(inset, inset, -inset, -inset), kCornerRadius),
                QPen(Qt::white, kOutlineWidth));
        }
    }
}

void ThumbnailStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setScrollOffset(offset_);
}

void ThumbnailStrip::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateVisibleCells();
}

void ThumbnailStrip::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Back from another program, which may have rewritten what is shown.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        revalidate();
}

void ThumbnailStrip::mousePressEvent(QMouseEvent* event) {
    pressedIndex_ = event->button() == Qt::LeftButton ? indexAt(event->position()) : -1;
}

void ThumbnailStrip::mouseReleaseEvent(QMouseEvent* event) {
    const qsizetype pressed = std::exchange(pressedIndex_, -1);
    if (event->button() == Qt::LeftButton && pressed >= 0 &&
        indexAt(event->position()) == pressed && onSelect)
        onSelect(pressed);
}

void ThumbnailStrip::wheelEvent(QWheelEvent* event) {
    // Vertical wheels scroll the row too: most mice have no other.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    double delta = 0.0;
    if (!pixels.isNull())
        delta = std::abs(pixels.x()) > std::abs(pixels.y()) ? pixels.x() : pixels.y();
    else
        delta =
            (std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y()) / 120.0 * kPitch;
    scroll_.stop();
    setScrollOffset(offset_ - delta);
    event->accept();
}

} // namespace kivo
