// Content types come from the bytes, never the file name (except to tell TIFF-based raws apart).
#include "imaging/contenttype.h"
#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// A little-endian TIFF header whose IFD0 holds the given (tag, type, count, value) entries, with
// a text value placed after the directory when it does not fit in four bytes.
QByteArray tiffWith(const QList<std::tuple<int, int, QByteArray>>& entries) {
    QByteArray head("II*\0\x08\0\0\0", 8);
    const int count = int(entries.size());
    head.append(char(count)).append(char(0));
    QByteArray extra;
    const int extraStart = 8 + 2 + count * 12 + 4;
    for (const auto& [tag, type, value] : entries) {
        head.append(char(tag & 0xFF)).append(char(tag >> 8));
        head.append(char(type)).append(char(0));
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
    head.append(4, '\0');
    return head + extra;
}

} // namespace

class TestContentType : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every format the real encoders write, saved under a misleading name.
    void encodedFilesAreRecognisedByTheirBytes_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QString>("type");
        QTest::newRow("jpeg") << QByteArray("jpeg") << ctype::Jpeg;
        QTest::newRow("png") << QByteArray("png") << ctype::Png;
        QTest::newRow("bmp") << QByteArray("bmp") << ctype::Bmp;
        QTest::newRow("ico") << QByteArray("ico") << ctype::Ico;
        QTest::newRow("tiff") << QByteArray("tiff") << ctype::Tiff;
        QTest::newRow("webp") << QByteArray("webp") << ctype::WebP;
    }

    void encodedFilesAreRecognisedByTheirBytes() {
        QFETCH(QByteArray, format);
        QFETCH(QString, type);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.gif")); // wrong on purpose
        QVERIFY(test::writeImage(test::quadrantImage(32, 32), path, format.constData()));
        QCOMPARE(sniffContentType(filePathFromText(path)), std::optional<QString>(type));
    }

    void gifWrittenByImageMagick() {
        const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.png"));
        QCOMPARE(
            QProcess::execute(convert, {QStringLiteral("-size"), QStringLiteral("8x8"),
                                        QStringLiteral("xc:red"), QStringLiteral("gif:") + path}),
            0);
        QCOMPARE(sniffContentType(filePathFromText(path)), std::optional<QString>(ctype::Gif));
    }

    void headersOfTheOtherFormats_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("type");
        QTest::newRow("iphone heic") << QByteArray("\0\0\0\x18"
                                                   "ftypheic\0\0\0\0mif1heic",
                                                   24)
                                     << QString() << ctype::Heic;
        QTest::newRow("heif by compatible brand") << QByteArray("\0\0\0\x18"
                                                                "ftypabcd\0\0\0\0mif1xxxx",
                                                                24)
                                                  << QString() << ctype::Heif;
        QTest::newRow("avif") << QByteArray("\0\0\0\x1c"
                                            "ftypavif\0\0\0\0avifmif1miaf",
                                            28)
                              << QString() << ctype::Avif;
        QTest::newRow("cr3") << QByteArray("\0\0\0\x18"
                                           "ftypcrx \0\0\0\x01"
                                           "crx isom",
                                           24)
                             << QString() << ctype::Cr3;
        QTest::newRow("psd") << QByteArray("8BPS\0\x01", 6) << QString() << ctype::Psd;
        QTest::newRow("orf") << QByteArray("IIRO\x08\0\0\0", 8) << QString() << ctype::Orf;
        QTest::newRow("rw2") << QByteArray("IIU\0\x08\0\0\0", 8) << QString() << ctype::Rw2;
        QTest::newRow("raf") << QByteArray("FUJIFILMCCD-RAW 0201") << QString() << ctype::Raf;
        QTest::newRow("cr2") << QByteArray("II*\0\x10\0\0\0CR\x02\0", 12) << QString("tif")
                             << ctype::Cr2;
        QTest::newRow("dng by its version tag")
            << tiffWith({{0xC612, 1, QByteArray("\x01\x04\0\0", 4)}}) << QString("tif")
            << ctype::Dng;
        QTest::newRow("nef by extension") << tiffWith({}) << QString("NEF") << ctype::Nef;
        QTest::newRow("arw by extension") << tiffWith({}) << QString("arw") << ctype::Arw;
        QTest::newRow("nef renamed to tif")
            << tiffWith({{0x010F, 2, QByteArray("NIKON CORPORATION", 18)},
                         {0x014A, 4, QByteArray("\0\0\0\0", 4)}})
            << QString("tif") << ctype::Nef;
        QTest::newRow("tiff from a nikon scanner")
            << tiffWith({{0x010F, 2, QByteArray("Nikon", 6)}}) << QString("tif") << ctype::Tiff;
        QTest::newRow("plain tiff, big-endian")
            << QByteArray("MM\0*\0\0\0\x08\0\0", 10) << QString("tiff") << ctype::Tiff;
    }

    void headersOfTheOtherFormats() {
        QFETCH(QByteArray, head);
        QFETCH(QString, extension);
        QFETCH(QString, type);
        QCOMPARE(sniffContentType(head, extension), std::optional<QString>(type));
    }

    void nonImagesHaveNoType() {
        QCOMPARE(sniffContentType(QByteArrayView(), QStringLiteral("jpg")), std::nullopt);
        QCOMPARE(sniffContentType(QByteArrayView("hello, world"), QStringLiteral("png")),
                 std::nullopt);
        QCOMPARE(sniffContentType(bytes({0xFF, 0xD8}), QString()), std::nullopt); // cut short
        QCOMPARE(sniffContentType(QByteArrayView("\0\0\x01\0\0\0", 6), QString()), std::nullopt);
        QCOMPARE(sniffContentType(QByteArrayView("II*\0\xff\xff\xff\xff", 8), QString()),
                 std::optional<QString>(ctype::Tiff));
        QTemporaryDir dir;
        QCOMPARE(sniffContentType(filePathFromText(dir.filePath(QStringLiteral("missing.jpg")))),
                 std::nullopt);
        QCOMPARE(sniffContentType(filePathFromText(dir.path())), std::nullopt);
    }

    void conformance() {
        for (const QString& raw : {ctype::Cr2, ctype::Nef, ctype::Arw, ctype::Dng, ctype::Orf,
                                   ctype::Rw2, ctype::Cr3, ctype::Raf, ctype::Pef}) {
            QVERIFY(conformsTo(raw, ctype::CameraRaw));
            QVERIFY(conformsTo(raw, ctype::Image));
        }
        QVERIFY(conformsTo(ctype::Jpeg, ctype::Jpeg));
        QVERIFY(conformsTo(ctype::Heic, ctype::Image));
        QVERIFY(!conformsTo(ctype::Tiff, ctype::CameraRaw));
        QVERIFY(!conformsTo(ctype::Jpeg, ctype::Png));
        QVERIFY(!conformsTo(ctype::CameraRaw, ctype::Nef));
        QVERIFY(!conformsTo(ctype::Image, ctype::Jpeg));
    }
};

QTEST_GUILESS_MAIN(TestContentType)
#include "test_contenttype.moc"
