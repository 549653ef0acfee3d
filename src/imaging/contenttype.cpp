#include "contenttype.h"

#include "decodecore.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <array>

namespace kivo {

namespace {

constexpr qint64 kHeadBytes = 64 * 1024;

bool startsWith(QByteArrayView data, QByteArrayView prefix, qsizetype at = 0) {
    return data.size() >= at + prefix.size() && data.sliced(at, prefix.size()) == prefix;
}

// ISO base media files (HEIF, AVIF, CR3) name what they hold in their first box: the major
// brand, then the compatible brands.
std::optional<QString> isoBrandType(QByteArrayView head) {
    if (!startsWith(head, "ftyp", 4) || head.size() < 16)
        return std::nullopt;
    const qsizetype boxSize =
        std::min<qsizetype>(qFromBigEndian<quint32>(head.data()), head.size());
    auto brandType = [](QByteArrayView brand) -> std::optional<QString> {
        if (brand == "avif" || brand == "avis")
            return ctype::Avif;
        if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" ||
            brand == "hevc" || brand == "hevx" || brand == "hevm" || brand == "hevs")
            return ctype::Heic;
        if (brand == "mif1" || brand == "msf1")
            return ctype::Heif;
        if (brand == "crx ")
            return ctype::Cr3;
        return std::nullopt;
    };
    if (auto type = brandType(head.sliced(8, 4)))
        return type;
    for (qsizetype at = 16; at + 4 <= boxSize; at += 4) {
        if (auto type = brandType(head.sliced(at, 4)))
            return type;
    }
    return std::nullopt;
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
    const bool big = head[0] == 'M';
    auto u16 = [&](qsizetype at) {
        return big ? qFromBigEndian<quint16>(head.data() + at)
                   : qFromLittleEndian<quint16>(head.data() + at);
    };
    auto u32 = [&](qsizetype at) {
        return big ? qFromBigEndian<quint32>(head.data() + at)
                   : qFromLittleEndian<quint32>(head.data() + at);
    };
    const quint32 ifd = u32(4);
    if (ifd < 8 || qsizetype(ifd) + 2 > head.size())
        return hints;
    const int count = u16(ifd);
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        if (entry + 12 > head.size())
            break;
        const int tag = u16(entry);
        if (tag == 0xC612) {
            hints.dng = true;
        } else if (tag == 0x014A) {
            hints.hasSubIfds = true;
        } else if (tag == 0x010F) {
            const quint32 length = u32(entry + 4);
            const qsizetype at = length <= 4 ? entry + 8 : qsizetype(u32(entry + 8));
            if (length > 0 && length < 64 && at + qsizetype(length) <= head.size())
                hints.make = head.sliced(at, length).toByteArray().toUpper();
        }
    }
    return hints;
}

QString tiffBasedType(QByteArrayView head, const QString& extension) {
    if (startsWith(head, "CR", 8) && head.size() > 10 && head[10] == 2)
        return ctype::Cr2;
    const TiffHints hints = tiffHints(head);
    if (hints.dng)
        return ctype::Dng;
    static const std::array<std::pair<const char*, const QString*>, 9> byExtension{{
        {"nef", &ctype::Nef},
        {"nrw", &ctype::Nef},
        {"arw", &ctype::Arw},
        {"srf", &ctype::Arw},
        {"sr2", &ctype::Arw},
        {"cr2", &ctype::Cr2},
        {"dng", &ctype::Dng},
        {"pef", &ctype::Pef},
        {"orf", &ctype::Orf},
    }};
    for (const auto& [suffix, type] : byExtension) {
        if (extension.compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0)
            return *type;
    }
    // A raw file renamed to .tif: a camera's maker and a hidden full-size image give it away,
    // where an ordinary TIFF from the same camera has no SubIFDs.
    if (hints.hasSubIfds) {
        if (hints.make.startsWith("NIKON"))
            return ctype::Nef;
        if (hints.make.startsWith("SONY"))
            return ctype::Arw;
        if (hints.make.startsWith("PENTAX"))
            return ctype::Pef;
    }
    return ctype::Tiff;
}

bool looksLikeBmp(QByteArrayView head) {
    if (!startsWith(head, "BM") || head.size() < 18)
        return false;
    const quint32 infoSize = qFromLittleEndian<quint32>(head.data() + 14);
    return infoSize == 12 || infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 ||
           infoSize == 108 || infoSize == 124;
}

} // namespace

std::optional<QString> sniffContentType(QByteArrayView head, const QString& extension) {
    if (startsWith(head, "\xFF\xD8\xFF"))
        return ctype::Jpeg;
    if (startsWith(head, "\x89PNG\r\n\x1A\n"))
        return ctype::Png;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return ctype::Gif;
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8))
        return ctype::WebP;
    if (startsWith(head, "8BPS"))
        return ctype::Psd;
    if (startsWith(head, "FUJIFILMCCD-RAW"))
        return ctype::Raf;
    if (startsWith(head, "IIRO") || startsWith(head, "IIRS") || startsWith(head, "MMOR"))
        return ctype::Orf;
    if (startsWith(head, QByteArrayView("IIU\0", 4)))
        return ctype::Rw2;
    if (startsWith(head, QByteArrayView("II*\0", 4)) ||
        startsWith(head, QByteArrayView("MM\0*", 4)))
        return tiffBasedType(head, extension);
    if (auto type = isoBrandType(head))
        return type;
    if (looksLikeBmp(head))
        return ctype::Bmp;
    // ICONDIR: reserved 0, type 1, at least one entry
    if (startsWith(head, QByteArrayView("\0\0\1\0", 4)) && head.size() >= 6 && (head[4] || head[5]))
        return ctype::Ico;
    return std::nullopt;
}

std::optional<QString> sniffContentType(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    const QByteArray head = file.read(kHeadBytes);
    const QString extension =
        QFile::decodeName(QByteArray::fromStdString(path.extension().native())).mid(1);
    return sniffContentType(head, extension);
}

bool conformsTo(const QString& type, const QString& parent) {
    if (type == parent || parent == ctype::Image)
        return true;
    if (parent == ctype::CameraRaw)
        return type == ctype::Cr2 || type == ctype::Nef || type == ctype::Arw ||
               type == ctype::Dng || type == ctype::Orf || type == ctype::Rw2 ||
               type == ctype::Cr3 || type == ctype::Raf || type == ctype::Pef;
    return false;
}

} // namespace kivo
