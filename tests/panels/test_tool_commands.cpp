// kivo-tool's info, histogram and thumbnail commands, run as a user would run them.

#include "support/testsupport.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run kivoTool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(KIVO_TOOL_PATH), args);
    process.waitForFinished(60'000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestToolCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void infoPrintsRowsPerFile() {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.jpg"));
        const QString b = dir.filePath(QStringLiteral("b.png"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(64, 48), a, "jpeg"));
        QVERIFY(kivo::test::setExifTags(a, {{"Exif.Image.Make", "Canon"}}));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(10, 20), b, "png"));
        const Run run = kivoTool({"info", a, b});
        QCOMPARE(run.status, 0);
        const QStringList blocks = run.out.split(QStringLiteral("\n\n"));
        QCOMPARE(blocks.size(), 2);
        const QStringList first = blocks[0].split('\n');
        const QStringList second = blocks[1].trimmed().split('\n');
        QCOMPARE(first.back(), QStringLiteral("Camera\tCanon"));
        QVERIFY(first.contains(QStringLiteral("Dimensions\t64 \u00d7 48")));
        QVERIFY(second.front().startsWith(QStringLiteral("File Size\t")));
        QVERIFY(second.contains(QStringLiteral("Dimensions\t10 \u00d7 20")));

        const Run missing = kivoTool({"info", dir.filePath(QStringLiteral("absent.jpg"))});
        QVERIFY(missing.status != 0);
        QVERIFY(missing.err.contains(QStringLiteral("absent.jpg")));
    }

    void histogramPrintsThreeLinesOf256() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("red.png"));
        QImage red(30, 10, QImage::Format_RGB32);
        red.fill(QColor(255, 0, 0));
        QVERIFY(kivo::test::writeImage(red, path, "png"));
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

    void thumbnailWritesPngs() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("wide.jpg"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(600, 200), photo, "jpeg"));
        const QString out = dir.filePath(QStringLiteral("thumbs"));
        QCOMPARE(kivoTool({"thumbnail", photo, "-o", out}).status, 0);
        const QImage thumbnail(out + QStringLiteral("/wide.png"));
        QCOMPARE(thumbnail.size(), QSize(120, 40));

        const Run partly = kivoTool({"thumbnail", photo, dir.filePath("absent.jpg"), "-o", out});
        QVERIFY(partly.status != 0);
        QVERIFY(partly.err.contains(QStringLiteral("absent.jpg")));
    }
};

QTEST_GUILESS_MAIN(TestToolCommands)
#include "test_tool_commands.moc"
