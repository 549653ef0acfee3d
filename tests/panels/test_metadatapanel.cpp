// The metadata card: fixed width, right-aligned grey labels, wrapping values that can be copied.
#include "panels/metadatapanel.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>

using namespace kivo;

namespace {

QLabel* labelWithText(const QWidget& panel, const QString& text) {
    for (auto* label : panel.findChildren<QLabel*>())
        if (label->text() == text)
            return label;
    return nullptr;
}

} // namespace

class TestMetadataPanel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyListSaysSo() {
        MetadataPanel panel;
        panel.setEntries({});
        panel.show();
        QVERIFY(labelWithText(panel, QStringLiteral("Metadata"))->isVisible());
        QVERIFY(labelWithText(panel, QStringLiteral("No metadata available"))->isVisible());
        QCOMPARE(panel.findChildren<QLabel*>().size(), 2);
        QCOMPARE(panel.width(), 280);
    }

    // The label's right edge closes its 90-point column, level with the value's first line; a
    // long value wraps inside the card, which stays 280 wide and grows taller instead.
    void rowsWrapWithinTheCard() {
        MetadataPanel panel;
        panel.setEntries({{QStringLiteral("File Size"), QStringLiteral("2.4 MB")}});
        panel.resize(panel.fittedSize());
        panel.show();
        const int shortHeight = panel.fittedSize().height();
        QLabel* label = labelWithText(panel, QStringLiteral("File Size"));
        QLabel* value = panel.valueLabel(QStringLiteral("File Size"));
        QCOMPARE(label->width(), 90);
        QVERIFY(label->alignment() & Qt::AlignRight);
        QCOMPARE(label->y(), value->y());
        QCOMPARE(value->x(), label->geometry().right() + 1 + 8);

        const QString lens = QStringLiteral("EF-S 18-135mm f/3.5-5.6 IS USM with a name far longer "
                                            "than any card is wide");
        panel.setEntries({{QStringLiteral("File Size"), QStringLiteral("2.4 MB")},
                          {QStringLiteral("Lens"), lens}});
        QCOMPARE(panel.valueLabel(QStringLiteral("File Size")), value); // kept, keyed by label
        panel.resize(panel.fittedSize());
        QCOMPARE(panel.fittedSize().width(), 280);
        QVERIFY(panel.fittedSize().height() > shortHeight + 2 * value->height());
        QVERIFY(panel.valueLabel(QStringLiteral("Lens"))->geometry().right() < 280);
        QVERIFY(!labelWithText(panel, QStringLiteral("No metadata available"))->isVisible());
    }

    void valuesCopyLabelsDoNot() {
        MetadataPanel panel;
        panel.setEntries({{QStringLiteral("Camera"), QStringLiteral("Canon EOS 80D")}});
        panel.show();
        QLabel* value = panel.valueLabel(QStringLiteral("Camera"));
        value->setSelection(0, int(value->text().size()));
        QTest::keyClick(value, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Canon EOS 80D"));
        QVERIFY(!(labelWithText(panel, QStringLiteral("Camera"))->textInteractionFlags() &
                  Qt::TextSelectableByMouse));
    }
};

QTEST_MAIN(TestMetadataPanel)
#include "test_metadatapanel.moc"
