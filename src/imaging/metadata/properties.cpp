// SPDX-License-Identifier: GPL-3.0-or-later
// The property dictionary of image 0: EXIF, TIFF and GPS fields through exiv2, and the pixel
// layout from the cheapest place that states it exactly (the codec's own header, exiv2, or Qt's
// image reader). No pixels are decoded here: this runs on every step through a folder.

#include "imaging/bytes/bytereader.h"
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/jxlcodec.h"
#include "imaging/codecs/svgcodec.h"
#include "imaging/metadata/exivbuffer.h"
#include "imaging/source.h"

#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <lcms2.h>
#include <map>
#include <memory>
#include <mutex>

namespace kivo {

namespace {

// exiv2 0.27's Exif code is reentrant, but its XMP toolkit registers namespaces in a process
// table while it parses and its start-up is not thread-safe at all: the imaging library starts
// it in one place, with a lock. HEIF support (BMFF) is compiled in but off until asked for.
void prepareExiv2() {
    exivbuffer::initialiseOnce();
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::enableBMFF(true); });
}

const Exiv2::Exifdatum* findTag(const Exiv2::ExifData& exif, const char* key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0)
        return nullptr;
    return &*it;
}

// Rationals are read as exact fractions: exiv2's own toFloat() goes through float, which turns
// 1/250 s into 1/249 once the shutter text truncates its reciprocal.
std::optional<double> rationalAt(const Exiv2::Exifdatum& datum, long n) {
    if (n >= datum.count())
        return std::nullopt;
    const Exiv2::TypeId type = datum.typeId();
    if (type != Exiv2::unsignedRational && type != Exiv2::signedRational)
        return std::nullopt;
    const Exiv2::Rational r = datum.toRational(n);
    if (r.second == 0)
        return std::nullopt;
    if (type == Exiv2::unsignedRational)
        return double(uint32_t(r.first)) / double(uint32_t(r.second));
    return double(r.first) / double(r.second);
}

std::optional<double> rationalTag(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = findTag(exif, key);
    return datum ? rationalAt(*datum, 0) : std::nullopt;
}

std::optional<QString> textTag(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = findTag(exif, key);
    if (!datum || datum->typeId() != Exiv2::asciiString)
        return std::nullopt;
    std::string text = datum->toString();
    text.resize(std::min(text.size(), text.find('\0')));
    // Cameras pad fixed-size fields with blanks.
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::optional<qint64> integerTag(const Exiv2::ExifData& exif, const char* key, long n = 0) {
    const Exiv2::Exifdatum* datum = findTag(exif, key);
    if (!datum || n >= datum->count())
        return std::nullopt;
    switch (datum->typeId()) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
        return qint64(datum->toLong(n));
    default:
        return std::nullopt;
    }
}

// Degrees from the degrees, minutes and seconds rationals of a GPS coordinate.
std::optional<double> gpsCoordinate(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = findTag(exif, key);
    if (!datum || datum->count() < 3)
        return std::nullopt;
    const auto d = rationalAt(*datum, 0), m = rationalAt(*datum, 1), s = rationalAt(*datum, 2);
    if (!d || !m || !s)
        return std::nullopt;
    return *d + *m / 60.0 + *s / 3600.0;
}

void insertIf(QVariantMap& map, const QString& key, const auto& value) {
    if (value)
        map.insert(key, *value);
}

void addExifDictionaries(const Exiv2::ExifData& exif, QVariantMap& properties) {
    QVariantMap tiff;
    insertIf(tiff, prop::Make, textTag(exif, "Exif.Image.Make"));
    insertIf(tiff, prop::Model, textTag(exif, "Exif.Image.Model"));

    QVariantMap ex;
    insertIf(ex, prop::DateTimeOriginal, textTag(exif, "Exif.Photo.DateTimeOriginal"));
    insertIf(ex, prop::FocalLength, rationalTag(exif, "Exif.Photo.FocalLength"));
    insertIf(ex, prop::FNumber, rationalTag(exif, "Exif.Photo.FNumber"));
    insertIf(ex, prop::ExposureTime, rationalTag(exif, "Exif.Photo.ExposureTime"));
    insertIf(ex, prop::LensModel, textTag(exif, "Exif.Photo.LensModel"));
    if (const Exiv2::Exifdatum* iso = findTag(exif, "Exif.Photo.ISOSpeedRatings")) {
        QVariantList ratings;
        for (long i = 0; i < iso->count() && i < 16; ++i)
            if (const auto rating = integerTag(exif, "Exif.Photo.ISOSpeedRatings", i))
                ratings.append(int(std::clamp<qint64>(*rating, INT_MIN, INT_MAX)));
        if (!ratings.isEmpty())
            ex.insert(prop::ISOSpeedRatings, ratings);
    }

    QVariantMap gps;
    insertIf(gps, prop::Latitude, gpsCoordinate(exif, "Exif.GPSInfo.GPSLatitude"));
    insertIf(gps, prop::LatitudeRef, textTag(exif, "Exif.GPSInfo.GPSLatitudeRef"));
    insertIf(gps, prop::Longitude, gpsCoordinate(exif, "Exif.GPSInfo.GPSLongitude"));
    insertIf(gps, prop::LongitudeRef, textTag(exif, "Exif.GPSInfo.GPSLongitudeRef"));

    if (!tiff.isEmpty())
        properties.insert(prop::TIFF, tiff);
    if (!ex.isEmpty())
        properties.insert(prop::Exif, ex);
    if (!gps.isEmpty())
        properties.insert(prop::GPS, gps);
}

