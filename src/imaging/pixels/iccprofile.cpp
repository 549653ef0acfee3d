// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/iccprofile.h"

#include "imaging/bytes/bytereader.h"
#include "imaging/codecs/decodecore.h"

#include <QFile>
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
        const auto length = std::uint32_t(ByteReader(header).u32());
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
        QByteArray zlib;
        appendUnsigned(zlib, std::uint64_t(std::min<qsizetype>(chunk.size() * 4, kMaxProfileBytes)),
                       4, true);
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
        const auto length = std::uint32_t(ByteReader(header, false).peek(4, 4).value_or(0));
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

// The directory is read on its own: a TIFF often keeps it after the image data.
QByteArray tiffProfile(QFile& file) {
    const QByteArray header = file.read(8);
    const auto tiff = TiffReader::open(header);
    if (!tiff || !file.seek(tiff->firstDirectory()))
        return {};
    const QByteArray countBytes = file.read(2);
    const auto count = ByteReader(countBytes, tiff->bigEndian()).peek(0, 2);
    const QByteArray bytes = countBytes + file.read(qint64(count.value_or(0)) * 12);
    const TiffDirectory ifd0 = tiff->directory(bytes, tiff->firstDirectory());
    const TiffEntry* entry = ifd0.find(34675);
    if (!entry || entry->count <= 4 || entry->count > kMaxProfileBytes || !file.seek(entry->field))
        return {};
    return file.read(entry->count);
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
