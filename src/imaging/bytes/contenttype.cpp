// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/bytes/contenttype.h"

#include "imaging/bytes/bytereader.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/svgdocument.h"

#include <QFile>
#include <QFileInfo>

namespace kivo {

namespace {

constexpr qint64 kHeadBytes = 64 * 1024;

bool startsWith(QByteArrayView data, QByteArrayView prefix, qsizetype at = 0) {
    return data.size() >= at + prefix.size() && data.sliced(at, prefix.size()) == prefix;
}

// ISO base media files (HEIF, AVIF, CR3) name what they hold in their first box: the major
// brand, then the compatible brands.
const FormatInfo* isoBrandType(QByteArrayView head) {
    const auto ftyp = readBoxHeader(head, ~std::uint64_t(0));
    if (!ftyp || ftyp->type != fourcc("ftyp") || ftyp->headerSize != 8 || head.size() < 16)
        return nullptr;
    const qsizetype boxSize = qsizetype(std::min<std::uint64_t>(ftyp->size, head.size()));
    auto brandType = [](QByteArrayView brand) -> const FormatInfo* {
        if (brand == "avif" || brand == "avis")
            return &formatInfo(ImageFormat::avif);
        if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" ||
            brand == "hevc" || brand == "hevx" || brand == "hevm" || brand == "hevs")
            return &formatInfo(ImageFormat::heic);
        if (brand == "mif1" || brand == "msf1")
            return &formatInfo(ImageFormat::heif);
        if (brand == "crx ")
            return &formatInfo(ImageFormat::cr3);
        return nullptr;
    };
    if (auto type = brandType(head.sliced(8, 4)))
        return type;
    for (qsizetype at = 16; at + 4 <= boxSize; at += 4) {
        if (auto type = brandType(head.sliced(at, 4)))
            return type;
    }
    return nullptr;
}

struct TiffHints {
    bool dng = false;
    bool hasSubIfds = false;
    QByteArray make;
};

// Only IFD0 is read: DNG declares its version there, and camera raws name their maker there
// and point to their full-size image through SubIFDs.
TiffHints tiffHints(QByteArrayView head) {
    TiffHints hints;
    const auto tiff = TiffReader::open(head);
    if (!tiff || tiff->firstDirectory() < 8)
        return hints;
    // The head may cut the directory short: the entries it holds still count.
    const TiffDirectory ifd0 = tiff->directory(tiff->firstDirectory());
    hints.dng = ifd0.find(0xC612) != nullptr;
    hints.hasSubIfds = ifd0.find(0x014A) != nullptr;
    if (const TiffEntry* make = ifd0.find(0x010F); make && make->count < 64)
        if (const auto text = tiff->values(*make))
            hints.make = text->toByteArray().toUpper();
    return hints;
}

const FormatInfo* tiffBasedType(QByteArrayView head, QStringView extension) {
    auto format = [](ImageFormat f) { return &formatInfo(f); };
    if (startsWith(head, "CR", 8) && head.size() > 10 && head[10] == 2)
        return format(ImageFormat::cr2);
    const TiffHints hints = tiffHints(head);
    if (hints.dng)
        return format(ImageFormat::dng);
    // The raws that are plain TIFF structures are told apart by their name.
    if (const FormatInfo* named = formatForExtension(extension);
        named && named->cameraRaw && named->tiffContainer)
        return named;
    // A raw file renamed to .tif: a camera's maker and a hidden full-size image give it away,
    // where an ordinary TIFF from the same camera has no SubIFDs.
    if (hints.hasSubIfds) {
        if (hints.make.startsWith("NIKON"))
            return format(ImageFormat::nef);
        if (hints.make.startsWith("SONY"))
            return format(ImageFormat::arw);
        if (hints.make.startsWith("PENTAX"))
            return format(ImageFormat::pef);
    }
    return format(ImageFormat::tiff);
}

bool looksLikeBmp(QByteArrayView head) {
    if (!startsWith(head, "BM") || head.size() < 18)
        return false;
    const auto infoSize = ByteReader(head, false).peek(14, 4);
    return infoSize == 12 || infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 ||
           infoSize == 108 || infoSize == 124;
}

} // namespace

const FormatInfo* sniffFormat(QByteArrayView head, QStringView extension) {
    auto format = [](ImageFormat f) { return &formatInfo(f); };
    if (startsWith(head, "\xFF\xD8\xFF"))
        return format(ImageFormat::jpeg);
    if (startsWith(head, "\x89PNG\r\n\x1A\n"))
        return format(ImageFormat::png);
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return format(ImageFormat::gif);
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8))
        return format(ImageFormat::webp);
    if (startsWith(head, "8BPS"))
        return format(ImageFormat::psd);
    if (startsWith(head, "FUJIFILMCCD-RAW"))
        return format(ImageFormat::raf);
    if (startsWith(head, "IIRO") || startsWith(head, "IIRS") || startsWith(head, "MMOR"))
        return format(ImageFormat::orf);
    if (startsWith(head, QByteArrayView("IIU\0", 4)))
        return format(ImageFormat::rw2);
    if (startsWith(head, QByteArrayView("II*\0", 4)) ||
        startsWith(head, QByteArrayView("MM\0*", 4)))
        return tiffBasedType(head, extension);
    // BigTIFF, which scanners and slide and map software write for pictures over 4 GB; no raw
    // format uses it.
    if (startsWith(head, QByteArrayView("II+\0", 4)) ||
        startsWith(head, QByteArrayView("MM\0+", 4)))
        return format(ImageFormat::tiff);
    // JPEG XL: a bare codestream, or the signature box of its ISO BMFF container.
    if (startsWith(head, "\xFF\x0A") ||
        startsWith(head, QByteArrayView("\0\0\0\x0CJXL \r\n\x87\n", 12)))
        return format(ImageFormat::jxl);
    if (auto type = isoBrandType(head))
        return type;
    if (looksLikeBmp(head))
        return format(ImageFormat::bmp);
    // ICONDIR: reserved 0, type 1, at least one entry
    if (startsWith(head, QByteArrayView("\0\0\1\0", 4)) && head.size() >= 6 && (head[4] || head[5]))
        return format(ImageFormat::ico);
    if (looksLikeSvg(head))
        return format(startsWith(head, "\x1F\x8B") ? ImageFormat::svgz : ImageFormat::svg);
    return nullptr;
}

Result<const FormatInfo*> sniffFormat(const FilePath& path) {
    QFile file;
    Failure why;
    if (!openForReading(file, path, &why))
        return why;
    const QByteArray head = file.read(kHeadBytes);
    const std::string& name = path.native();
    const auto dot = name.rfind('.');
    const QString extension =
        dot == std::string::npos
            ? QString()
            : QFile::decodeName(QByteArray::fromStdString(name.substr(dot + 1)));
    if (const FormatInfo* format = sniffFormat(head, extension))
        return format;
    return Failure{FailureReason::notAnImage, QStringLiteral("no image format recognised")};
}

} // namespace kivo
