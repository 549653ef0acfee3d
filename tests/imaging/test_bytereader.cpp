// The byte-reading layer on cut and lying containers: every walk stops inside the data.
#include "imaging/bytereader.h"

#include <QTest>

using namespace kivo;

namespace {

template <std::size_t N> QByteArray b(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

} // namespace

class TestByteReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readerFailsForGoodAfterAShortRead() {
        const QByteArray bytes = b("\x01\x02\x03");
        ByteReader in(bytes, false);
        QCOMPARE(int(in.u16()), 0x0201);
        QCOMPARE(int(in.u16()), 0);
        QCOMPARE(int(in.u8()), 0); // one byte is left, but the reader has already failed
        QVERIFY(!in.ok());
        QVERIFY(!ByteReader(b("\x01")).peek(-1, 1));
    }

    void jpegWalks_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("segments");
        QTest::addColumn<bool>("headerEnds");
        QTest::newRow("fill bytes and a restart marker") << b("\xFF\xD8\xFF\xFF\xE0\x00\x02\xFF\xD0"
                                                              "\xFF\xDA\x00\x02")
                                                         << 1 << true;
        QTest::newRow("length past the end") << b("\xFF\xD8\xFF\xE1\x40\x00"
                                                  "Exif\xFF\xDA")
                                             << 0 << false;
        QTest::newRow("length below two")
            << b("\xFF\xD8\xFF\xE1\x00\x01\xFF\xDA\x00\x02") << 0 << false;
        QTest::newRow("not a JPEG") << b("\xFF\xD9\xFF\xDA\x00\x02") << 0 << false;
    }
    void jpegWalks() {
        QFETCH(QByteArray, file);
        QFETCH(int, segments);
        QFETCH(bool, headerEnds);
        JpegSegments walk(file);
        int count = 0;
        while (walk.next())
            ++count;
        QCOMPARE(count, segments);
        QCOMPARE(walk.headerEnd().has_value(), headerEnds);
    }

    void iccProfileNeedsEveryChunk() {
        const QByteArray chunk2 = b("\xFF\xE2\x00\x14ICC_PROFILE\0\x02\x02tail");
        const QByteArray chunk1 = b("\xFF\xE2\x00\x14ICC_PROFILE\0\x01\x02head");
        QCOMPARE(readJpegHeader(b("\xFF\xD8") + chunk2 + chunk1).icc, b("headtail"));
        QVERIFY(readJpegHeader(b("\xFF\xD8") + chunk2).icc.isEmpty());
    }

    void tiffDirectoryCutShort() {
        // IFD0 declares three entries; one and a half are there. The Make value points past the
        // end.
        const QByteArray tiff =
            b("MM\0\x2A\0\0\0\x08\0\x03\x01\x0F\0\x02\0\0\0\x10\0\0\x10\0\x01\x12\0\x03");
        const auto reader = TiffReader::open(tiff);
        QVERIFY(reader && reader->bigEndian());
        const TiffDirectory ifd0 = reader->directory(reader->firstDirectory());
        QCOMPARE(ifd0.entries.size(), std::size_t(1));
        QVERIFY(!ifd0.complete());
        QVERIFY(!reader->values(ifd0.entries[0]));
        QVERIFY(!ifd0.find(0x0112));
        QVERIFY(!TiffReader::open(b("II\x2B\0\x08\0\0\0"))); // BigTIFF
    }

    void boxesStopAtTheFirstThatDoesNotFit() {
        // A box, a 64-bit sized box, then one claiming more than its container holds.
        const QByteArray data = b("\0\0\0\x09"
                                  "ftypX"
                                  "\0\0\0\x01meta\0\0\0\0\0\0\0\x11Y"
                                  "\0\0\0\x40"
                                  "free");
        const std::vector<Box> boxes = childBoxes(data);
        QCOMPARE(boxes.size(), std::size_t(2));
        QCOMPARE(boxes[1].type, fourcc("meta"));
        QCOMPARE(boxes[1].payload, QByteArrayView("Y"));
        QVERIFY(!readBoxHeader(b("\0\0\0\x04"
                                 "free"),
                               100)); // smaller than its own header
        QCOMPARE(readBoxHeader(b("\0\0\0\0mdat"), 100)->size,
                 std::uint64_t(100)); // size 0: to the end
    }
};

QTEST_APPLESS_MAIN(TestByteReader)
#include "test_bytereader.moc"
