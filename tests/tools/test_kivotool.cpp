// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool run as a user would run it: type, decode, props, info, histogram, thumbnail and
// rotate, and the one-line reasons it gives when it refuses.
#include "imaging/dngwriter.h"
#include "imaging/heifwriter.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivo;

namespace {

struct Run {
    int status;
    QString out;
    // Every line on stderr but libpng's own error lines: Qt's PNG reader gives libpng no error
    // function, so libpng prints those itself, out of any program's reach.
    QStringList errors;
    QStringList lines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

// As a script, cron or ssh runs it: without XDG_RUNTIME_DIR.
Run kivoTool(const QStringList& args, const QString& loggingRules = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    if (!loggingRules.isEmpty())
        environment.insert("QT_LOGGING_RULES", loggingRules);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(KIVO_TOOL_PATH, args);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())
                .split('\n', Qt::SkipEmptyParts)
                .filter(QRegularExpression("^(?!libpng error: )"))};
}

// A DNG whose raw strip is said to start 200 bytes before the end of the file: LibRaw runs out
// of data while reading it.
QByteArray shortDng() {
    test::DngContent content;
    content.picture = test::quadrantImage(64, 48);
    QByteArray bytes = test::makeDng(content);
    const QByteArray stripAtEight("\x11\x01\x04\x00\x01\x00\x00\x00\x08\x00\x00\x00", 12);
    const qsizetype entry = bytes.indexOf(stripAtEight);
    const quint32 late = qToLittleEndian(quint32(bytes.size() - 200));
    if (entry > 0)
        bytes.replace(entry + 8, 4, reinterpret_cast<const char*>(&late), 4);
    return bytes;
}

} // namespace

class TestKivoTool : public QObject {
    Q_OBJECT