std::optional<QString> profileDescription(const void* icc, std::size_t size) {
    if (size == 0)
        return std::nullopt;
    std::unique_ptr<void, decltype(&cmsCloseProfile)> profile(
        cmsOpenProfileFromMem(icc, cmsUInt32Number(size)), &cmsCloseProfile);
    if (!profile)
        return std::nullopt;
    std::array<char, 256> text{};
    if (cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text.data(),
                               cmsUInt32Number(text.size())) == 0)
        return std::nullopt;
    const QString description = QString::fromLatin1(text.data()).trimmed();
    return description.isEmpty() ? std::nullopt : std::optional(description);
}

// The layout part of the dictionary, as far as it is known: unknown fields are left out.
struct Layout {
    QSize size;
    std::optional<int> depth;
    std::optional<QString> colorModel;
    std::optional<bool> hasAlpha;
    std::optional<int> orientation;
    std::optional<QString> profileName;
};

Layout fromPixelInfo(const PixelInfo& info) {
    Layout layout{info.size, info.depth, info.colorModel, info.hasAlpha, info.orientation, {}};
    if (!info.profileName.isEmpty())
        layout.profileName = info.profileName;
    return layout;
}

// A JPEG XL codestream states its colour space and any ICC profile in its header, which in a
// container may follow an Exif or XMP box.
std::optional<PixelInfo> probeJxlFile(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    return probeJxl(file.read(256 * 1024));
}

// What a JPEG's markers before the scan hold: the frame header (precision and component count;
// Qt's reader would report a CMYK file as RGB, since it converts on decoding), the EXIF block
// and the ICC profile. Reading these few segments directly spares exiv2's XMP parsing, which
// is more than half of its time on a camera JPEG and is of no use here.
struct JpegTags {
    Layout layout;
    QByteArray head; // the bytes `header` points into
    JpegHeader header;
};

std::optional<JpegTags> scanJpeg(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    JpegTags tags;
    // The segments before the scan are read in growing steps: most headers fit in the first.
    for (qint64 want = 256 * 1024;; want *= 4) {
        tags.head += file.read(want - tags.head.size());
        tags.header = readJpegHeader(tags.head);
        if (tags.header.headerEnd || file.atEnd() || tags.head.size() < want)
            break;
    }
    const auto& frame = tags.header.frame;
    if (!frame)
        return std::nullopt;
    tags.layout.size = QSize(frame->width, frame->height);
    tags.layout.depth = frame->precision;
    tags.layout.hasAlpha = false;
    if (frame->components == 1)
        tags.layout.colorModel = QStringLiteral("Gray");
    else if (frame->components == 3)
        tags.layout.colorModel = QStringLiteral("RGB");
    else if (frame->components == 4)
        tags.layout.colorModel = QStringLiteral("CMYK");
    return tags;
}

// PNG's header chunk states bit depth and colour type exactly, which Qt's formats blur.
std::optional<Layout> pngLayout(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    const QByteArray head = file.read(29);
    ByteReader in(head);
    in.skip(12);
    if (in.take(4) != "IHDR")
        return std::nullopt;
    const std::uint32_t width = in.u32(), height = in.u32();
    Layout layout;
    layout.depth = in.u8();
    const int colourType = in.u8();
    if (!in.ok() || width > INT_MAX || height > INT_MAX)
        return std::nullopt;
    layout.size = QSize(int(width), int(height));
    layout.colorModel =
        (colourType == 0 || colourType == 4) ? QStringLiteral("Gray") : QStringLiteral("RGB");
    layout.hasAlpha = colourType == 4 || colourType == 6;
    return layout;
}

