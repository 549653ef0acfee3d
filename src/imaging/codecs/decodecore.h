// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decoding pipeline shared by decodeImage, ImageSource::storedImage and
// ImageSource::thumbnail: one dispatch per format, then orientation and colour.

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QString>
#include <optional>

namespace kivo {

// Why a file was refused, and what went wrong inside a codec; quiet unless enabled with
// QT_LOGGING_RULES="kivo.imaging.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcImaging)

struct DecodeRequest {
    // > 0: the longer side wanted; codecs that can decode at reduced size do, and the result is
    // scaled down to at most this (the shorter side never below one pixel). 0: full size.
    int maxPixelSize = 0;
    // Valid: a level for the screen, drawn fitted in this box of device pixels. Codecs with a
    // cheap reduced decode decode just large enough to fill it (and say the full size in
    // DecodedPixels::fullSize); the others decode in full. Not scaled down further.
    QSize fitBox;
    // A vector picture may be rendered beyond its intrinsic size to fill fitBox (a view zoomed
    // in); otherwise a fitted view never shows it larger than that.
    bool enlarge = false;
    // With `fitBox`: a format without a cheap reduced decode may still scale its rows down to
    // the box as they arrive (a preloaded neighbour), instead of decoding the full picture.
    bool shrink = false;
    // Turn the pixels upright by the file's orientation (EXIF tag, HEIF transforms, raw flip).
    bool upright = true;
    // Convert to the sRGB display format; otherwise keep the file's colour space (tagged on
    // the image where Qt can describe it) and its precision.
    bool toSrgb = true;
    // The screen's colour space the display format is in, when converting (sRGB by default).
    DisplayProfile target;
};

// Image 0 of a file whose format has been sniffed.
Result<QImage> decodeStill(const FilePath& path, const FormatInfo& format,
                           const DecodeRequest& request);

// Opens a regular file by its native bytes, so names that are not valid UTF-8 still open.
// Folders, FIFOs, sockets and devices are refused (notAFile) without a call that can block;
// `why`, when given, says why the file could not be opened.
bool openForReading(QFile& file, const FilePath& path, Failure* why = nullptr);

// The whole file, or why not (too large when it exceeds `maxBytes`).
Result<QByteArray> readWholeFile(const FilePath& path, qint64 maxBytes);

// `image` scaled so that its longer side is at most `maxPixelSize` (0: unchanged), its shorter
// side at least one pixel however thin the picture.
QImage scaledToFit(const QImage& image, int maxPixelSize);

} // namespace kivo
