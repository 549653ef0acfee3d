// kivo-tool type, decode and props, run as a user would run them.
#include "support/testsupport.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status;
    QString out;
    QString err;
};

Run kivoTool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(KIVO_TOOL_PATH), args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Qt's own chatter (XDG_RUNTIME_DIR and the like) is not ours to count.
QStringList ownLines(const QString& err) {
    QStringList lines;
    for (const QString& line : err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(QLatin1String("kivo-tool:")))
            lines << line;
    return lines;
}

} // namespace

class TestDecodeCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typePrintsOneTypePerFile() {
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("a.jpg")); // a PNG under a JPEG name
        const QString webp = dir.filePath(QStringLiteral("b"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(8, 8), png, "png"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(8, 8), webp, "webp"));
        const Run one = kivoTool({QStringLiteral("type"), png});
        QCOMPARE(one.status, 0);
        QCOMPARE(one.out, QStringLiteral("public.png\n"));
        const Run two = kivoTool({QStringLiteral("type"), png, webp});
        QCOMPARE(two.status, 0);
        QCOMPARE(two.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 QStringList({png + QStringLiteral(": public.png"),
                              webp + QStringLiteral(": org.webmproject.webp")}));
    }

    void decodeWritesTheUprightPicture() {
        QTemporaryDir dir;
        const QString jpeg = dir.filePath(QStringLiteral("turned.jpg"));
        const QImage upright = kivo::test::quadrantImage(60, 40);
        QVERIFY(kivo::test::writeImage(upright.transformed(QTransform().rotate(-90)), jpeg, "jpeg",
                                       95));
        QVERIFY(kivo::test::setExifTags(
            jpeg, {{QStringLiteral("Exif.Image.Orientation"), QStringLiteral("6")}}));
        const QString out = dir.filePath(QStringLiteral("out.png"));
        const Run run = kivoTool({QStringLiteral("decode"), jpeg, QStringLiteral("-o"), out});
        QCOMPARE(run.status, 0);
        const QImage decoded(out);
        QCOMPARE(decoded.size(), QSize(60, 40));
        QVERIFY(decoded.pixelColor(10, 10).red() > 200);
        QVERIFY(decoded.pixelColor(50, 30).blue() > 200);
    }

    void propsPrintsTheDictionary() {
        QTemporaryDir dir;
        const QString jpeg = dir.filePath(QStringLiteral("tagged.jpg"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(60, 40), jpeg, "jpeg"));
        QVERIFY(kivo::test::setExifTags(
            jpeg, {{QStringLiteral("Exif.Image.Orientation"), QStringLiteral("6")},
                   {QStringLiteral("Exif.Image.Make"), QStringLiteral("Kivo Camera Works")}}));
        const Run run = kivoTool({QStringLiteral("props"), jpeg});
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.contains(QStringLiteral("ContentType = public.jpeg")));
        QVERIFY(lines.contains(QStringLiteral("PixelWidth = 60")));
        QVERIFY(lines.contains(QStringLiteral("Orientation = 6")));
        QVERIFY(lines.contains(QStringLiteral("  Make = Kivo Camera Works")));
    }

    void unreadableFilesFailWithOneLine() {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.png"));
        const QString text = dir.filePath(QStringLiteral("notes.jpg"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("just text");
        file.close();
        for (const QStringList& args :
             {QStringList{QStringLiteral("type"), missing},
              QStringList{QStringLiteral("type"), text}, QStringList{QStringLiteral("props"), text},
              QStringList{QStringLiteral("props"), missing},
              QStringList{QStringLiteral("decode"), text, QStringLiteral("-o"),
                          dir.filePath(QStringLiteral("o.png"))},
              QStringList{QStringLiteral("decode"), missing, QStringLiteral("-o"),
                          dir.filePath(QStringLiteral("o.png"))}}) {
            const Run run = kivoTool(args);
            QVERIFY2(run.status != 0, qPrintable(args.join(QLatin1Char(' '))));
            QCOMPARE(ownLines(run.err).size(), 1);
        }
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("o.png"))));
    }
};

QTEST_GUILESS_MAIN(TestDecodeCli)
#include "test_decode_cli.moc"
