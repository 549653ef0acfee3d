// Animation playback on the canvas: frames in order, looping, each for its own delay, turned
// like the still picture, from memory and from a GIF written by a real encoder.
#include "canvas/frameplayer.h"
#include "canvasharness.h"
#include "imaging/animation.h"
#include "imaging/decode.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace kivo;
using kivo::test::CanvasHarness;

namespace {

const QList<QColor> kColours{Qt::red, Qt::green, Qt::blue};

QImage filled(QSize size, QColor colour) {
    QImage frame(size, QImage::Format_ARGB32_Premultiplied);
    frame.fill(colour);
    return frame;
}

// Three flat frames; `broken` is a frame index that cannot be decoded.
class ColourFrames : public FrameSource {
public:
    ColourFrames(QSize size, int delayMs, int broken = -1)
        : size_(size)
        , delayMs_(delayMs)
        , broken_(broken) {}
    int frameCount() const override { return 3; }
    int frameDelayMs(int) const override { return delayMs_; }
    QImage decodeFrame(int index) override {
        return index == broken_ ? QImage() : filled(size_, kColours.at(index));
    }

private:
    QSize size_;
    int delayMs_;
    int broken_;
};

ImagePtr animation(QSize size, int delayMs, int broken = -1) {
    return Image::createAnimated(filled(size, kColours.first()),
                                 std::make_unique<ColourFrames>(size, delayMs, broken));
}

QList<int> indices(const QSignalSpy& spy) {
    QList<int> shown;
    for (const auto& arguments : spy)
        shown << arguments.first().toInt();
    return shown;
}

} // namespace

class TestFramePlayer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesLoopInOrder() {
        CanvasHarness canvas({200, 200});
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.show(animation({40, 40}, 30));
        QVERIFY(player->isPlaying());
        QTRY_VERIFY(shown.size() >= 4);
        QCOMPARE(indices(shown).mid(0, 4), (QList<int>{1, 2, 0, 1}));

        // Another picture ends the animation.
        canvas.show(Image::create(filled({40, 40}, Qt::white)));
        QVERIFY(!player->isPlaying());
        const qsizetype count = shown.size();
        QTest::qWait(100);
        QCOMPARE(shown.size(), count);
    }

    void shownFrameIsDrawnTurned() {
        CanvasHarness canvas({200, 200});
        canvas.inputs.rotation = 90;
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.show(animation({60, 20}, 40));
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(20, 60));
        QVERIFY(shown.wait(2000));
        player->stop();
        const QImage shot = canvas.grab(); // a 20 x 60 green column in the middle
        QCOMPARE(shot.pixelColor(100, 75), QColor(Qt::green));
        QCOMPARE(shot.pixelColor(80, 100), QColor(Qt::black));
    }

    void undecodableFrameEndsPlaybackQuietly() {
        CanvasHarness canvas({200, 200});
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.show(animation({40, 40}, 20, 2));
        QTRY_VERIFY(!player->isPlaying());
        QCOMPARE(indices(shown), QList<int>{1});
        QCOMPARE(canvas.grab().pixelColor(100, 100), QColor(Qt::green));
    }

    void gifFromDiskPlays() {
        const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        if (convert.isEmpty())
            QSKIP("ImageMagick's convert is needed to write an animated GIF");
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("blink.gif"));
        QCOMPARE(QProcess::execute(convert, {QStringLiteral("-size"), QStringLiteral("40x30"),
                                             QStringLiteral("-delay"), QStringLiteral("3"),
                                             QStringLiteral("xc:rgb(255,0,0)"),
                                             QStringLiteral("xc:rgb(0,255,0)"), path}),
                 0);
        const ImagePtr gif = decodeImage(FilePath(path.toStdString()));
        QVERIFY(gif && gif->isAnimated());
        CanvasHarness canvas({200, 200});
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.show(gif);
        QTRY_VERIFY(shown.size() >= 2);
        QCOMPARE(indices(shown).mid(0, 2), (QList<int>{1, 0}));
    }

    void tinyDelaysMeanAHundredMilliseconds() {
        QCOMPARE(FramePlayer::effectiveDelay(0), 100);
        QCOMPARE(FramePlayer::effectiveDelay(10), 100);
        QCOMPARE(FramePlayer::effectiveDelay(-5), 100);
        QCOMPARE(FramePlayer::effectiveDelay(20), 20);
    }
};

QTEST_MAIN(TestFramePlayer)
#include "test_frameplayer.moc"
