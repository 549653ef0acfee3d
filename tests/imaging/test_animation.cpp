// Animated GIF and WebP: the first frame at once, the others on demand, from any thread.
#include "imaging/decode.h"
#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>
#include <webp/encode.h>
#include <webp/mux.h>

using namespace kivo;

namespace {

const QList<QColor> kFrameColours{Qt::red, Qt::green, Qt::blue};

bool hasColour(const QImage& frame, QColor colour) {
    if (frame.isNull())
        return false;
    const QColor actual = frame.pixelColor(frame.width() / 2, frame.height() / 2);
    return std::abs(actual.red() - colour.red()) < 8 &&
           std::abs(actual.green() - colour.green()) < 8 &&
           std::abs(actual.blue() - colour.blue()) < 8;
}

// Three flat frames lasting 200 ms, 500 ms and 0 ms, as ImageMagick writes them.
bool writeGif(const QString& path) {
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        return false;
    return QProcess::execute(convert, {QStringLiteral("-size"), QStringLiteral("40x30"),
                                       QStringLiteral("-delay"), QStringLiteral("20"),
                                       QStringLiteral("xc:rgb(255,0,0)"), QStringLiteral("-delay"),
                                       QStringLiteral("50"), QStringLiteral("xc:rgb(0,255,0)"),
                                       QStringLiteral("-delay"), QStringLiteral("0"),
                                       QStringLiteral("xc:rgb(0,0,255)"), path}) == 0;
}

// The same three frames through libwebp's animation encoder, lossless.
bool writeWebp(const QString& path) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options))
        return false;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(40, 30, &options);
    const int durations[] = {200, 500, 0};
    int timestamp = 0;
    bool ok = encoder != nullptr;
    for (int i = 0; ok && i < 3; ++i) {
        QImage frame(40, 30, QImage::Format_RGBA8888);
        frame.fill(kFrameColours[i]);
        WebPConfig config;
        WebPConfigInit(&config);
        config.lossless = 1;
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = 40;
        picture.height = 30;
        picture.use_argb = 1;
        ok = WebPPictureImportRGBA(&picture, frame.constBits(), int(frame.bytesPerLine())) &&
             WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += durations[i];
    }
    WebPData data;
    WebPDataInit(&data);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &data);
    if (ok) {
        QFile file(path);
        ok = file.open(QIODevice::WriteOnly) &&
             file.write(reinterpret_cast<const char*>(data.bytes), qint64(data.size)) ==
                 qint64(data.size);
    }
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return ok;
}

} // namespace

class TestAnimation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesAndDelays_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("gif") << QStringLiteral("anim.gif");
        QTest::newRow("webp") << QStringLiteral("anim.webp");
    }

    void framesAndDelays() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!(name.endsWith(QLatin1String("gif")) ? writeGif(path) : writeWebp(path)))
            QSKIP("no encoder for this format");
        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QVERIFY(image->isAnimated());
        QCOMPARE(image->frameCount(), 3);
        QCOMPARE(image->size(), QSize(40, 30));
        QCOMPARE(image->frameDelayMs(0), 200);
        QCOMPARE(image->frameDelayMs(1), 500);
        QCOMPARE(image->frameDelayMs(2), 100); // "as fast as possible" plays at 10 fps
        QCOMPARE(image->frameDelayMs(3), 0);
        QVERIFY(hasColour(image->bitmap(), Qt::red));
        // Out of order on purpose: going back restarts the decoder from the first frame.
        for (int i : {2, 1, 0, 2, 1})
            QVERIFY2(hasColour(image->frame(i), kFrameColours[i]), qPrintable(QString::number(i)));
        QVERIFY(image->frame(3).isNull());
        QVERIFY(image->frame(-1).isNull());
    }

    void framesFromSeveralThreadsAtOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("anim.webp"));
        QVERIFY(writeWebp(path));
        for (int round = 0; round < 5; ++round) {
            const ImagePtr image = decodeImage(filePathFromText(path));
            QVERIFY(image);
            std::atomic<int> wrong{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([&, t] {
                    for (int i = 0; i < 30; ++i) {
                        const int index = (i + t) % 3;
                        if (!hasColour(image->frame(index), kFrameColours[index]))
                            ++wrong;
                    }
                });
            for (std::thread& thread : threads)
                thread.join();
            QCOMPARE(wrong.load(), 0);
        }
    }

    void stillPicturesHaveOneFrame() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("still.webp"));
        QVERIFY(test::writeImage(test::quadrantImage(20, 10), path, "webp", 100));
        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QCOMPARE(image->frameCount(), 1);
        QVERIFY(!image->isAnimated());
        QCOMPARE(image->frameDelayMs(0), 0);
        QCOMPARE(image->frame(0).cacheKey(), image->bitmap().cacheKey());
        QVERIFY(image->frame(1).isNull());
    }
};

QTEST_GUILESS_MAIN(TestAnimation)
#include "test_animation.moc"
