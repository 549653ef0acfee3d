// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/svgcodec.h"

#include "imaging/codecs/svgdocument.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

namespace kivo {

namespace {

// A view zoomed in far gets the whole picture rendered no larger than this (64 megapixels, 800 %
// of a 1024-pixel drawing): beyond, it would cost seconds and far more memory than the screen
// it is shown on.
constexpr double kMaxEnlargedBytes = 256.0 * 1024 * 1024;

QSize renderSize(QSize intrinsic, const DecodeRequest& request) {
    double scale = 1.0;
    if (request.fitBox.isValid()) {
        scale = std::min(double(request.fitBox.width()) / intrinsic.width(),
                         double(request.fitBox.height()) / intrinsic.height());
        if (!request.enlarge)
            scale = std::min(scale, 1.0);
    } else if (request.maxPixelSize > 0) {
        scale = double(request.maxPixelSize) / std::max(intrinsic.width(), intrinsic.height());
    }
    const auto side = [scale](int length) {
        return int(std::clamp(std::lround(length * scale), 1L, long(1) << 30));
    };
    return {side(intrinsic.width()), side(intrinsic.height())};
}

// A view zoomed in far asks for more than that or the decode budget allow: it gets the largest
// picture that fits.
QSize shrunkToFit(QSize size) {
    const double bytes = double(size.width()) * size.height() * 4;
    const double limit = std::min(double(decodeBudgetBytes()), kMaxEnlargedBytes);
    if (bytes <= limit)
        return size;
    const double factor = std::sqrt(limit / bytes) * 0.999;
    return QSize(std::max(1, int(size.width() * factor)), std::max(1, int(size.height() * factor)));
}

} // namespace

Result<DecodedPixels> decodeSvg(const FilePath& path, const DecodeRequest& request) {
    // Text needs the font database, which only a GUI application has.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return Failure{FailureReason::unsupported, QStringLiteral("SVG needs a GUI application")};
    auto document = readSvgDocument(path);
    if (!document)
        return document.failure();
    QSize size = renderSize(document->intrinsicSize, request);
    if (request.enlarge)
        size = shrunkToFit(size);
    if (!fitsDecodeBudget(size, 4))
        return Failure{FailureReason::tooLarge,
                       QStringLiteral("%1x%2 pixels").arg(size.width()).arg(size.height())};
    applyQtAllocationLimit(); // pictures embedded as data: URIs decode through Qt's readers
    QSvgRenderer renderer;
    if (!renderer.load(document->xml) || !renderer.isValid())
        return Failure{FailureReason::damaged, QStringLiteral("Qt SVG could not parse it")};
    // Without a view box the content is in pixels of the intrinsic size.
    if (!document->hasViewBox)
        renderer.setViewBox(QRectF(QPointF(), QSizeF(document->intrinsicSize)));
    if (renderer.animated())
        renderer.setCurrentFrame(0);
    QImage image = allocateImage(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return Failure{FailureReason::tooLarge, QStringLiteral("no memory for the rendering")};
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(QPointF(), QSizeF(size)));
    }
    return DecodedPixels{std::move(image), {}, document->intrinsicSize};
}

std::optional<PixelInfo> probeSvg(const FilePath& path) {
    const auto document = readSvgDocument(path);
    if (!document)
        return std::nullopt;
    return PixelInfo{document->intrinsicSize, 8, QStringLiteral("RGB"), true, 1, {}};
}

} // namespace kivo
