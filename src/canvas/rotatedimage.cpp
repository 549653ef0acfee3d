// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotatedimage.h"

#include "canvasgeometry.h"
#include "imaging/regions.h"

#include <QColorSpace>
#include <QPainter>
#include <QTransform>
#include <cmath>
#include <limits>

namespace kivo {

namespace {

// `bitmap` standing for `image` turned clockwise by `degrees` or converted: a full picture, a
// reduced level of one or a vector picture at the same scale.
ImagePtr sameKind(const Image& image, QImage bitmap, QSize size, double degrees) {
    // A tiled picture keeps its tiles through a conversion or a quarter turn, read turned as
    // its level is. Any other angle leaves only the level.
    const double r = canvas::normalizedDegrees(degrees);
    if (image.isTiled() && std::fmod(r, 90.0) == 0.0)
        return Image::createTiled(std::move(bitmap),
                                  turnedRegionReader(image.regions(), int(r / 90.0)));
    return image.isScalable() ? Image::createScalable(std::move(bitmap), size)
                              : Image::createLevel(std::move(bitmap), size);
}

} // namespace

QImage rotatedBitmap(const QImage& source, double degrees) {
    const double r = canvas::normalizedDegrees(degrees);
    if (r == 0.0)
        return source;
    // Qt's pure quarter-turn transforms move pixels without resampling.
    if (r == 90.0 || r == 180.0 || r == 270.0)
        return source.transformed(QTransform().rotate(r));
    const QSize size = canvas::rotatedPixelSize(source.size(), r);
    const qint64 pixels = qint64(size.width()) * size.height();
    if (size.isEmpty() || pixels > std::numeric_limits<int>::max() / 4)
        return {};
    QImage turned(size, QImage::Format_ARGB32_Premultiplied);
    if (turned.isNull())
        return {};
    turned.setColorSpace(source.colorSpace());
    turned.fill(Qt::transparent);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(size.width() / 2.0, size.height() / 2.0);
    painter.rotate(r); // y points down, so a positive angle turns clockwise
    painter.drawImage(QPointF(-source.width() / 2.0, -source.height() / 2.0), source);
    return turned;
}

ImagePtr rotatedImage(const ImagePtr& image, double degrees) {
    if (!image || canvas::normalizedDegrees(degrees) == 0.0)
        return image;
    QImage turned = rotatedBitmap(image->bitmap(), degrees);
    if (turned.isNull())
        return image;
    // A reduced level stays one: turned, it stands for the turned full-size picture.
    ImagePtr result = sameKind(*image, std::move(turned),
                               canvas::rotatedPixelSize(image->size(), degrees), degrees);
    if (!result)
        return image;
    result->prepareReducedCopies();
    return result;
}

bool drawsDirectly(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

ImagePtr imageForDisplay(const ImagePtr& image, double degrees) {
    ImagePtr turned = rotatedImage(image, degrees);
    if (!turned || drawsDirectly(turned->bitmap().format()))
        return turned;
    const QImage& bitmap = turned->bitmap();
    ImagePtr converted = sameKind(*turned,
                                  bitmap.convertToFormat(bitmap.hasAlphaChannel()
                                                             ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32),
                                  turned->size(), 0.0);
    if (!converted)
        return turned;
    converted->prepareReducedCopies();
    return converted;
}

} // namespace kivo
