// Animation playback on the canvas: frames in order, looping, each for its own delay.
#include "canvas/frameplayer.h"
#include "canvasharness.h"

#include <QSignalSpy>

using namespace kivo;
using kivo::test::CanvasHarness;
using kivo::test::solidImage;

namespace {

const QList<QColor> kColours{Qt::red, Qt::green, Qt::blue};

AnimationFrames colourFrames(QSize size, int delayMs) {
    return {int(kColours.size()),
            [size](int i) {
                QImage frame(size, QImage::Format_ARGB32_Premultiplied);
                frame.fill(kColours.at(i));
                return frame;
            },
            [delayMs](int) { return delayMs; }};
}

} // namespace

class TestFramePlayer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesLoopInOrder() {
        CanvasHarness canvas({200, 200});
        canvas.show(solidImage(40, 40, kColours.first()));
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        player->play(colourFrames({40, 40}, 30), 0.0);
        QVERIFY(player->isPlaying());
        QTRY_VERIFY(shown.size() >= 4);
        QCOMPARE(shown.at(0).first().toInt(), 1);
        QCOMPARE(shown.at(1).first().toInt(), 2);
        QCOMPARE(shown.at(2).first().toInt(), 0); // loops
        player->stop();
        const int current = player->currentFrame();
        QTest::qWait(100);
        QCOMPARE(player->currentFrame(), current);
    }

    void shownFrameIsDrawn() {
        CanvasHarness canvas({200, 200});
        canvas.show(solidImage(40, 40, kColours.first()));
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        player->play(colourFrames({40, 40}, 1000), 0.0);
        QVERIFY(shown.wait(2000));
        player->stop();
        QCOMPARE(canvas.grab().pixelColor(100, 100), QColor(Qt::green));
    }

    void rotatedFramesAreTurned() {
        CanvasHarness canvas({200, 200});
        canvas.inputs.rotation = 90;
        canvas.show(solidImage(60, 20, kColours.first()));
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(20, 60));
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        player->play(colourFrames({60, 20}, 20), 90.0);
        QVERIFY(shown.wait(2000));
        player->stop();
        const QImage shot = canvas.grab(); // a 20 x 60 green column in the middle
        QCOMPARE(shot.pixelColor(100, 75), QColor(Qt::green));
        QCOMPARE(shot.pixelColor(80, 100), QColor(Qt::black));
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
