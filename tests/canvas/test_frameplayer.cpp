// Animation playback on the canvas: frames in order, looping, turned like the still picture,
// ended by the next picture or by a frame that cannot be decoded.
#include "canvas/frameplayer.h"
#include "canvasharness.h"
#include "imaging/animation.h"

#include <QSignalSpy>

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

} // namespace

class TestFramePlayer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesLoopTurnedLikeTheStillUntilTheNextPicture() {
        CanvasHarness canvas({200, 200});
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.inputs.rotation = 90;
        canvas.show(animation());
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(20, 60));
        QTRY_VERIFY(shown.size() >= 4);
        player->stop();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(shown.at(i).first().toInt(), (i + 1) % 3);
        const QImage shot = canvas.grab(); // a 20 x 60 column in the middle
        QCOMPARE(shot.pixelColor(100, 75), kColours.at(shown.last().first().toInt()));
        QCOMPARE(shot.pixelColor(80, 100), QColor(Qt::black));

        canvas.show(animation());
        canvas.show(solidImage(40, 40, Qt::white));
        QVERIFY(!player->isPlaying());
        const qsizetype count = shown.size();
        QTest::qWait(100);
        QCOMPARE(shown.size(), count);

        // A frame that cannot be decoded ends playback on the last good one.
        canvas.show(animation(2));
        QTRY_VERIFY(!player->isPlaying());
        QCOMPARE(shown.last().first().toInt(), 1);
        QTRY_COMPARE(canvas.grab().pixelColor(100, 100), QColor(Qt::green)); // faded in
    }
};

QTEST_MAIN(TestFramePlayer)
#include "test_frameplayer.moc"