    // A photo stored 40 x 60 and shown 60 x 40, and a PNG under a JPEG's name.
    QTemporaryDir dir_;
    const QString jpeg = dir_.filePath("turned.jpg"), png = dir_.filePath("a.jpg");

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(test::writeImage(test::quadrantImage(8, 8), png, "png"));
        QVERIFY(test::writeImage(test::quadrantImage(60, 40).transformed(QTransform().rotate(-90)),
                                 jpeg, "jpeg", 95));
        QVERIFY(test::setExifTags(
            jpeg, {{"Exif.Image.Orientation", "6"}, {"Exif.Image.Make", "Kivo Camera Works"}}));
    }

    void typeDecodeAndPropsOfATurnedPhoto() {
        const QString out = dir_.filePath("out.png");
        QCOMPARE(kivoTool({"type", png}).lines(), QStringList{"image/png"});
        const Run two = kivoTool({"type", png, jpeg});
        QCOMPARE(two.status, 0);
        QCOMPARE(two.lines(), QStringList({png + ": image/png", jpeg + ": image/jpeg"}));

        QCOMPARE(kivoTool({"decode", jpeg, "-o", out}).status, 0);
        const QImage decoded(out);
        QCOMPARE(decoded.size(), QSize(60, 40));
        QVERIFY(decoded.pixelColor(10, 10).red() > 200 && decoded.pixelColor(50, 30).blue() > 200);
        const Run props = kivoTool({"props", jpeg});
        QCOMPARE(props.status, 0);
        for (const char* line : {"ContentType = image/jpeg", "PixelWidth = 40", "Orientation = 6",
                                 "  Make = Kivo Camera Works"}) // the width as stored, not shown
            QVERIFY2(props.lines().contains(line), line);
    }

    // Each refusal is one line saying why: a damaged, an unknown, an unreadable file and a FIFO
    // (which must not block) give four different reasons, and no picture is written.
    void refusalsSayWhyInOneLine() {
        QTemporaryDir dir;
        const QString cut = dir.filePath("cut.png"), text = dir.filePath("notes.jpg"),
                      locked = dir.filePath("locked.jpg"), fifo = dir.filePath("pipe.jpg");
        QVERIFY(test::writeImage(test::quadrantImage(64, 64), cut, "png"));
        QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
        QVERIFY(test::writeFile(text, "just text"));
        QVERIFY(QFile::copy(cut, locked));
        QVERIFY(QFile::setPermissions(locked, {}));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString out = dir.filePath("o.png");
        for (const QString& path : {text, dir.filePath("missing.png")})
            for (const char* command : {"type", "props"}) {
                const Run run = kivoTool({command, path});
                QVERIFY2(run.status != 0 && run.errors.size() == 1, command);
            }
        QStringList reasons;
        for (const QString& path : {cut, text, locked, fifo}) {
            const Run run = kivoTool({"decode", path, "-o", out});
            QVERIFY(run.status != 0);
            QCOMPARE(run.errors.size(), 1);
            reasons << run.errors.front().section(": ", 2, 2).section(" (", 0, 0);
        }
        if (::geteuid() == 0) // root reads anything: only three to tell apart
            reasons.removeAt(2);
        reasons.removeDuplicates();
        QCOMPARE(reasons.size(), ::geteuid() == 0 ? 3 : 4);
        QVERIFY(!QFile::exists(out));
    }

    void infoPrintsRowsPerFile() {
        const Run run = kivoTool({"info", jpeg, png});
        QCOMPARE(run.status, 0);
        const QStringList blocks = run.out.split(QStringLiteral("\n\n"));
        QCOMPARE(blocks.size(), 2);
        const QStringList first = blocks[0].split('\n');
        const QStringList second = blocks[1].trimmed().split('\n');
        QCOMPARE(first.back(), QStringLiteral("Camera\tKivo Camera Works"));
        QVERIFY(first.contains(QStringLiteral("Dimensions\t40 \u00d7 60"))); // as stored
        QVERIFY(second.front().startsWith(QStringLiteral("File Size\t")));
        QVERIFY(second.contains(QStringLiteral("Dimensions\t8 \u00d7 8")));

        const Run missing = kivoTool({"info", dir_.filePath(QStringLiteral("absent.jpg"))});
        QVERIFY(missing.status != 0);
        QVERIFY(missing.errors.join(' ').contains(QStringLiteral("absent.jpg")));
    }

    void histogramPrintsThreeLinesOf256() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("red.png"));
        QImage red(30, 10, QImage::Format_RGB32);
        red.fill(QColor(255, 0, 0));
        QVERIFY(test::writeImage(red, path, "png"));
        const Run run = kivoTool({"histogram", path});
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        for (const QString& line : lines)
            QCOMPARE(line.split(' ').size(), 256);
        QCOMPARE(lines[0].split(' ')[255], QStringLiteral("300"));
        QCOMPARE(lines[1].split(' ')[0], QStringLiteral("300"));
        QVERIFY(kivoTool({"histogram", dir.filePath(QStringLiteral("absent.png"))}).status != 0);
    }

    // Palette PNGs of every depth turn upright at their own depth, though Qt has no writer for 2
    // and 4 bits. A 2-bit grey PNG would come back widened: it is left as it was, and the
    // refusal says why.
    void rotateTurnsPalettesAndSaysWhyItRefuses_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<bool>("tagged");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QByteArray>("layout"); // IHDR bit depth and colour type afterwards
        QTest::newRow("1-bit palette") << "basn3p01" << true << "pixels" << QByteArray("\1\3", 2);
        QTest::newRow("2-bit palette") << "basn3p02" << true << "pixels" << QByteArray("\2\3", 2);
        QTest::newRow("4-bit palette") << "basn3p04" << true << "pixels" << QByteArray("\4\3", 2);
        QTest::newRow("2-bit grey") << "basn0g02" << false
                                    << "not rewritten: could not be written: the encoder would "
                                       "change the pixel layout"
                                    << QByteArray();
    }

    void rotateTurnsPalettesAndSaysWhyItRefuses() {
        QFETCH(QString, sample);
        QFETCH(bool, tagged);
        QFETCH(QString, said);
        QFETCH(QByteArray, layout);
        QTemporaryDir dir;
        const QString file = dir.filePath("p6.png");
        QVERIFY(QFile::copy(test::testDataPath("pngsuite/png/" + sample + ".png"), file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        if (tagged)
            QVERIFY(test::setExifTags(file, {{"Exif.Image.Orientation", "6"}}));
        const QByteArray before = test::readFile(file);
        const auto storedPixels = [&file] {
            QImageReader reader(file);
            reader.setAutoTransform(false);
            return reader.read().convertToFormat(QImage::Format_ARGB32);
        };
        const QImage stored = storedPixels(); // tag 6 turned back a quarter: as stored, untagged
        const Run run = kivoTool({"rotate", file, "-1"});
        QCOMPARE(run.lines(), QStringList{said});
        if (layout.isEmpty()) {
            QCOMPARE(run.status, 1);
            QVERIFY(run.errors.join(' ').endsWith(said.mid(said.indexOf(':') + 2)));
            QCOMPARE(test::readFile(file), before);
            return;
        }
        QCOMPARE(run.status, 0);
        const QByteArray after = test::readFile(file);
        QCOMPARE(after.mid(24, 2), layout);
        QCOMPARE(storedPixels(), stored);
    }

    // Every command over a camera's TIFF with tags libtiff does not know, a damaged TIFF, a
    // phone's HEIC and a cut-short DNG prints its result alone, or one line saying why it
    // refuses: libtiff's and LibRaw's messages and Qt's own stay in their logging categories.
    void speaksOnlyOfItsResult() {
        QTemporaryDir dir;
        const QString camera = dir.filePath("camera.tif"), damaged = dir.filePath("damaged.tif"),
                      phone = dir.filePath("phone.heic"), raw = dir.filePath("short.dng");
        QVERIFY(test::writeCameraTiffs(camera, damaged));
        QVERIFY(test::writeHeif(test::quadrantImage(64, 48), phone, {}));
        QVERIFY(test::writeFile(raw, shortDng()));
        const QStringList commands{"type",      "decode",    "props", "info",
                                   "histogram", "thumbnail", "rotate"};
        for (const QString& file : {camera, damaged, phone, raw})
            for (const QString& command : commands) {
                const QString copy = dir.filePath("copy-" + QFileInfo(file).fileName());
                QFile::remove(copy);
                QVERIFY(QFile::copy(file, copy)); // rotate rewrites its file
                QStringList args{command, copy};
                if (command == "decode" || command == "thumbnail")
                    args << "-o" << dir.filePath(command == "decode" ? "out.png" : "thumbs");
                if (command == "rotate")
                    args << "+1";
                const Run run = kivoTool(args);
                const QString what =
                    command + ' ' + QFileInfo(file).fileName() + ": " + run.errors.join(" | ");
                QVERIFY2(run.status == 0 ? run.errors.isEmpty() : run.errors.size() == 1,
                         qPrintable(what));
                if (file == camera || (file == phone && command != "rotate")) // HEIC: on screen
                    QVERIFY2(run.status == 0, qPrintable(what));
                else if (file != phone && command == "decode")
                    QVERIFY2(run.status != 0 && run.errors.front().startsWith("kivo-tool: "),
                             qPrintable(what));
            }
        // Enabled, the same messages come out under our categories.
        const Run told = kivoTool({"decode", camera, "-o", dir.filePath("out.png")}, "kivo.*=true");
        QCOMPARE(told.status, 0);
        const QString said = told.errors.join('\n');
        QVERIFY2(said.contains("kivo.imaging.tiff: TIFFReadDirectory: Warning, Unknown field") &&
                     said.contains("kivo.tool: QStandardPaths: XDG_RUNTIME_DIR not set"),
                 qPrintable(said));
    }

    // An SVG through the commands: rendered at its own size on transparency, described as RGB
    // with alpha, thumbnailed sharp at the strip's size, and never rewritten by a rotation.
    void svgThroughTheCommands() {
        QTemporaryDir dir;
        const QString svg = dir.filePath("drawn.svg"), out = dir.filePath("drawn.png");
        QVERIFY(test::writeFile(svg,
                                "<svg xmlns='http://www.w3.org/2000/svg' width='30' "
                                "height='20'><rect width='15' height='20' fill='red'/></svg>"));
        QVERIFY(kivoTool({"mime-types"}).lines().contains("image/svg+xml"));
        QCOMPARE(kivoTool({"type", svg}).lines(), QStringList{"image/svg+xml"});
        QCOMPARE(kivoTool({"decode", svg, "-o", out}).status, 0);
        const QImage decoded(out);
        QCOMPARE(decoded.size(), QSize(30, 20));
        QCOMPARE(decoded.pixelColor(5, 5), QColor(Qt::red));
        QCOMPARE(decoded.pixelColor(25, 5).alpha(), 0);
        const QStringList props = kivoTool({"props", svg}).lines();
        for (const char* line : {"ColorModel = RGB", "HasAlpha = true", "PixelWidth = 30"})
            QVERIFY2(props.contains(line), line);
        QCOMPARE(kivoTool({"thumbnail", svg, "-o", dir.path()}).status, 0);
        QCOMPARE(QImage(out).size(), QSize(120, 80));
        const QByteArray before = test::readFile(svg);
        QCOMPARE(kivoTool({"rotate", svg, "+1"}).status, 1);
        QCOMPARE(test::readFile(svg), before);
    }

    // A JPEG XL turned by its codestream header, with an Exif box that says otherwise: the
    // codestream wins, and the box still gives the camera.
    void jpegXlThroughEveryCommand() {
        QTemporaryDir dir;
        const QString jxl = dir.filePath("turned.jxl"), tagged = dir.filePath("tagged.jpg");
        QCOMPARE(QProcess::execute("cjxl", {jpeg, jxl, "-j", "0", "-d", "1"}), 0);
        QVERIFY(QFile::copy(jpeg, tagged));
        QVERIFY(test::setExifTags(tagged, {{"Exif.Image.Orientation", "3"}}));
        const QByteArray jpegBytes = test::readFile(tagged);
        const qsizetype app1 = jpegBytes.indexOf(QByteArray("Exif\0\0", 6));
        QVERIFY(app1 > 4);
        const int length = (uchar(jpegBytes[app1 - 2]) << 8 | uchar(jpegBytes[app1 - 1])) - 8;
        QByteArray box(4, '\0');
        qToBigEndian<quint32>(quint32(12 + length), box.data());
        box += QByteArray("Exif\0\0\0\0", 8) + jpegBytes.mid(app1 + 6, length);
        QVERIFY(test::writeFile(jxl, test::readFile(jxl) + box));

        QVERIFY(kivoTool({"mime-types"}).lines().contains("image/jxl"));
        QCOMPARE(kivoTool({"type", jxl}).lines(), QStringList{"image/jxl"});
        const QStringList props = kivoTool({"props", jxl}).lines();
        for (const char* line : {"PixelWidth = 40", "Orientation = 6", "ProfileName = sRGB",
                                 "  Make = Kivo Camera Works"})
            QVERIFY2(props.contains(line), line);
        QVERIFY(kivoTool({"info", jxl}).lines().contains("Camera\tKivo Camera Works"));
        // cjxl's default for a JPEG keeps its Exif Brotli-compressed, which exiv2 cannot read.
        const QString recompressed = dir.filePath("recompressed.jxl");
        QCOMPARE(QProcess::execute("cjxl", {"--quiet", jpeg, recompressed}), 0);
        QVERIFY(kivoTool({"props", recompressed}).lines().contains("  Make = Kivo Camera Works"));
        const QString out = dir.filePath("out.png");
        QCOMPARE(kivoTool({"decode", jxl, "-o", out}).status, 0);
        const QImage decoded(out);
        QCOMPARE(decoded.size(), QSize(60, 40));
        QVERIFY(decoded.pixelColor(10, 10).red() > 200 && decoded.pixelColor(50, 30).blue() > 200);
        // The orientation lives in the codestream, which nothing rewrites: turned on screen only.
        const QByteArray before = test::readFile(jxl);
        QCOMPARE(kivoTool({"rotate", jxl, "+1"}).status, 1);
        QCOMPARE(test::readFile(jxl), before);
        QCOMPARE(kivoTool({"thumbnail", jxl, "-o", dir.path()}).status, 0);
        QCOMPARE(QImage(dir.filePath("turned.png")).size(), QSize(60, 40)); // never enlarged
    }

    void thumbnailWritesPngs() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("wide.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(600, 200), photo, "jpeg"));
        const QString out = dir.filePath(QStringLiteral("thumbs"));
        QCOMPARE(kivoTool({"thumbnail", photo, "-o", out}).status, 0);
        const QImage thumbnail(out + QStringLiteral("/wide.png"));
        QCOMPARE(thumbnail.size(), QSize(120, 40));

        const Run partly = kivoTool({"thumbnail", photo, dir.filePath("absent.jpg"), "-o", out});
        QVERIFY(partly.status != 0);
        QVERIFY(partly.errors.join(' ').contains(QStringLiteral("absent.jpg")));
    }
};

QTEST_GUILESS_MAIN(TestKivoTool)
#include "test_kivotool.moc"
