// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed inputs of the fuzz targets: small documents of every kind our own decoders
// read, made by the same writers as the tests. Usage: kivo-fuzz-seeds <folder>; fills
// <folder>/psd (plain PSD files) and <folder>/decode (files prefixed with their extension's
// index, the input format of fuzz_decode).

#include "../../tests/imaging/dngwriter.h"
#include "../../tests/imaging/heifwriter.h"
#include "../../tests/imaging/psdwriter.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>

namespace {

using namespace kivo::test;

// Index of each extension in fuzz_decode's table.
constexpr char kHeic = 9, kAvif = 11, kPsd = 12, kDng = 16, kNef = 14, kJxl = 19, kSvg = 20,
               kSvgz = 21;

QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, Qt::green);
    painter.fillRect(0, height / 2, width / 2, height - height / 2, Qt::blue);
    return image;
}

bool save(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

std::vector<QByteArray> psdSeeds() {
    std::vector<QByteArray> seeds;
    struct Kind {
        int mode, depth, planes;
        bool rle, large;
    };
    for (const Kind k :
         {Kind{3, 8, 3, false, false}, Kind{3, 16, 4, true, false}, Kind{1, 8, 2, true, false},
          Kind{4, 8, 5, true, false}, Kind{4, 16, 4, false, false}, Kind{2, 8, 1, true, false},
          Kind{0, 1, 1, false, false}, Kind{3, 8, 3, true, true}}) {
        PsdDocument doc;
        doc.mode = k.mode;
        doc.depth = k.depth;
        doc.rle = k.rle;
        doc.large = k.large;
        doc.width = 9;
        doc.height = 4;
        if (k.mode == 2) {
            doc.colorModeData = QByteArray(768, '\x40');
            doc.addResource(1047, QByteArray("\0\3", 2));
        }
        doc.addResource(1039, QByteArray(40, 'i'));
        for (int p = 0; p < k.planes; ++p) {
            std::vector<quint16> plane(36);
            for (int i = 0; i < 36; ++i)
                plane[i] = quint16(k.depth == 1 ? i % 2
                                                : (i * 7 + p * 50) % (k.depth == 16 ? 65536 : 256));
            doc.planes.push_back(plane);
        }
        seeds.push_back(doc.bytes());
    }
    return seeds;
}

// SVG as the checks before Qt SVG and the renderer meet it: sizes by attribute, view box and
// units, text, gradients, <use> and an animation, and the hostile kinds refused before parsing
// (an external reference, entities, a <use> chain).
std::vector<QByteArray> svgSeeds() {
    const QByteArray open = "<svg xmlns='http://www.w3.org/2000/svg' "
                            "xmlns:xlink='http://www.w3.org/1999/xlink' ";
    return {
        "\xEF\xBB\xBF<?xml version='1.0'?><!-- c --><!DOCTYPE svg>" + open +
            "width='12mm' height='8'><defs><linearGradient id='g'><stop offset='0' "
            "stop-color='red'/><stop offset='1' stop-color='blue'/></linearGradient></defs><rect "
            "id='r' width='6' height='4' fill='url(#g)'/><use xlink:href='#r' x='6'/><text y='8' "
            "font-size='4'>Kivo</text></svg>",
        open + "viewBox='0 0 30 20'><circle cx='10' cy='10' r='8' stroke='#000' "
               "stroke-dasharray='1 2'><animate attributeName='r' from='1' to='9' dur='2s'/>"
               "</circle><path d='M0 0 L30 20 Q 10 5 3 19 Z'/></svg>",
        open + "width='8' height='8'><image xlink:href='other.png' width='8' height='8'/></svg>",
        "<!DOCTYPE svg [<!ENTITY a 'lol'><!ENTITY b '&a;&a;&a;&a;'>]>" + open +
            "width='8' height='8'><text>&b;&b;</text></svg>",
        open + "width='8' height='8'><g id='a'><use xlink:href='#b'/></g><g id='b'><use "
               "xlink:href='#a'/></g></svg>",
    };
}

// gzip's own framing around a stored (uncompressed) deflate block, so the seed needs no zlib.
QByteArray storedGzip(const QByteArray& data) {
    QByteArray out("\x1F\x8B\x08\0\0\0\0\0\0\xFF", 10);
    const auto le16 = [&](int v) { out.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    out.append('\1'); // final stored block
    le16(int(data.size()));
    le16(~int(data.size()) & 0xffff);
    out.append(data);
    quint32 crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((crc >> shift) & 0xff));
    const auto size = quint32(data.size());
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((size >> shift) & 0xff));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivo-fuzz-seeds <folder>\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("psd"));
    root.mkpath(QStringLiteral("decode"));
    bool ok = true;
    int n = 0;
    const auto decodeSeed = [&](char extension, const QByteArray& bytes) {
        ok &= save(root.filePath(QStringLiteral("decode/made-%1").arg(n++)), extension + bytes);
    };
    for (const QByteArray& psd : psdSeeds()) {
        ok &= save(root.filePath(QStringLiteral("psd/made-%1.psd").arg(n++)), psd);
        decodeSeed(kPsd, psd);
    }
    DngContent dng;
    dng.picture = picture(16, 8);
    decodeSeed(kDng, makeDng(dng));
    dng.orientation = 6;
    dng.preview = picture(8, 4);
    decodeSeed(kNef, makeDng(dng));

    const QString scratch = root.filePath(QStringLiteral("scratch.heif"));
    HeifFixture heif;
    heif.orientation = heif_orientation_rotate_90_cw_then_flip_horizontally;
    heif.primaries = heif_color_primaries_SMPTE_EG_432_1;
    for (const auto format : {heif_compression_HEVC, heif_compression_AV1}) {
        heif.format = format;
        QFile file(scratch);
        ok &= writeHeif(picture(16, 16), scratch, heif) && file.open(QIODevice::ReadOnly);
        decodeSeed(format == heif_compression_AV1 ? kAvif : kHeic, file.readAll());
    }
    QFile::remove(scratch);
    const std::vector<QByteArray> svgs = svgSeeds();
    for (const QByteArray& svg : svgs)
        decodeSeed(kSvg, svg);
    decodeSeed(kSvgz, storedGzip(svgs.front()));

    // JPEG XL headers that lie: a codestream declaring 2^20 pixels square with no frame after
    // it, and a container whose codestream box claims more bytes than the file holds.
    decodeSeed(kJxl, QByteArray("\xFF\x0A\xFE\xFF\x7F\x00\xF0\xFF\xFF\x03\x10", 11));
    decodeSeed(kJxl, QByteArray::fromHex("0000000c4a584c200d0a870a00000014667479706a786c2000000000"
                                         "6a786c207fffffff6a786c63ff0afa01"));
    return ok ? 0 : 1;
}
