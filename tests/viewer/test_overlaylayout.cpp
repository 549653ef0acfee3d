// Where the navigator, the panel and the strip stand, and when they are shown.
#include "viewer/overlaylayout.h"

#include <QTest>
#include <QWidget>

using namespace kivo;

Q_DECLARE_METATYPE(kivo::OverlayInputs)

namespace {

OverlayInputs base() {
    OverlayInputs in;
    in.viewerSize = QSize(800, 600);
    in.hasImage = true;
    in.fileCount = 5;
    in.showThumbnailBar = true;
    in.visibleRect = QRectF(0.2, 0.2, 0.5, 0.5);
    in.showsPanel = true;
    in.navigatorSize = QSize(162, 124); // a 150 x 112 map with a 6-point shadow margin
    in.navigatorShadowMargin = 6;
    in.panelSize = QSize(280, 200);
    return in;
}

} // namespace

class TestOverlayLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void placement_data() {
        QTest::addColumn<OverlayInputs>("in");
        QTest::addColumn<bool>("navigator");
        QTest::addColumn<int>("navigatorBottomInset"); // window bottom to the map's bottom
        QTest::addColumn<bool>("panel");
        QTest::addColumn<bool>("strip");

        QTest::newRow("zoomed in, strip on") << base() << true << 72 << true << true;
        auto single = base();
        single.fileCount = 1;
        QTest::newRow("one file: no strip, no lift") << single << true << 12 << true << false;
        auto stripOff = base();
        stripOff.showThumbnailBar = false;
        QTest::newRow("strip off") << stripOff << true << 12 << true << false;
        auto almostAll = base();
        almostAll.visibleRect = QRectF(0, 0, 0.995, 1);
        QTest::newRow("0.995 visible: no navigator") << almostAll << false << 0 << true << true;
        auto narrower = base();
        narrower.visibleRect = QRectF(0, 0, 1, 0.98);
        QTest::newRow("0.98 high: navigator") << narrower << true << 72 << true << true;
        auto dragging = almostAll;
        dragging.isNavigatorDragging = true;
        QTest::newRow("dragging keeps it") << dragging << true << 72 << true << true;
        auto noPanel = base();
        noPanel.showsPanel = false;
        QTest::newRow("overlay mode none") << noPanel << true << 72 << false << true;
        auto empty = base();
        empty.hasImage = false;
        QTest::newRow("no image: nothing") << empty << false << 0 << false << false;
    }

    void placement() {
        QFETCH(OverlayInputs, in);
        QFETCH(bool, navigator);
        QFETCH(int, navigatorBottomInset);
        QFETCH(bool, panel);
        QFETCH(bool, strip);
        const auto placed = placeOverlays(in);

        QCOMPARE(placed.navigator.has_value(), navigator);
        if (navigator) {
            const QRect map = placed.navigator->adjusted(6, 6, -6, -6);
            QCOMPARE(in.viewerSize.width() - 1 - map.right(), 12);
            QCOMPARE(in.viewerSize.height() - 1 - map.bottom(), navigatorBottomInset);
            QCOMPARE(placed.navigator->size(), in.navigatorSize);
        }
        QCOMPARE(placed.panel.has_value(), panel);
        if (panel)
            QCOMPARE(*placed.panel, QRect(16, 16, 280, 200));
        QCOMPARE(placed.strip.has_value(), strip);
        if (strip)
            QCOMPARE(*placed.strip, QRect(0, 540, 800, 60));
    }

    // Canvas, navigator, panel, pill, strip from back to front, whatever order they were made.
    void stacksBackToFront() {
        QWidget viewer;
        auto* strip = new QWidget(&viewer);
        auto* pill = new QWidget(&viewer);
        auto* panel = new QWidget(&viewer);
        auto* navigator = new QWidget(&viewer);
        auto* canvas = new QWidget(&viewer);
        canvas->lower();
        applyOverlayPlacement(placeOverlays(base()), navigator, panel, pill, strip);
        const QList<QWidget*> expected{canvas, navigator, panel, pill, strip};
        QCOMPARE(viewer.findChildren<QWidget*>(Qt::FindDirectChildrenOnly), expected);

        auto hidden = base();
        hidden.hasImage = false;
        applyOverlayPlacement(placeOverlays(hidden), navigator, panel, pill, strip);
        QVERIFY(navigator->isHidden() && panel->isHidden() && strip->isHidden());
    }
};

QTEST_MAIN(TestOverlayLayout)
#include "test_overlaylayout.moc"
