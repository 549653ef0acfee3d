// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"

namespace kivo {

// The picture turned clockwise by `degrees` for display. Quarter turns are exact, pixel for
// pixel; other angles draw the picture into its bounding box on a transparent background.
// Returns `image` itself for no turn, and when the turned bitmap cannot be made.
ImagePtr rotatedImage(const ImagePtr& image, double degrees);

// The picture as the canvas draws it: turned by `degrees`, and in a pixel format that Qt's
// raster engine draws directly (it would convert any other format in full on every paint).
ImagePtr imageForDisplay(const ImagePtr& image, double degrees);

// Whether Qt draws bitmaps of this format without converting them first.
bool drawsDirectly(QImage::Format format);

// The same for a bare bitmap (an animation frame); a null image when it cannot be made.
QImage rotatedBitmap(const QImage& source, double degrees);

} // namespace kivo
