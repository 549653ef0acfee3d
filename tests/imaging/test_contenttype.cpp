// Content types come from the bytes, never the file name (except to tell TIFF-based raws apart).
#include "imaging/contenttype.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

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
    // Every format the real encoders write, saved under a misleading name.
    void encodedFilesAreRecognisedByTheirBytes() {
        QTemporaryDir dir;
        const QString path = dir.filePath("picture.gif"); // wrong on purpose
        const QList<QPair<const char*, QString>> formats{
            {"jpeg", ctype::Jpeg}, {"png", ctype::Png},   {"bmp", ctype::Bmp},
            {"ico", ctype::Ico},   {"tiff", ctype::Tiff}, {"webp", ctype::WebP}};
        for (const auto& [format, type] : formats) {
            QVERIFY(test::writeImage(test::quadrantImage(32, 32), path, format));
            QCOMPARE(sniffContentType(filePathFromText(path)), std::optional<QString>(type));
        }
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed");
        const QString gif = dir.filePath("picture.png");
        QCOMPARE(QProcess::execute(convert, {"-size", "8x8", "xc:red", "gif:" + gif}), 0);
        QCOMPARE(sniffContentType(filePathFromText(gif)), std::optional<QString>(ctype::Gif));
    }

    void headersOfTheOtherFormats() {
        const QList<std::tuple<QByteArray, QString, QString>> cases{
            {b("\0\0\0\x18"
               "ftypheic\0\0\0\0mif1heic"),
             {},
             ctype::Heic},
            {b("\0\0\0\x18"
               "ftypabcd\0\0\0\0mif1xxxx"),
             {},
             ctype::Heif}, // by compatible brand
            {b("\0\0\0\x1c"
               "ftypavif\0\0\0\0avifmif1miaf"),
             {},
             ctype::Avif},
            {b("\0\0\0\x18"
               "ftypcrx \0\0\0\x01"
               "crx isom"),
             {},
             ctype::Cr3},
            {b("8BPS\0\x01"), {}, ctype::Psd},
            {b("IIRO\x08\0\0\0"), {}, ctype::Orf},
            {b("IIU\0\x08\0\0\0"), {}, ctype::Rw2},
            {b("FUJIFILMCCD-RAW 0201"), {}, ctype::Raf},
            {b("II*\0\x10\0\0\0CR\x02\0"), "tif", ctype::Cr2},
            {tiffWith({{0xC612, 1, b("\x01\x04\0\0")}}), "tif", ctype::Dng}, // DNGVersion
            {tiffWith({}), "NEF", ctype::Nef},
            {tiffWith({}), "arw", ctype::Arw},
            // A NEF renamed to .tif, and a scanner's TIFF that only shares the maker.
            {tiffWith({{0x010F, 2, b("NIKON CORPORATION\0")}, {0x014A, 4, b("\0\0\0\0")}}), "tif",
             ctype::Nef},
            {tiffWith({{0x010F, 2, b("Nikon\0")}}), "tif", ctype::Tiff},
            {b("MM\0*\0\0\0\x08\0\0"), "tiff", ctype::Tiff},
            // A directory offset past the end is still a TIFF header.
            {b("II*\0\xff\xff\xff\xff"), {}, ctype::Tiff}};
        for (const auto& [head, extension, type] : cases)
            QVERIFY2(sniffContentType(head, extension) == type, qPrintable(type + " " + extension));
    }

    void nonImagesHaveNoType() {
        QCOMPARE(sniffContentType(QByteArrayView(), "jpg"), std::nullopt);
        QCOMPARE(sniffContentType(QByteArrayView("hello, world"), "png"), std::nullopt);
        QCOMPARE(sniffContentType(QByteArrayView("\xFF\xD8", 2), {}), std::nullopt); // cut short
        QCOMPARE(sniffContentType(QByteArrayView("\0\0\x01\0\0\0", 6), {}), std::nullopt);
        QTemporaryDir dir;
        QCOMPARE(sniffContentType(filePathFromText(dir.filePath("missing.jpg"))), std::nullopt);
        QCOMPARE(sniffContentType(filePathFromText(dir.path())), std::nullopt);
    }

    void conformance() {
        for (const QString& raw : {ctype::Cr2, ctype::Nef, ctype::Arw, ctype::Dng, ctype::Orf,
                                   ctype::Rw2, ctype::Cr3, ctype::Raf, ctype::Pef})
            QVERIFY(conformsTo(raw, ctype::CameraRaw) && conformsTo(raw, ctype::Image));
        QVERIFY(conformsTo(ctype::Jpeg, ctype::Jpeg) && conformsTo(ctype::Heic, ctype::Image));
        QVERIFY(!conformsTo(ctype::Tiff, ctype::CameraRaw) && !conformsTo(ctype::Jpeg, ctype::Png));
        QVERIFY(!conformsTo(ctype::CameraRaw, ctype::Nef) &&
                !conformsTo(ctype::Image, ctype::Jpeg));
    }
};

QTEST_GUILESS_MAIN(TestContentType)
#include "test_contenttype.moc"