// A TIFF's first directory states its layout among the tags exiv2 has already read.
Layout tiffLayout(const Exiv2::ExifData& exif) {
    Layout layout;
    layout.depth = integerTag(exif, "Exif.Image.BitsPerSample");
    switch (integerTag(exif, "Exif.Image.PhotometricInterpretation").value_or(-1)) {
    case 0:
    case 1:
        layout.colorModel = QStringLiteral("Gray");
        break;
    case 2:
    case 3:
    case 6:
        layout.colorModel = QStringLiteral("RGB");
        break;
    case 5:
        layout.colorModel = QStringLiteral("CMYK");
        break;
    case 8:
    case 9:
    case 10:
        layout.colorModel = QStringLiteral("Lab");
        break;
    default:
        break;
    }
    // An extra sample of kind 0 is unspecified data, not coverage.
    const auto extra = integerTag(exif, "Exif.Image.ExtraSamples");
    layout.hasAlpha = extra == 1 || extra == 2;
    return layout;
}

// What Qt's reader tells from the header: size, and depth and colour model from the format it
// would decode to.
Layout qtLayout(const FilePath& path) {
    QImageReader reader(displayPath(path));
    Layout layout;
    layout.size = reader.size();
    switch (reader.imageFormat()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        layout.depth = 1;
        layout.colorModel = QStringLiteral("Gray");
        break;
    case QImage::Format_Grayscale8:
        layout.depth = 8;
        layout.colorModel = QStringLiteral("Gray");
        break;
    case QImage::Format_Grayscale16:
        layout.depth = 16;
        layout.colorModel = QStringLiteral("Gray");
        break;
    case QImage::Format_Invalid:
        break;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBX16FPx4:
        layout.depth = 16;
        layout.colorModel = QStringLiteral("RGB");
        layout.hasAlpha = false;
        break;
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        layout.depth = 16;
        layout.colorModel = QStringLiteral("RGB");
        layout.hasAlpha = true;
        break;
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        layout.depth = 32;
        layout.colorModel = QStringLiteral("RGB");
        layout.hasAlpha = reader.imageFormat() != QImage::Format_RGBX32FPx4;
        break;
    default:
        // Palette and 8-bit formats. Asking Qt's pixel-format table about a format the reader
        // merely names is not safe for every value, so alpha is told from the known names only.
        layout.depth = 8;
        layout.colorModel = QStringLiteral("RGB");
        layout.hasAlpha = reader.imageFormat() == QImage::Format_ARGB32 ||
                          reader.imageFormat() == QImage::Format_ARGB32_Premultiplied ||
                          reader.imageFormat() == QImage::Format_RGBA8888 ||
                          reader.imageFormat() == QImage::Format_RGBA8888_Premultiplied;
        break;
    }
    return layout;
}

std::optional<PixelInfo> probe(const FormatInfo& format, const FilePath& path) {
    switch (format.decoder) {
    case DecoderKind::libheif:
        return probeHeif(path);
    case DecoderKind::libraw:
        return probeRaw(path);
    case DecoderKind::psdReader:
        return probePsd(path);
    case DecoderKind::libjxl:
        return probeJxlFile(path);
    case DecoderKind::qtSvg:
        return probeSvg(path);
    case DecoderKind::libjpeg:
    case DecoderKind::libspng:
    case DecoderKind::qtPlugin:
        break;
    }
    return std::nullopt;
}

Layout layoutFor(const FormatInfo& format, const FilePath& path) {
    if (format.layout == LayoutSource::codecProbe)
        if (const auto probed = probe(format, path))
            return fromPixelInfo(*probed);
    if (format.layout == LayoutSource::pngHeader)
        if (auto layout = pngLayout(path))
            return *layout;
    return {};
}

// What the file's tags say: the TIFF, Exif and GPS dictionaries, the orientation tag, the ICC
// profile's name, and for the formats whose headers are read alongside, the layout.
struct TagReading {
    QVariantMap dictionaries;
    QSize size;
    std::optional<Layout> layout;
    std::optional<int> orientation;
    std::optional<QString> profileName;
};

void readExif(const Exiv2::ExifData& exif, const FormatInfo& format, TagReading& reading) {
    addExifDictionaries(exif, reading.dictionaries);
    if (format.layout == LayoutSource::tiffTags)
        reading.layout = tiffLayout(exif);
    if (const auto o = integerTag(exif, "Exif.Image.Orientation"); o && *o >= 1 && *o <= 8)
        reading.orientation = int(*o);
}

