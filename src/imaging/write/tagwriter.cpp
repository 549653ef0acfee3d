// SPDX-License-Identifier: GPL-3.0-or-later
// The tag-only half of imagewriter.h: a copy of the file whose orientation alone differs.
#include "imaging/codecs/decodecore.h"
#include "imaging/metadata/exivbuffer.h"
#include "imaging/write/imagewriter.h"
#include "imaging/write/orientationpatch.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

// Above this a file is not rewritten: it would be held in memory twice.
constexpr qint64 maxRewrittenFileSize = qint64(1) << 30;

std::optional<OrientationLocation> locate(const QByteArray& file, const FormatInfo& format) {
    if (format.decoder == DecoderKind::libjpeg)
        return findJpegOrientation(file);
    if (format.tiffContainer)
        return findTiffOrientation(file, 0);
    return std::nullopt;
}

Failure refused(const char* why) {
    return Failure{FailureReason::writeFailed, QString::fromLatin1(why)};
}

bool readsBack(const QByteArray& file, std::uint16_t orientation) {
    try {
        auto image = exivbuffer::open(file);
        const auto exif = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (exif == image->exifData().end() || exif->toLong() != orientation)
            return false;
        const auto xmp = image->xmpData().findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        return xmp == image->xmpData().end() || xmp->toLong() == orientation;
    } catch (const std::exception&) {
        return false;
    }
}

// Where no tag can be overwritten in place, exiv2 adds or rewrites it in a copy in memory.
std::optional<QByteArray> rewriteWithExiv2(const QByteArray& file, std::uint16_t orientation) {
    try {
        auto image = exivbuffer::open(file);
        image->exifData()["Exif.Image.Orientation"] = Exiv2::UShortValue(orientation);
        auto& xmp = image->xmpData();
        if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end())
            xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
        image->writeMetadata();
        return exivbuffer::contents(*image);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

Result<QByteArray> readFileForRewrite(const FilePath& path) {
    return readWholeFile(path, maxRewrittenFileSize);
}

std::optional<std::int64_t> storedOrientation(const QByteArray& file, const FormatInfo& format) {
    if (auto where = locate(file, format); where && where->exifValueOffset)
        return readExifOrientation(file, *where);
    try {
        auto image = exivbuffer::open(file);
        const auto tag = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (tag == image->exifData().end() || tag->count() == 0)
            return std::nullopt;
        return tag->toLong();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Result<QByteArray> copyWithOrientation(const QByteArray& file, const FormatInfo& format,
                                       std::uint16_t orientation) {
    if (orientation < 1 || orientation > 8)
        return refused("no such orientation");
    if (format.rotation != RotationSupport::tagPatch)
        return Failure{FailureReason::unsupported, QStringLiteral("no tag writer for this format")};
    const bool jpeg = format.decoder == DecoderKind::libjpeg;

    // Overwriting the two bytes of the existing tag moves nothing else in the file.
    const auto where = locate(file, format);
    if (where && where->exifValueOffset) {
        QByteArray patched = file;
        if (patchOrientation(patched, *where, orientation) && readsBack(patched, orientation))
            return patched;
    }

    // A missing tag is added in a new IFD0 appended to the TIFF structure, so again no offset
    // changes and no other value moves; a tiff:Orientation in XMP is then patched as above.
    std::optional<QByteArray> rewritten = jpeg ? withAddedJpegOrientation(file, orientation)
                                               : withAddedTiffOrientation(file, orientation);
    if (rewritten) {
        const auto added = locate(*rewritten, format);
        if (!added || !patchOrientation(*rewritten, *added, orientation))
            rewritten.reset();
    }
    // A JPEG without any Exif block gets one from exiv2, which leaves the compressed data alone
    // (checked).
    if (!rewritten && jpeg) {
        rewritten = rewriteWithExiv2(file, orientation);
        const auto oldScan = jpegScanOffset(file);
        const auto newScan = rewritten ? jpegScanOffset(*rewritten) : std::nullopt;
        if (!oldScan || !newScan ||
            QByteArrayView(file).sliced(*oldScan) != QByteArrayView(*rewritten).sliced(*newScan))
            return refused("the Exif block could not be added without touching the image data");
    }
    if (!rewritten)
        return refused("the orientation tag could not be written");
    if (!readsBack(*rewritten, orientation))
        return refused("the orientation written did not read back");
    return std::move(*rewritten);
}

} // namespace kivo
