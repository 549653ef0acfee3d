// Animated GIF and WebP: the first frame at once, the others on demand, from several threads at
// once. (Still pictures of every format have one frame: the format runner, test_formats.)
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
const int kDurations[] = {200, 500, 0};

bool hasColour(const QImage& frame, QColor colour) {
    return !frame.isNull() && test::colourDistance(frame.pixelColor(20, 15), colour) < 8;
}

// Three flat 40x30 frames lasting 200 ms, 500 ms and 0 ms, as ImageMagick writes them.
bool writeGif(const QString& path) {
    const QString convert = QStandardPaths::findExecutable("convert");
    return !convert.isEmpty() &&
           QProcess::execute(convert,
                             {"-size", "40x30", "-delay", "20", "xc:rgb(255,0,0)", "-delay", "50",
                              "xc:rgb(0,255,0)", "-delay", "0", "xc:rgb(0,0,255)", path}) == 0;
}

// The same three frames through libwebp's animation encoder, lossless.
bool writeWebp(const QString& path) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoder* encoder =
        WebPAnimEncoderOptionsInit(&options) ? WebPAnimEncoderNew(40, 30, &options) : nullptr;
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
        timestamp += kDurations[i];
    }
    WebPData data;
    WebPDataInit(&data);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &data);
    ok = ok && test::writeFile(path, QByteArray(reinterpret_cast<const char*>(data.bytes),
                                                qsizetype(data.size)));
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
        QTest::newRow("gif") << "anim.gif";
        QTest::newRow("webp") << "anim.webp";
    }

    void framesAndDelays() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!(name.endsWith("gif") ? writeGif(path) : writeWebp(path)))
            QSKIP("no encoder for this format");
        const auto decoded = decodeImage(filePathFromText(path));
        QVERIFY(decoded && (*decoded)->isAnimated());
        const ImagePtr image = *decoded;
        QCOMPARE(image->frameCount(), 3);
        QCOMPARE(image->size(), QSize(40, 30));
        QCOMPARE(image->frameDelayMs(0), 200);
        QCOMPARE(image->frameDelayMs(1), 500);
        QCOMPARE(image->frameDelayMs(2), 100); // "as fast as possible" plays at 10 fps
        QVERIFY(hasColour(image->bitmap(), Qt::red));
        // Out of order on purpose: going back restarts the decoder from the first frame.
        for (int i : {2, 1, 0, 2, 1})
            QVERIFY2(hasColour(image->frame(i), kFrameColours[i]), qPrintable(QString::number(i)));
        QVERIFY(image->frame(3).isNull() && image->frame(-1).isNull());
        // Several threads may ask one image for its frames at once.
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < t + 90; ++i)
                    wrong += !hasColour(image->frame(i % 3), kFrameColours[i % 3]);
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAnimation)
#include "test_animation.moc"
