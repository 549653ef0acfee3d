// kivo-tool type, decode and props, run as a user would run them.
#include "support/testsupport.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivo;

namespace {

struct Run {
    int status;
    QStringList out;
    int ownErrorLines; // Qt's own chatter (XDG_RUNTIME_DIR and the like) is not ours to count
    QString ownErrors;
};

Run kivoTool(const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(KIVO_TOOL_PATH, args);
    process.waitForFinished(60000);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            int(err.split('\n').filter(QRegularExpression("^kivo-tool:")).size()),
            err.split('\n').filter(QRegularExpression("^kivo-tool:")).join('\n')};
}

} // namespace

class TestDecodeCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typeDecodeAndPropsOfATurnedPhoto() {
        QTemporaryDir dir;
        const QString jpeg = dir.filePath("turned.jpg"), out = dir.filePath("out.png");
        const QString png = dir.filePath("a.jpg"); // a misleading name
        QVERIFY(test::writeImage(test::quadrantImage(8, 8), png, "png"));
        QVERIFY(test::writeImage(test::quadrantImage(60, 40).transformed(QTransform().rotate(-90)),
                                 jpeg, "jpeg", 95));
        QVERIFY(test::setExifTags(
            jpeg, {{"Exif.Image.Orientation", "6"}, {"Exif.Image.Make", "Kivo Camera Works"}}));
        QCOMPARE(kivoTool({"type", png}).out, QStringList{"image/png"});
        const Run two = kivoTool({"type", png, jpeg});
        QCOMPARE(two.status, 0);
        QCOMPARE(two.out, QStringList({png + ": image/png", jpeg + ": image/jpeg"}));

        QCOMPARE(kivoTool({"decode", jpeg, "-o", out}).status, 0);
        const QImage decoded(out);
        QCOMPARE(decoded.size(), QSize(60, 40));
        QVERIFY(decoded.pixelColor(10, 10).red() > 200 && decoded.pixelColor(50, 30).blue() > 200);
        const Run props = kivoTool({"props", jpeg});
        QCOMPARE(props.status, 0);
        for (const char* line : {"ContentType = image/jpeg", "PixelWidth = 40", "Orientation = 6",
                                 "  Make = Kivo Camera Works"}) // the width as stored, not shown
            QVERIFY2(props.out.contains(line), line);
    }

    // Each refusal is one line saying why: a damaged, an unknown, an unreadable file and a FIFO
    // (which must not block) give four different reasons, and no picture is written.
    void refusalsSayWhyInOneLine() {
        QTemporaryDir dir;
        const QString cut = dir.filePath("cut.png"), text = dir.filePath("notes.jpg"),
                      locked = dir.filePath("locked.jpg"), fifo = dir.filePath("pipe.jpg");
        QVERIFY(test::writeImage(test::quadrantImage(64, 64), cut, "png"));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(file.size() / 2));
        file.close();
        QFile notes(text);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("just text") > 0);
        notes.close();
        QVERIFY(QFile::copy(cut, locked));
        QVERIFY(QFile::setPermissions(locked, {}));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString out = dir.filePath("o.png");
        for (const QString& path : {text, dir.filePath("missing.png")})
            for (const char* command : {"type", "props"}) {
                const Run run = kivoTool({command, path});
                QVERIFY2(run.status != 0 && run.ownErrorLines == 1, command);
            }
        QStringList reasons;
        for (const QString& path : {cut, text, locked, fifo}) {
            const Run run = kivoTool({"decode", path, "-o", out});
            QVERIFY(run.status != 0);
            QCOMPARE(run.ownErrorLines, 1);
            reasons << run.ownErrors.section(": ", 2, 2).section(" (", 0, 0);
        }
        if (::geteuid() == 0) // root reads anything: only three to tell apart
            reasons.removeAt(2);
        reasons.removeDuplicates();
        QCOMPARE(reasons.size(), ::geteuid() == 0 ? 3 : 4);
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(TestDecodeCli)
#include "test_decode_cli.moc"
