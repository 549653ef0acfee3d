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
using namespace kivo::test;

namespace {

const QList<QColor> kColours{Qt::red, Qt::green, Qt::blue};

// Three flat 60 x 20 frames, 20 ms each; `broken` is a frame index that cannot be decoded.
struct ColourFrames : FrameSource {
    int broken = -1;
    int frameCount() const override { return 3; }
    int frameDelayMs(int) const override { return 20; }
    QImage decodeFrame(int index) override {
        return index == broken ? QImage() : solidImage(60, 20, kColours.at(index))->bitmap();
    }
};

ImagePtr animation(int broken = -1) {
    auto frames = std::make_unique<ColourFrames>();
    frames->broken = broken;
    QImage first = frames->decodeFrame(0); // before the frames are handed over
    return Image::createAnimated(std::move(first), std::move(frames));
}

// A canvas whose player's shown frames are recorded.
struct PlayerHarness : CanvasHarness {
    FramePlayer* player = view.coordinator().framePlayer();
    QSignalSpy spy{player, &FramePlayer::frameShown};
    PlayerHarness()
        : CanvasHarness({200, 200}) {}
    QList<int> shown() const {
        QList<int> indices;
        for (const auto& arguments : spy)
            indices << arguments.first().toInt();
        return indices;
    }
};

} // namespace

class TestFramePlayer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesLoopInOrderTurnedLikeTheStill() {
        PlayerHarness canvas;
        canvas.inputs.rotation = 90;
        canvas.show(animation());
        QVERIFY(canvas.player->isPlaying());
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(20, 60));
        QTRY_VERIFY(canvas.spy.size() >= 4);
        canvas.player->stop();
        QCOMPARE(canvas.shown().mid(0, 4), (QList<int>{1, 2, 0, 1}));
        const QImage shot = canvas.grab(); // a 20 x 60 column in the middle
        QCOMPARE(shot.pixelColor(100, 75), kColours.at(canvas.shown().last()));
        QCOMPARE(shot.pixelColor(80, 100), QColor(Qt::black));

        // Another picture ends the animation.
        canvas.show(animation());
        canvas.show(solidImage(40, 40, Qt::white));
        QVERIFY(!canvas.player->isPlaying());
        const qsizetype count = canvas.spy.size();
        QTest::qWait(100);
        QCOMPARE(canvas.spy.size(), count);
    }

    void undecodableFrameEndsPlaybackQuietly() {
        PlayerHarness canvas;
        canvas.show(animation(2));
        QTRY_VERIFY(!canvas.player->isPlaying());
        QCOMPARE(canvas.shown(), QList<int>{1});
        QCOMPARE(canvas.grab().pixelColor(100, 100), QColor(Qt::green));
    }

    void gifFromDiskPlays() {
        const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        if (convert.isEmpty())
            QSKIP("ImageMagick's convert is needed to write an animated GIF");
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("blink.gif"));
        const QStringList arguments = QStringLiteral("-size 40x30 -delay 3 xc:rgb(255,0,0) "
                                                     "xc:rgb(0,255,0)")
                                          .split(QLatin1Char(' '));
        QCOMPARE(QProcess::execute(convert, arguments + QStringList{path}), 0);
        const auto gifDecoded = decodeImage(FilePath(path.toStdString()));
        const ImagePtr gif = gifDecoded ? *gifDecoded : nullptr;
        QVERIFY(gif && gif->isAnimated());
        PlayerHarness canvas;
        canvas.show(gif);
        QTRY_VERIFY(canvas.spy.size() >= 2);
        QCOMPARE(canvas.shown().mid(0, 2), (QList<int>{1, 0}));
    }

    void tinyDelaysMeanAHundredMilliseconds() {
        for (const auto& [asked, effective] : {std::pair{0, 100}, {10, 100}, {-5, 100}, {20, 20}})
            QCOMPARE(FramePlayer::effectiveDelay(asked), effective);
    }
};

QTEST_MAIN(TestFramePlayer)
#include "test_frameplayer.moc"
