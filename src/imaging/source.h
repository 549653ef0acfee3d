// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"

#include <QImage>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace kivo {

// Keys of the property dictionary of an image, named as the platform's image service names
// them so that callers read exactly the values they expect. Sub-dictionaries are QVariantMaps.
namespace prop {
inline const QString PixelWidth = QStringLiteral("PixelWidth");   // int
inline const QString PixelHeight = QStringLiteral("PixelHeight"); // int
inline const QString Depth = QStringLiteral("Depth");             // int, bits per component
inline const QString ColorModel = QStringLiteral("ColorModel");   // "RGB", "Gray", "CMYK", "Lab"
inline const QString Orientation = QStringLiteral("Orientation"); // int, 1 to 8
inline const QString HasAlpha = QStringLiteral("HasAlpha");       // bool
inline const QString ProfileName = QStringLiteral("ProfileName"); // text
inline const QString TIFF = QStringLiteral("{TIFF}");
inline const QString Exif = QStringLiteral("{Exif}");
inline const QString GPS = QStringLiteral("{GPS}");
// {TIFF}
inline const QString Make = QStringLiteral("Make");   // text
inline const QString Model = QStringLiteral("Model"); // text
// {Exif}
inline const QString DateTimeOriginal = QStringLiteral("DateTimeOriginal"); // text
inline const QString FocalLength = QStringLiteral("FocalLength");           // double
inline const QString FNumber = QStringLiteral("FNumber");                   // double
inline const QString ExposureTime = QStringLiteral("ExposureTime");         // double
inline const QString ISOSpeedRatings = QStringLiteral("ISOSpeedRatings");   // list of int
inline const QString LensModel = QStringLiteral("LensModel");               // text
// {GPS}
inline const QString Latitude = QStringLiteral("Latitude");         // double, degrees
inline const QString LatitudeRef = QStringLiteral("LatitudeRef");   // text
inline const QString Longitude = QStringLiteral("Longitude");       // double, degrees
inline const QString LongitudeRef = QStringLiteral("LongitudeRef"); // text
} // namespace prop

// An opened image file, for the questions asked of it without showing it: its content type,
// the properties of its first image, its stored pixels and a thumbnail. Opening reads enough
// of the file to know its type; every other question reads what it needs on demand.
// Each method reports failure as a Result with its reason and never throws.
class ImageSource {
public:
    static Result<ImageSource> open(const FilePath& path);

    const FilePath& path() const { return path_; }

    // The format sniffed from the file's bytes.
    const FormatInfo& format() const { return *format_; }
    // Its MIME type ("image/jpeg", "image/png", ...).
    QString contentType() const { return format_->mimeType; }

    // The property dictionary of image 0 (keys in `prop`).
    Result<QVariantMap> properties() const;

    // Image 0's pixels as stored, not turned by the orientation tag, in the file's own
    // colour space and at the highest precision Qt can hold it.
    Result<QImage> storedImage() const;

    // An upright bitmap in the screen's colour space `target` (sRGB unless given) made from the
    // full image (never an embedded EXIF thumbnail) whose longer side is at most `maxPixelSize`,
    // decoded at reduced size where the codec can.
    Result<QImage> thumbnail(int maxPixelSize, const DisplayProfile& target = {}) const;

private:
    ImageSource(FilePath path, const FormatInfo& format);

    FilePath path_;
    const FormatInfo* format_;
};

} // namespace kivo
