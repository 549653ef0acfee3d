// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Photo-like test pictures for the benchmarks that decode real files.

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace kivo::bench {

// A picture with the detail of a photograph (gradients, edges and grain), so the JPEG decoder
// does the work it does on a camera's files rather than on flat colour.
inline QImage syntheticPhoto(int seed, QSize size = QSize(6000, 4000)) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = static_cast<int>(random.bounded(24u));
            line[x] = qRgb((x / 24 + seed * 40 + grain) & 0xff, (y / 16 + grain) & 0xff,
                           ((x + y) / 32 + grain) & 0xff);
        }
    }
    QPainter painter(&image);
    painter.setPen(QPen(Qt::white, 9));
    const auto width = static_cast<quint32>(size.width());
    const auto height = static_cast<quint32>(size.height());
    for (int i = 0; i < 60; ++i)
        painter.drawLine(
            static_cast<int>(random.bounded(width)), static_cast<int>(random.bounded(height)),
            static_cast<int>(random.bounded(width)), static_cast<int>(random.bounded(height)));
    return image;
}

} // namespace kivo::bench
