// The tag-only half of imagewriter.h: a copy of the file whose orientation alone differs.
#include "contenttype.h"
#include "exivbuffer.h"
#include "imagewriter.h"
#include "orientationpatch.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

// Above this a file is not rewritten: it would be held in memory twice.
constexpr qint64 maxRewrittenFileSize = qint64(1) << 30;

bool isTiffContainer(const QString& contentType) {
    return conformsTo(contentType, ctype::Tiff) || conformsTo(contentType, ctype::CameraRaw);
}

// exiv2 has no writer for HEIF and for these raw formats.
bool hasTagWriter(const QString& contentType) {
    return !conformsTo(contentType, ctype::Heic) && !conformsTo(contentType, ctype::Heif) &&
           !conformsTo(contentType, ctype::Arw) && !conformsTo(contentType, ctype::Rw2) &&
           !conformsTo(contentType, ctype::Avif);
}

std::optional<OrientationLocation> locate(const QByteArray& file, const QString& contentType) {
    if (conformsTo(contentType, ctype::Jpeg))
        return findJpegOrientation(file);
    if (isTiffContainer(contentType))
        return findTiffOrientation(file, 0);
    return std::nullopt;
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

std::optional<QByteArray> readFileForRewrite(const FilePath& path) {
    // Opened by its native bytes: a name that is not valid UTF-8 must still be found.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxRewrittenFileSize) {
        bytes = QByteArray(qsizetype(st.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        if (done != bytes->size())
            bytes.reset();
    }
    ::close(fd);
    return bytes;
}

std::optional<std::int64_t> storedOrientation(const QByteArray& file, const QString& contentType) {
    if (auto where = locate(file, contentType); where && where->exifValueOffset)
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

std::optional<QByteArray> copyWithOrientation(const QByteArray& file, const QString& contentType,
                                              std::uint16_t orientation) {
    if (orientation < 1 || orientation > 8 || !hasTagWriter(contentType))
        return std::nullopt;
    const bool jpeg = conformsTo(contentType, ctype::Jpeg);
    if (!jpeg && !isTiffContainer(contentType))
        return std::nullopt;

    // Overwriting the two bytes of the existing tag moves nothing else in the file.
    const auto where = locate(file, contentType);
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
        const auto added = locate(*rewritten, contentType);
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
            return std::nullopt;
    }
    if (!rewritten)
        return std::nullopt;
    if (!readsBack(*rewritten, orientation))
        return std::nullopt;
    return rewritten;
}

} // namespace kivo
