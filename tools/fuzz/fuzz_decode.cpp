// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the whole decode and properties path on arbitrary bytes saved under each
// extension the viewer lists. The first byte picks the extension, the rest is the file.

#include "imaging/bytes/bytereader.h"
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/jxlcodec.h"
#include "imaging/codecs/pngdecoder.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/decode.h"
#include "imaging/formats.h"
#include "imaging/metadata/heiforientation.h"
#include "imaging/metadata/orientation.h"
#include "imaging/source.h"
#include "imaging/write/orientationpatch.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

const QStringList& extensions() {
    static const QStringList list = kivo::supportedExtensions();
    return list;
}

QTemporaryDir* scratchFolder() {
    static QTemporaryDir dir;
    return &dir;
}

// Region reads whatever the picture's size (the dispatch opens a reader only for huge ones):
// a corner, the bottom right and the middle at full resolution, and the whole at a reduction.
void readRegions(const kivo::FilePath& path) {
    const auto opened = kivo::openRegionReaderAnySize(path, {}, true);
    if (!opened || !*opened)
        return;
    const QSize size = (*opened)->size();
    const QRect whole(QPoint(0, 0), size);
    (*opened)->read({QRect(0, 0, 9, 9) & whole,
                     QRect(size.width() - 5, size.height() - 5, 5, 5) & whole,
                     QRect(size.width() / 3, size.height() / 3, 17, 13) & whole},
                    0);
    if (qint64(size.width()) * size.height() <= 4096 * 4096)
        (*opened)->read({whole}, 2);
}

// Our own decoders directly too: on their own they must hold whatever the dispatch does.
void decodeDirectly(const kivo::FilePath& path, const QString& extension) {
    const kivo::FormatInfo* format = kivo::formatForExtension(extension);
    if (!format)
        return;
    if (format->format == kivo::ImageFormat::jpeg || format->format == kivo::ImageFormat::png ||
        format->format == kivo::ImageFormat::tiff)
        readRegions(path);
    if (format->decoder == kivo::DecoderKind::psdReader) {
        kivo::probePsd(path);
        kivo::decodePsd(path);
    } else if (format->decoder == kivo::DecoderKind::libheif) {
        kivo::probeHeif(path);
        kivo::decodeHeif(path, 120);
        // The transform boxes are parsed by our own code, even where libheif gives up.
        QFile file(kivo::displayPath(path));
        if (file.open(QIODevice::ReadOnly))
            kivo::heifItemOrientation(kivo::readHeifMetaBox(file), 1);
    } else if (format->decoder == kivo::DecoderKind::libraw) {
        kivo::probeRaw(path);
        kivo::decodeRaw(path, 120);
    } else if (format->decoder == kivo::DecoderKind::qtSvg) {
        // A view zoomed in asks for a rendering beyond the intrinsic size.
        kivo::decodeLevel(path, QSize(900, 700), false);
    } else if (format->decoder == kivo::DecoderKind::libjxl) {
        // The stored pixels and the frames out of order, which the dispatch above
        // reaches only for files that decode far enough.
        QFile file(kivo::displayPath(path));
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray bytes = file.readAll();
        kivo::probeJxl(bytes);
        kivo::jxlExifBox(bytes);
        kivo::decodeJxl(bytes, false);
        if (auto frames = kivo::openJxlFrames(bytes)) {
            frames->decodeFrame(frames->frameCount() - 1);
            frames->decodeFrame(0);
        }
    } else if (format->decoder == kivo::DecoderKind::libspng) {
        // A level turned by a quarter: rows averaged into a box as they arrive.
        kivo::PngDecodeOptions level;
        level.fitBox = QSize(64, 48);
        level.orientation = 6;
        kivo::decodePng(path, level);
    }
}

// The byte-reading layer on the raw bytes, whatever the extension, with the orientation patch,
// which only a rotation reaches.
void readBytesDirectly(const QByteArray& bytes) {
    kivo::findJpegOrientation(bytes);
    kivo::findTiffOrientation(bytes, 0);
    kivo::withAddedJpegOrientation(bytes, 6);
    kivo::withAddedTiffOrientation(bytes, 6);
    kivo::jpegScanOffset(bytes);
    kivo::exifOrientation(bytes);
    kivo::heifItemOrientation(bytes, 1);
    kivo::pngChunks(bytes);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // A GUI application, offscreen: Qt SVG draws text with the GUI's fonts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const QString extension = extensions()[data[0] % extensions().size()];
    const QString name = scratchFolder()->filePath(QStringLiteral("input.") + extension);
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
    }
    const kivo::FilePath path = kivo::filePathFromText(name);
    kivo::decodeImage(path);
    if (const auto source = kivo::ImageSource::open(path)) {
        source->properties();
        source->thumbnail(120);
    }
    decodeDirectly(path, extension);
    readBytesDirectly(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    return 0;
}
