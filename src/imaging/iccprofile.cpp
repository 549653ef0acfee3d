#include "iccprofile.h"

#include "decodecore.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

namespace kivo {

namespace {

// Real profiles stay well below this; anything larger is not worth reading.
constexpr qint64 kMaxProfileBytes = 16 * 1024 * 1024;

QByteArray pngProfile(QFile& file) {
    if (!file.seek(8))
        return {};
    for (;;) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            return {};
        const quint32 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        if (type == "IDAT" || type == "IEND" || length > kMaxProfileBytes)
            return {};
        if (type != "iCCP") {
            if (!file.seek(file.pos() + qint64(length) + 4))
                return {};
            continue;
        }
        const QByteArray chunk = file.read(length);
        const qsizetype nameEnd = chunk.indexOf('\0');
        // name, NUL, compression method 0 (zlib), compressed profile
        if (chunk.size() != qsizetype(length) || nameEnd < 0 || nameEnd + 2 > chunk.size())
            return {};
        // qUncompress wants the expected size in front; it grows its buffer when that is short.
        QByteArray zlib(4, '\0');
        qToBigEndian<quint32>(quint32(std::min<qsizetype>(chunk.size() * 4, kMaxProfileBytes)),
                              zlib.data());
        zlib.append(chunk.constData() + nameEnd + 2, chunk.size() - nameEnd - 2);
        const QByteArray profile = qUncompress(zlib);
        return profile.size() <= kMaxProfileBytes ? profile : QByteArray();
    }
}

QByteArray webpProfile(QFile& file) {
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WEBP")
        return {};
    for (;;) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            return {};
        const quint32 length = qFromLittleEndian<quint32>(header.constData() + 4);
        const QByteArray fourcc = header.left(4);
        if (fourcc == "ICCP")
            return length <= kMaxProfileBytes ? file.read(length) : QByteArray();
        // The profile comes right after VP8X, before any image data.
        if (fourcc != "VP8X")
            return {};
        if (!file.seek(file.pos() + qint64(length) + (length & 1)))
            return {};
    }
}

QByteArray tiffProfile(QFile& file) {
    const QByteArray header = file.read(8);
    if (header.size() < 8)
        return {};
    const bool big = header.startsWith("MM");
    auto u16 = [big](const char* p) {
        return big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    };
    auto u32 = [big](const char* p) {
        return big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    };
    if (!file.seek(u32(header.constData() + 4)))
        return {};
    const QByteArray countBytes = file.read(2);
    if (countBytes.size() < 2)
        return {};
    const int count = u16(countBytes.constData());
    const QByteArray entries = file.read(qint64(count) * 12);
    for (qsizetype e = 0; e + 12 <= entries.size(); e += 12) {
        const char* entry = entries.constData() + e;
        if (u16(entry) != 34675)
            continue;
        const quint32 length = u32(entry + 4);
        if (length <= 4 || length > kMaxProfileBytes || !file.seek(u32(entry + 8)))
            return {};
        return file.read(length);
    }
    return {};
}

} // namespace

QByteArray embeddedIccProfile(const FilePath& path, const FormatInfo& format) {
    QFile file;
    if (format.profile == ProfileSource::decoder || !openForReading(file, path))
        return {};
    switch (format.profile) {
    case ProfileSource::pngChunk:
        return pngProfile(file);
    case ProfileSource::webpChunk:
        return webpProfile(file);
    case ProfileSource::tiffTag:
        return tiffProfile(file);
    case ProfileSource::decoder:
        break;
    }
    return {};
}

} // namespace kivo