std::optional<TagReading> readJpeg(const FilePath& path) {
    const std::optional<JpegTags> tags = scanJpeg(path);
    if (!tags)
        return std::nullopt;
    const JpegHeader* header = &tags->header;
    TagReading reading;
    reading.layout = tags->layout;
    reading.size = tags->layout.size;
    Exiv2::ExifData exif;
    if (!header->exif.isEmpty()) {
        try {
            Exiv2::ExifParser::decode(exif,
                                      reinterpret_cast<const Exiv2::byte*>(header->exif.data()),
                                      uint32_t(header->exif.size()));
        } catch (...) {
            // A broken EXIF block gives no tags; the frame header still gives the layout.
            exif.clear();
        }
    }
    readExif(exif, formatInfo(ImageFormat::jpeg), reading);
    reading.profileName =
        profileDescription(header->icc.constData(), std::size_t(header->icc.size()));
    return reading;
}

// A JPEG XL's Exif box through libjxl, which also unpacks the Brotli-compressed box cjxl makes
// of a JPEG's Exif; exiv2 reads neither a bare codestream nor such a box.
std::optional<TagReading> readJxl(const FilePath& path) {
    const auto bytes = readWholeFile(path, qint64(256) << 20);
    if (!bytes)
        return std::nullopt;
    const QByteArray tiff = jxlExifBox(*bytes);
    TagReading reading;
    Exiv2::ExifData exif;
    if (!tiff.isEmpty()) {
        try {
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()),
                                      uint32_t(tiff.size()));
        } catch (...) {
            exif.clear();
        }
    }
    readExif(exif, formatInfo(ImageFormat::jxl), reading);
    return reading;
}

std::optional<TagReading> readTags(const FilePath& path, const FormatInfo& type) {
    prepareExiv2();
    if (type.layout == LayoutSource::jpegFrame)
        if (auto reading = readJpeg(path))
            return reading;
    if (type.decoder == DecoderKind::libjxl)
        return readJxl(path);
    try {
        auto image = Exiv2::ImageFactory::open(path.native(), false);
        if (image.get() == nullptr)
            return std::nullopt;
        image->readMetadata();
        TagReading reading;
        readExif(image->exifData(), type, reading);
        reading.size = QSize(image->pixelWidth(), image->pixelHeight());
        if (image->iccProfileDefined())
            reading.profileName = profileDescription(image->iccProfile()->pData_,
                                                     std::size_t(image->iccProfile()->size_));
        return reading;
    } catch (...) {
        // exiv2 throws on anything it cannot parse; a file it cannot read simply has no tags.
        return std::nullopt;
    }
}

} // namespace

Result<QVariantMap> ImageSource::properties() const {
    const FormatInfo& format = *format_;
    const std::optional<TagReading> tags = readTags(path_, format);
    Layout layout = tags && tags->layout ? *tags->layout : layoutFor(format, path_);

    // A raw file's first directory is usually a small preview, so exiv2's size is trusted for
    // the other formats only; a codec probe or the file's own header comes first anyway.
    QSize size = layout.size;
    if (!size.isValid() && tags && !format.cameraRaw)
        size = tags->size;
    if (!size.isValid() || (!layout.depth && !format.containerOrients)) {
        const Layout qt = qtLayout(path_);
        if (!size.isValid())
            size = qt.size;
        if (!layout.depth) {
            layout.depth = qt.depth;
            layout.colorModel = qt.colorModel;
            layout.hasAlpha = qt.hasAlpha;
        }
    }
    if (!size.isValid() && !tags) {
        qCDebug(lcImaging) << "no properties for" << displayPath(path_);
        return Failure{FailureReason::damaged,
                       QStringLiteral("neither tags nor a size could be read")};
    }

    QVariantMap properties = tags ? tags->dictionaries : QVariantMap();
    if (size.isValid()) {
        properties.insert(prop::PixelWidth, size.width());
        properties.insert(prop::PixelHeight, size.height());
    }
    insertIf(properties, prop::Depth, layout.depth);
    insertIf(properties, prop::ColorModel, layout.colorModel);
    insertIf(properties, prop::HasAlpha, layout.hasAlpha);
    // HEIF and raw files carry their own transform; their EXIF tag does not govern display.
    if (format.containerOrients)
        insertIf(properties, prop::Orientation, layout.orientation);
    else if (tags)
        insertIf(properties, prop::Orientation, tags->orientation);
    if (tags && tags->profileName)
        insertIf(properties, prop::ProfileName, tags->profileName);
    else
        insertIf(properties, prop::ProfileName, layout.profileName);
    return properties;
}

} // namespace kivo
