// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata.h"

#include "imaging/source.h"

#include <QCoreApplication>
#include <QLocale>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kivo {

namespace {

QString label(const char* english) {
    return QCoreApplication::translate("Metadata", english);
}

// Values are data, not prose: they never follow the user's locale, so a full stop is always
// the decimal separator and digits are never grouped.
QString fixed(double value, int digits) {
    std::array<char, 400> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::fixed, digits);
    if (error != std::errc())
        return {};
    return QString::fromLatin1(text.data(), end - text.data());
}

// Truncation toward zero, defined only inside the signed 64-bit range.
std::optional<qint64> truncated(double value) {
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        return std::nullopt;
    return qint64(value);
}

std::optional<qint64> integerValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::UShort:
        return qint64(value.toULongLong());
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(value.toULongLong());
    default:
        return std::nullopt;
    }
}

std::optional<double> doubleValue(const QVariant& value) {
    if (value.typeId() != QMetaType::Double && value.typeId() != QMetaType::Float)
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<QString> textValue(const QVariant& value) {
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QVariantMap> mapValue(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value.toMap();
}

QString decimal(qint64 value) {
    return QString::number(value);
}

std::optional<QString> shutterText(double seconds) {
    if (seconds >= 1.0)
        return fixed(seconds, 1) + QLatin1Char('s');
    // Exposure times are stored as fractions such as 1/391, whose double reciprocal comes out a
    // hair under 391; truncating that would print 1/390s. Snap to the whole number first when
    // the difference is only rounding noise.
    double inverse = 1.0 / seconds;
    const double nearest = std::round(inverse);
    if (std::abs(inverse - nearest) <= 1e-9 * std::max(1.0, std::abs(nearest)))
        inverse = nearest;
    const auto reciprocal = truncated(inverse);
    if (!reciprocal)
        return std::nullopt;
    return QStringLiteral("1/") + decimal(*reciprocal) + QLatin1Char('s');
}

std::optional<QString> positionText(const QVariantMap& gps) {
    auto latitude = doubleValue(gps.value(prop::Latitude));
    const auto latitudeRef = textValue(gps.value(prop::LatitudeRef));
    auto longitude = doubleValue(gps.value(prop::Longitude));
    const auto longitudeRef = textValue(gps.value(prop::LongitudeRef));
    if (!latitude || !latitudeRef || !longitude || !longitudeRef)
        return std::nullopt;
    if (*latitudeRef == QLatin1String("S"))
        *latitude = -*latitude;
    if (*longitudeRef == QLatin1String("W"))
        *longitude = -*longitude;
    return fixed(*latitude, 6) + QStringLiteral(", ") + fixed(*longitude, 6);
}

// The byte-count text: decimal units (1 kB = 1000 bytes), as file managers show file sizes.
QString fileSizeText(qint64 bytes) {
    static const QLocale locale = QLocale::c();
    return locale.formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

class RowList {
public:
    // `english` is marked where it is written (QT_TRANSLATE_NOOP), so the catalogues list it.
    void add(const char* english, const std::optional<QString>& value) {
        if (value)
            rows_.append({label(english), *value});
    }
    QList<MetadataEntry> take() { return std::move(rows_); }

private:
    QList<MetadataEntry> rows_;
};

template <typename T, typename F>
auto mapped(const std::optional<T>& value, F&& f) -> std::optional<QString> {
    if (!value)
        return std::nullopt;
    return f(*value);
}

} // namespace

QList<MetadataEntry> metadataRows(std::optional<qint64> fileSize,
                                  const std::optional<QVariantMap>& properties) {
    RowList rows;
    rows.add(QT_TRANSLATE_NOOP("Metadata", "File Size"), mapped(fileSize, fileSizeText));
    if (!properties)
        return rows.take();
    const QVariantMap& top = *properties;

    const auto width = integerValue(top.value(prop::PixelWidth));
    const auto height = integerValue(top.value(prop::PixelHeight));
    if (width && height)
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Dimensions"),
                 decimal(*width) + QStringLiteral(" \u00d7 ") + decimal(*height));
    rows.add(QT_TRANSLATE_NOOP("Metadata", "Bit Depth"),
             mapped(integerValue(top.value(prop::Depth)),
                    [](qint64 d) { return decimal(d) + QStringLiteral(" bits"); }));
    rows.add(QT_TRANSLATE_NOOP("Metadata", "Color Model"), textValue(top.value(prop::ColorModel)));

    if (const auto tiff = mapValue(top.value(prop::TIFF))) {
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Camera"), textValue(tiff->value(prop::Make)));
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Model"), textValue(tiff->value(prop::Model)));
    }

    if (const auto exif = mapValue(top.value(prop::Exif))) {
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Date"),
                 textValue(exif->value(prop::DateTimeOriginal)));
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Focal Length"),
                 mapped(doubleValue(exif->value(prop::FocalLength)),
                        [](double mm) -> std::optional<QString> {
                            return mapped(truncated(mm), [](qint64 whole) {
                                return decimal(whole) + QStringLiteral("mm");
                            });
                        }));
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Aperture"),
                 mapped(doubleValue(exif->value(prop::FNumber)),
                        [](double f) { return QStringLiteral("f/") + fixed(f, 1); }));
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Shutter"),
                 mapped(doubleValue(exif->value(prop::ExposureTime)), shutterText));
        const QVariant iso = exif->value(prop::ISOSpeedRatings);
        if (iso.typeId() == QMetaType::QVariantList && !iso.toList().isEmpty())
            rows.add(QT_TRANSLATE_NOOP("Metadata", "ISO"),
                     mapped(integerValue(iso.toList().front()), decimal));
        rows.add(QT_TRANSLATE_NOOP("Metadata", "Lens"), textValue(exif->value(prop::LensModel)));
    }

    if (const auto gps = mapValue(top.value(prop::GPS)))
        rows.add(QT_TRANSLATE_NOOP("Metadata", "GPS"), positionText(*gps));
    return rows.take();
}

QList<MetadataEntry> extractMetadata(const FilePath& path) {
    std::error_code error;
    // Anything but a regular file (a FIFO, a device) could block or never end when read.
    if (!std::filesystem::is_regular_file(path, error))
        return {};
    std::optional<qint64> size;
    const auto bytes = std::filesystem::file_size(path, error);
    if (!error && bytes <= quint64(std::numeric_limits<qint64>::max()))
        size = qint64(bytes);
    std::optional<QVariantMap> properties;
    if (const auto source = ImageSource::open(path))
        if (auto read = source->properties())
            properties = std::move(*read);
    return metadataRows(size, properties);
}

} // namespace kivo
