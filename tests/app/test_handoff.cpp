// File arguments as shells and file managers pass them, and their way through a hand-off message.
#include "app/commandline.h"
#include "app/singleinstance.h"

#include <QTest>

using namespace kivo;

class TestHandoff : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void argumentsArriveIntact_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("relative") << QByteArray("../b/c d.jpg") << QByteArray("/w/b/c d.jpg");
        QTest::newRow("home") << QByteArray("~/x.jpg") << QByteArray("/home/u/x.jpg");
        QTest::newRow("newline") << QByteArray("a\nb.jpg") << QByteArray("/w/a/a\nb.jpg");
        QTest::newRow("not UTF-8")
            << QByteArray("/p/\xff\xfe.jpg") << QByteArray("/p/\xff\xfe.jpg");
        QTest::newRow("file URI, encoded bytes")
            << QByteArray("file:///p/caf%C3%A9%20%FF.jpg") << QByteArray("/p/caf\xc3\xa9 \xff.jpg");
        QTest::newRow("file URI with a host")
            << QByteArray("file://host/p/x.jpg") << QByteArray("/p/x.jpg");
    }

    void argumentsArriveIntact() {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, expected);
        const auto line = parseCommandLine({argument, "/q.jpg"}, "/w/a", "/home/u");
        QCOMPARE(line.action, CommandLine::Action::run);
        const auto received = handoff::decode(handoff::encode(line.files));
        QVERIFY(received);
        QCOMPARE(received->size(), size_t(2)); // in order, nothing merged or split
        QCOMPARE(QByteArray::fromStdString(received->front().native()), expected);
        QCOMPARE(QByteArray::fromStdString(received->back().native()), QByteArray("/q.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "test_handoff.moc"
