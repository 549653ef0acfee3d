// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/psdreader.h"

#include "imaging/bytes/bytereader.h"

#include <QColor>
#include <QIODevice>
#include <algorithm>
#include <cstring>
#include <lcms2.h>
#include <memory>
#include <vector>

namespace kivo {

namespace {

int colourChannelCount(PsdColorMode mode) {
    switch (mode) {
    case PsdColorMode::RGB:
        return 3;
    case PsdColorMode::CMYK:
        return 4;
    default:
        return 1;
    }
}

QString colorModelName(PsdColorMode mode) {
    switch (mode) {
    case PsdColorMode::CMYK:
        return QStringLiteral("CMYK");
    case PsdColorMode::RGB:
    case PsdColorMode::Indexed:
        return QStringLiteral("RGB");
    default:
        return QStringLiteral("Gray");
    }
}

bool isSupported(PsdColorMode mode, int depth) {
    switch (mode) {
    case PsdColorMode::Bitmap:
        return depth == 1;
    case PsdColorMode::Indexed:
        return depth == 8;
    case PsdColorMode::Grayscale:
    case PsdColorMode::Duotone: // stored as its grey ink, which is what a viewer can show
    case PsdColorMode::RGB:
    case PsdColorMode::CMYK:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

// Everything before the pixels, and where the pixels start.
struct Document {
    PsdHeader header;
    QByteArrayView palette;
    QByteArray iccProfile;
    int transparentIndex = -1;
    bool mergedHasAlpha = false;
    QByteArrayView imageData;
};

std::optional<PsdHeader> parseHeader(ByteReader& in) {
    if (in.u32() != 0x38425053) // "8BPS"
        return std::nullopt;
    const int version = in.u16();
    in.take(6);
    PsdHeader header;
    header.isLargeDocument = version == 2;
    header.channels = in.u16();
    header.height = int(std::min<std::uint32_t>(in.u32(), 0x7fffffff));
    header.width = int(std::min<std::uint32_t>(in.u32(), 0x7fffffff));
    header.depth = in.u16();
    header.colorMode = PsdColorMode(in.u16());
    const int maxSide = header.isLargeDocument ? 300000 : 30000;
    if (!in.ok() || (version != 1 && version != 2) || header.channels < 1 || header.channels > 56 ||
        header.width < 1 || header.height < 1 || header.width > maxSide ||
        header.height > maxSide || std::int64_t(header.width) * header.height > kPsdPixelBudget ||
        !isSupported(header.colorMode, header.depth) ||
        header.channels < colourChannelCount(header.colorMode))
        return std::nullopt;
    return header;
}

void parseResources(QByteArrayView block, Document& doc) {
    ByteReader in(block);
    while (in.remaining() >= 12) {
        if (in.u32() != 0x3842494d) // "8BIM"
            return;
        const int id = in.u16();
        const int nameLength = in.read(1);
        in.take((nameLength + 2) / 2 * 2 - 1); // the Pascal name is padded to an even size
        const std::uint32_t size = in.u32();
        const QByteArrayView payload = in.take(size);
        in.take(size % 2);
        if (!in.ok())
            return;
        if (id == 1039)
            doc.iccProfile = payload.toByteArray();
        else if (id == 1047 && payload.size() >= 2)
            doc.transparentIndex = ByteReader(payload).u16();
    }
}

std::optional<Document> parseDocument(QByteArrayView data) {
    ByteReader in(data);
    Document doc;
    const auto header = parseHeader(in);
    if (!header)
        return std::nullopt;
    doc.header = *header;
    doc.palette = in.take(in.u32());
    parseResources(in.take(in.u32()), doc);
    const bool large = doc.header.isLargeDocument;
    const QByteArrayView layersAndMasks = in.take(large ? in.u64() : in.u32());
    if (!in.ok())
        return std::nullopt;
    if (doc.header.colorMode == PsdColorMode::Indexed && doc.palette.size() < 768)
        return std::nullopt;

    // A negative layer count marks the first extra channel as the merged image's transparency.
    // Without any layer information the extra channel is the only transparency there is.
    bool transparencyFlag = layersAndMasks.isEmpty();
    ByteReader layers(layersAndMasks);
    const std::uint64_t layerInfoLength = large ? layers.u64() : layers.u32();
    const auto layerCount = std::int16_t(layers.u16());
    if (layers.ok())
        transparencyFlag = layerInfoLength == 0 || layerCount < 0;
    doc.mergedHasAlpha = transparencyFlag &&
                         doc.header.channels > colourChannelCount(doc.header.colorMode) &&
                         doc.header.colorMode != PsdColorMode::Indexed &&
                         doc.header.colorMode != PsdColorMode::Bitmap;
    doc.imageData = data.sliced(in.pos());
    return doc;
}

// Decodes one PackBits row into exactly `out.size()` bytes.
bool unpackBits(QByteArrayView packed, std::vector<std::uint8_t>& out) {
    std::size_t filled = 0;
    qsizetype i = 0;
    while (filled < out.size()) {
        if (i >= packed.size())
            return false;
        const int n = std::int8_t(packed[i++]);
        if (n >= 0) {
            const std::size_t count = std::size_t(n) + 1;
            if (count > out.size() - filled || i + qsizetype(count) > packed.size())
                return false;
            std::memcpy(out.data() + filled, packed.data() + i, count);
            i += qsizetype(count);
            filled += count;
        } else if (n != -128) {
            const std::size_t count = std::size_t(1 - n);
            if (count > out.size() - filled || i >= packed.size())
                return false;
            std::memset(out.data() + filled, std::uint8_t(packed[i++]), count);
            filled += count;
        }
    }
    return true;
}

// Where each decoded plane goes in the output image.
class PixelAssembler {
public:
    PixelAssembler(const Document& doc, int planes)
        : doc_(doc)
        , planes_(planes) {
        const PsdHeader& h = doc.header;
        const bool deep = h.depth == 16;
        const bool alpha = planes > colourChannelCount(h.colorMode);
        QImage::Format format = deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                     : (alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
        if (h.colorMode == PsdColorMode::Indexed)
            format = QImage::Format_Indexed8;
        else if (planes == 1)
            format = deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
        image_ = QImage(h.width, h.height, format);
        if (image_.isNull())
            return;
        if (format == QImage::Format_Indexed8) {
            image_.setColorTable(palette());
            image_.fill(0);
        } else {
            image_.fill(Qt::white); // opaque where no transparency plane is stored
        }
    }

    bool valid() const { return !image_.isNull(); }
    QImage& image() { return image_; }
    QImage take() { return std::move(image_); }

    void putRow(int plane, int y, const std::vector<std::uint8_t>& row) {
        const PsdHeader& h = doc_.header;
        uchar* line = image_.scanLine(y);
        if (h.depth == 1) {
            for (int x = 0; x < h.width; ++x)
                line[x] = (row[std::size_t(x) / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            return;
        }
        const int stride = image_.depth() / h.depth; // components per pixel in the output
        for (const int slot : slotsFor(plane)) {
            if (h.depth == 8) {
                for (int x = 0; x < h.width; ++x)
                    line[x * stride + slot] = row[std::size_t(x)];
            } else {
                auto* out = reinterpret_cast<quint16*>(line);
                for (int x = 0; x < h.width; ++x)
                    out[x * stride + slot] =
                        quint16((row[std::size_t(x) * 2] << 8) | row[std::size_t(x) * 2 + 1]);
            }
        }
    }

private:
    std::vector<int> slotsFor(int plane) const {
        const int colours = colourChannelCount(doc_.header.colorMode);
        if (plane >= colours)
            return {3}; // transparency
        if (colours == 1 && planes_ > 1)
            return {0, 1, 2}; // grey with alpha is spread over red, green and blue
        return {plane};
    }

    QList<QRgb> palette() const {
        QList<QRgb> table(256);
        for (int i = 0; i < 256; ++i) {
            const auto byte = [&](int part) { return std::uint8_t(doc_.palette[part * 256 + i]); };
            table[i] = qRgba(byte(0), byte(1), byte(2), i == doc_.transparentIndex ? 0 : 255);
        }
        return table;
    }

    const Document& doc_;
    int planes_;
    QImage image_;
};

template <typename Sample> void invert(Sample* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = Sample(~samples[i]);
}

// Photoshop stores CMYK with 0 meaning full ink. Convert through the document's profile when it
// has a usable one; otherwise the plain subtractive formula, which is what a profile-less
// CMYK document can mean at best.
void convertCmyk(QImage& image, int depth, const QByteArray& iccProfile) {
    const bool deep = depth == 16;
    const std::size_t samples = std::size_t(image.width()) * 4;
    cmsContext context = cmsCreateContext(nullptr, nullptr);
    cmsHTRANSFORM transform = nullptr;
    if (context && !iccProfile.isEmpty()) {
        cmsHPROFILE cmyk = cmsOpenProfileFromMemTHR(context, iccProfile.constData(),
                                                    cmsUInt32Number(iccProfile.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
        if (cmyk && srgb && cmsGetColorSpace(cmyk) == cmsSigCmykData)
            transform =
                cmsCreateTransformTHR(context, cmyk, deep ? TYPE_CMYK_16 : TYPE_CMYK_8, srgb,
                                      deep ? TYPE_RGBA_16 : TYPE_RGBA_8, INTENT_PERCEPTUAL, 0);
        if (cmyk)
            cmsCloseProfile(cmyk);
        if (srgb)
            cmsCloseProfile(srgb);
    }
    std::vector<std::uint8_t> scratch(samples * (deep ? 2 : 1));
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        if (transform) {
            std::memcpy(scratch.data(), line, scratch.size());
            if (deep)
                invert(reinterpret_cast<quint16*>(scratch.data()), samples);
            else
                invert(scratch.data(), samples);
            cmsDoTransform(transform, scratch.data(), line, cmsUInt32Number(image.width()));
            for (int x = 0; x < image.width(); ++x) {
                if (deep)
                    reinterpret_cast<quint16*>(line)[x * 4 + 3] = 0xffff;
                else
                    line[x * 4 + 3] = 0xff;
            }
            continue;
        }
        for (int x = 0; x < image.width(); ++x) {
            if (deep) {
                auto* px = reinterpret_cast<quint16*>(line) + x * 4;
                const std::uint32_t k = px[3];
                for (int c = 0; c < 3; ++c)
                    px[c] = quint16(px[c] * k / 0xffff);
                px[3] = 0xffff;
            } else {
                uchar* px = line + x * 4;
                const unsigned k = px[3];
                for (int c = 0; c < 3; ++c)
                    px[c] = uchar(px[c] * k / 0xff);
                px[3] = 0xff;
            }
        }
    }
    if (transform)
        cmsDeleteTransform(transform);
    if (context)
        cmsDeleteContext(context);
}

// Locates each row of each plane we decode; nullopt when the data cannot hold them.
std::optional<std::vector<QByteArrayView>> locateRows(const Document& doc, int planes,
                                                      std::size_t rowBytes) {
    const PsdHeader& h = doc.header;
    ByteReader in(doc.imageData);
    const int compression = in.u16();
    const std::size_t rowCount = std::size_t(planes) * std::size_t(h.height);
    std::vector<QByteArrayView> rows;
    if (compression == 0) {
        if (rowBytes * rowCount > std::size_t(in.remaining()))
            return std::nullopt;
        rows.reserve(rowCount);
        for (std::size_t i = 0; i < rowCount; ++i)
            rows.push_back(in.take(rowBytes));
        return rows;
    }
    if (compression != 1)
        return std::nullopt;
    // PackBits needs two bytes for every 128 output bytes, so a row shorter than that is a lie
    // about the size, refused before the image is allocated.
    const int countBytes = h.isLargeDocument ? 4 : 2;
    const std::size_t allCounts = std::size_t(h.channels) * std::size_t(h.height);
    if (allCounts * std::size_t(countBytes) > std::size_t(in.remaining()))
        return std::nullopt;
    ByteReader counts(in.take(allCounts * countBytes));
    const std::uint64_t minimum = (rowBytes + 127) / 128 * 2;
    std::uint64_t total = 0;
    std::vector<std::uint64_t> lengths(rowCount);
    for (auto& length : lengths) {
        length = counts.read(countBytes);
        total += length;
        if (length < minimum || total > std::uint64_t(in.remaining()))
            return std::nullopt;
    }
    rows.reserve(rowCount);
    for (const auto length : lengths)
        rows.push_back(in.take(length));
    return rows;
}

} // namespace

std::optional<QByteArray> readPsdEssentials(QIODevice& device, bool withPixels) {
    const qint64 total = device.size();
    const auto readExactly = [&](qint64 length) -> std::optional<QByteArray> {
        if (length < 0 || length > total - device.pos())
            return std::nullopt;
        QByteArray bytes = device.read(length);
        if (bytes.size() != length)
            return std::nullopt;
        return bytes;
    };
    const auto lengthOf = [](const QByteArray& field) {
        ByteReader in(field);
        return qint64(in.read(int(field.size())));
    };
    // Header, then the colour mode data and the image resources, each behind its length.
    auto essentials = readExactly(26);
    if (!essentials || !readPsdHeader(*essentials))
        return std::nullopt;
    for (int block = 0; block < 2; ++block) {
        const auto length = readExactly(4);
        const auto payload = length ? readExactly(lengthOf(*length)) : std::nullopt;
        if (!payload)
            return std::nullopt;
        *essentials += *length + *payload;
    }
    // Of the layer section only its first field counts here: keep that, skip the layers.
    const bool large = readPsdHeader(*essentials)->isLargeDocument;
    const int lengthBytes = large ? 8 : 4;
    const auto layerLength = readExactly(lengthBytes);
    if (!layerLength)
        return std::nullopt;
    const qint64 layerBytes = lengthOf(*layerLength);
    const auto layerHead = readExactly(std::min<qint64>(layerBytes, lengthBytes + 2));
    if (!layerHead || layerBytes > total - device.pos() + layerHead->size() ||
        !device.seek(device.pos() + layerBytes - layerHead->size()))
        return std::nullopt;
    appendUnsigned(*essentials, layerHead->size(), lengthBytes, true);
    *essentials += *layerHead;
    if (withPixels) {
        const auto pixels = readExactly(total - device.pos());
        if (!pixels)
            return std::nullopt;
        *essentials += *pixels;
    }
    return essentials;
}

std::optional<PsdHeader> readPsdHeader(QByteArrayView data) {
    ByteReader in(data);
    return parseHeader(in);
}

std::optional<PixelInfo> readPsdInfo(QByteArrayView data) {
    const auto doc = parseDocument(data);
    if (!doc)
        return std::nullopt;
    PixelInfo info;
    info.size = QSize(doc->header.width, doc->header.height);
    info.depth = doc->header.depth;
    info.colorModel = colorModelName(doc->header.colorMode);
    info.hasAlpha = doc->mergedHasAlpha ||
                    (doc->header.colorMode == PsdColorMode::Indexed && doc->transparentIndex >= 0);
    return info;
}

std::optional<DecodedPixels> readPsd(QByteArrayView data) {
    const auto doc = parseDocument(data);
    if (!doc)
        return std::nullopt;
    const PsdHeader& h = doc->header;
    const int colours = colourChannelCount(h.colorMode);
    const int planes = colours + (doc->mergedHasAlpha ? 1 : 0);
    const std::size_t rowBytes = (std::size_t(h.width) * std::size_t(h.depth) + 7) / 8;
    const auto rows = locateRows(*doc, planes, rowBytes);
    if (!rows)
        return std::nullopt;

    PixelAssembler assembler(*doc, planes);
    if (!assembler.valid())
        return std::nullopt;
    DecodedPixels result;
    std::vector<std::uint8_t> row(rowBytes);
    for (int plane = 0; plane < planes; ++plane) {
        for (int y = 0; y < h.height; ++y) {
            const QByteArrayView stored = (*rows)[std::size_t(plane) * std::size_t(h.height) + y];
            if (stored.size() == qsizetype(rowBytes))
                std::memcpy(row.data(), stored.data(), rowBytes);
            else if (!unpackBits(stored, row))
                return std::nullopt;
            assembler.putRow(plane, y, row);
        }
        // CMYK turns into RGB once its four inks are in; the transparency plane that follows
        // then lands where the black ink was.
        if (h.colorMode == PsdColorMode::CMYK && plane == colours - 1)
            convertCmyk(assembler.image(), h.depth, doc->iccProfile);
    }
    result.image = assembler.take();
    if (h.colorMode != PsdColorMode::CMYK)
        result.iccProfile = doc->iccProfile;
    return result;
}

} // namespace kivo
