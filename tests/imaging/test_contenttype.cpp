// Content types come from the bytes, never the file name (except to tell TIFF-based raws apart).
// (The formats the viewer writes fixtures for are sniffed by the format runner, test_formats.)
#include "imaging/contenttype.h"
#include "support/testsupport.h"

#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

// Bytes of a literal, its embedded zeros included.
template <std::size_t N> QByteArray b(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// A little-endian TIFF header whose IFD0 holds the given (tag, type, value) entries, with a
// value placed after the directory when it does not fit in four bytes.
QByteArray tiffWith(const QList<std::tuple<int, int, QByteArray>>& entries) {
    QByteArray head("II*\0\x08\0\0\0", 8);
    const int count = int(entries.size());
    head.append(char(count)).append(char(0));
    QByteArray extra;
    const int extraStart = 8 + 2 + count * 12 + 4;
    for (const auto& [tag, type, value] : entries) {
        head.append(char(tag & 0xFF)).append(char(tag >> 8)).append(char(type)).append(char(0));
        const int n = int(value.size());
        head.append(char(n & 0xFF)).append(char(n >> 8)).append(2, '\0');
        if (n <= 4) {
            head.append(value.leftJustified(4, '\0'));
        } else {
            const int at = extraStart + int(extra.size());
            head.append(char(at & 0xFF)).append(char(at >> 8)).append(2, '\0');
            extra.append(value);
        }
    }
    return head.append(4, '\0') + extra;
}

} // namespace

class TestContentType : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void headersOfTheOtherFormats() {
        const QList<std::tuple<QByteArray, QString, QString>> cases{
            {b("\0\0\0\x18"
               "ftypabcd\0\0\0\0mif1xxxx"),
             {},
             u"image/heif"_s}, // by compatible brand
            {b("\0\0\0\x18"
               "ftypcrx \0\0\0\x01"
               "crx isom"),
             {},
             u"image/x-canon-cr3"_s},
            {b("IIRO\x08\0\0\0"), {}, u"image/x-olympus-orf"_s},
            {b("IIU\0\x08\0\0\0"), {}, u"image/x-panasonic-rw2"_s},
            {b("FUJIFILMCCD-RAW 0201"), {}, u"image/x-fuji-raf"_s},
            {b("II*\0\x10\0\0\0CR\x02\0"), "tif", u"image/x-canon-cr2"_s},
            {tiffWith({{0xC612, 1, b("\x01\x04\0\0")}}), "tif",
             u"image/x-adobe-dng"_s}, // DNGVersion
            {tiffWith({}), "NEF", u"image/x-nikon-nef"_s},
            {tiffWith({}), "arw", u"image/x-sony-arw"_s},
            // A NEF renamed to .tif, and a scanner's TIFF that only shares the maker.
            {tiffWith({{0x010F, 2, b("NIKON CORPORATION\0")}, {0x014A, 4, b("\0\0\0\0")}}), "tif",
             u"image/x-nikon-nef"_s},
            {tiffWith({{0x010F, 2, b("Nikon\0")}}), "tif", u"image/tiff"_s},
            // A directory offset past the end is still a TIFF header.
            {b("II*\0\xff\xff\xff\xff"), {}, u"image/tiff"_s}};
        for (const auto& [head, extension, type] : cases) {
            const FormatInfo* format = sniffFormat(head, extension);
            QVERIFY2(format && format->mimeType == type, qPrintable(type + " " + extension));
        }
    }

    void nonImagesHaveNoType() {
        QVERIFY(!sniffFormat(QByteArrayView(), u"jpg"));
        QVERIFY(!sniffFormat(QByteArrayView("hello, world"), u"png"));
        QVERIFY(!sniffFormat(QByteArrayView("\xFF\xD8", 2), {})); // cut short
        QVERIFY(!sniffFormat(QByteArrayView("\0\0\x01\0\0\0", 6), {}));
    }
};

QTEST_GUILESS_MAIN(TestContentType)
#include "test_contenttype.moc"
