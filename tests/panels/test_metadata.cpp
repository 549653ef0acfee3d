// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata rows read from files, checked against exiftool on real camera and phone files, and
// the card that shows them: fixed width, right-aligned labels, wrapping values that can be copied.
#include "imaging/source.h"
#include "panels/metadata.h"
#include "panels/metadatapanel.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>

using namespace kivo;

namespace {

QStringList labels(const QList<MetadataEntry>& rows) {
    QStringList out;
    for (const MetadataEntry& row : rows)
        out.append(row.label);
    return out;
}

QString valueOf(const QList<MetadataEntry>& rows, const QString& label) {
    for (const MetadataEntry& row : rows)
        if (row.label == label)
            return row.value;
    return QStringLiteral("<absent>");
}

QVariantMap exifOnly(const QString& key, const QVariant& value) {
    return {{prop::Exif, QVariantMap{{key, value}}}};
}

QLabel* labelWithText(const QWidget& panel, const QString& text) {
    for (auto* label : panel.findChildren<QLabel*>())
        if (label->text() == text)
            return label;
    return nullptr;
}

using Rows = QMap<QString, QString>;

QString fixed(double value, int digits) {
    return QString::number(value, 'f', digits);
}

// What the rows should say, from exiftool's numeric (-n) values.
Rows expectedRows(const QJsonObject& tags) {
    Rows rows;
    const auto text = [&](const char* tag, const char* label) {
        const QString value = tags.value(tag).toVariant().toString().trimmed();
        if (!value.isEmpty())
            rows.insert(label, value);
    };
    text("Make", "Camera");
    text("Model", "Model");
    text("DateTimeOriginal", "Date");
    text("LensModel", "Lens");
    if (tags.value("FocalLength").isDouble())
        rows.insert("Focal Length",
                    QString::number(qint64(tags.value("FocalLength").toDouble())) + "mm");
    if (tags.value("FNumber").isDouble())
        rows.insert("Aperture", "f/" + fixed(tags.value("FNumber").toDouble(), 1));
    if (const double t = tags.value("ExposureTime").toDouble(); t > 0) {
        // exiftool prints ten significant digits, so 1/60 comes out as 0.01666666667 and its
        // reciprocal a hair under 60; the nudge undoes that rounding before truncating.
        rows.insert("Shutter", t >= 1.0
                                   ? fixed(t, 1) + "s"
                                   : "1/" + QString::number(qint64(1.0 / t * (1 + 1e-9))) + "s");
    }
    if (tags.contains("ISO"))
        rows.insert("ISO", tags.value("ISO").toVariant().toString().section(' ', 0, 0));
    if (tags.value("GPSLatitude").isDouble() && tags.value("GPSLongitude").isDouble())
        rows.insert("GPS", fixed(tags.value("GPSLatitude").toDouble(), 6) + ", " +
                               fixed(tags.value("GPSLongitude").toDouble(), 6));
    return rows;
}

Rows comparedRows(const QList<MetadataEntry>& entries) {
    static const QStringList compared{"Camera",  "Model", "Date", "Focal Length", "Aperture",
                                      "Shutter", "ISO",   "Lens", "GPS"};
    Rows rows;
    for (const MetadataEntry& entry : entries)
        if (compared.contains(entry.label))
            rows.insert(entry.label, entry.value);
    return rows;
}

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formatsEachRow_data() {
        QTest::addColumn<QVariantMap>("properties");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("value"); // "<absent>" when the row must be left out

        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const auto row = [](const char* name, const QVariantMap& properties, const char* label,
                            const char* value) {
            QTest::newRow(name) << properties << QString(label) << QString(value);
        };
        row("width without height", QVariantMap{{prop::PixelWidth, 4000}}, "Dimensions",
            "<absent>");
        row("focal 4.25", exifOnly(prop::FocalLength, 4.25), "Focal Length", "4mm");
        row("focal infinite", exifOnly(prop::FocalLength, inf), "Focal Length", "<absent>");
        row("focal beyond 64 bits", exifOnly(prop::FocalLength, 1e19), "Focal Length", "<absent>");
        row("f/2.8", exifOnly(prop::FNumber, 2.8), "Aperture", "f/2.8");
        row("f/nan", exifOnly(prop::FNumber, nan), "Aperture", "<absent>");
        row("shutter 1.0", exifOnly(prop::ExposureTime, 1.0), "Shutter", "1.0s");
        row("shutter truncates", exifOnly(prop::ExposureTime, 0.3), "Shutter", "1/3s");
        row("shutter 1/391 stored as a fraction", exifOnly(prop::ExposureTime, 1.0 / 391),
            "Shutter", "1/391s");
        row("shutter zero", exifOnly(prop::ExposureTime, 0.0), "Shutter", "<absent>");
        row("shutter tiny", exifOnly(prop::ExposureTime, 1e-30), "Shutter", "<absent>");
        row("iso empty", exifOnly(prop::ISOSpeedRatings, QVariantList{}), "ISO", "<absent>");
        const auto gps = [](const QVariantMap& position) {
            return QVariantMap{{prop::GPS, position}};
        };
        row("gps lower-case south",
            gps({{prop::Latitude, 48.8584},
                 {prop::LatitudeRef, "s"},
                 {prop::Longitude, 2.2945},
                 {prop::LongitudeRef, "w"}}),
            "GPS", "48.858400, 2.294500");
        row("gps without latitude ref",
            gps({{prop::Latitude, 48.8584}, {prop::Longitude, 2.2945}, {prop::LongitudeRef, "E"}}),
            "GPS", "<absent>");
    }

    void formatsEachRow() {
        QFETCH(QVariantMap, properties);
        QFETCH(QString, label);
        QFETCH(QString, value);
        QCOMPARE(valueOf(metadataRows(std::nullopt, properties), label), value);
    }

    void keepsTableOrderAndSkipsMistypedValues() {
        // Rows follow the table whatever subset is present, and a mistyped value drops only its
        // own; the full order is checked on a real file below.
        QVariantMap mistyped{
            {prop::PixelWidth, QStringLiteral("640")},
            {prop::PixelHeight, 480},
            {prop::Depth, 8},
            {prop::TIFF, QVariantMap{{prop::Make, 5}, {prop::Model, QStringLiteral("X100")}}},
            {prop::Exif, QVariantMap{{prop::FNumber, 4}, {prop::ExposureTime, 0.01}}},
            {prop::GPS, QStringLiteral("not a dictionary")}};
        QCOMPARE(labels(metadataRows(qint64(1234), mistyped)),
                 (QStringList{"File Size", "Bit Depth", "Model", "Shutter"}));

        QCOMPARE(metadataRows(qint64(2'500'000), {}).front().value, QStringLiteral("2.5 MB"));
    }

    // Every row from a camera's tags: a make padded as cameras pad it, and an exposure of exactly
    // 1/180, whose reciprocal must truncate to 180, not 179.
    void readsRealFiles() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("tagged.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(640, 480), photo, "jpeg"));
        QVERIFY(test::setExifTags(photo, {{"Exif.Image.Make", "Canon   "},
                                          {"Exif.Image.Model", "Canon EOS 40D"},
                                          {"Exif.Photo.DateTimeOriginal", "2008:05:30 15:56:01"},
                                          {"Exif.Photo.FocalLength", "425/100"},
                                          {"Exif.Photo.FNumber", "28/10"},
                                          {"Exif.Photo.ExposureTime", "1/180"},
                                          {"Exif.Photo.ISOSpeedRatings", "100 200"},
                                          {"Exif.Photo.LensModel", "EF-S 17-85mm"},
                                          {"Exif.GPSInfo.GPSLatitudeRef", "S"},
                                          {"Exif.GPSInfo.GPSLatitude", "48/1 51/1 3024/100"},
                                          {"Exif.GPSInfo.GPSLongitudeRef", "W"},
                                          {"Exif.GPSInfo.GPSLongitude", "2/1 17/1 402/10"},
                                          {"Exif.Image.Orientation", "6"}}));
        const QList<MetadataEntry> rows = extractMetadata(filePathFromText(photo));
        const QStringList expected{"Dimensions\t640 \u00d7 480",
                                   "Bit Depth\t8 bits",
                                   "Color Model\tRGB",
                                   "Camera\tCanon",
                                   "Model\tCanon EOS 40D",
                                   "Date\t2008:05:30 15:56:01",
                                   "Focal Length\t4mm",
                                   "Aperture\tf/2.8",
                                   "Shutter\t1/180s",
                                   "ISO\t100",
                                   "Lens\tEF-S 17-85mm",
                                   "GPS\t-48.858400, -2.294500"};
        QStringList got;
        for (const MetadataEntry& row : rows.mid(1))
            got.append(row.label + '\t' + row.value);
        QCOMPARE(got, expected); // the orientation tag leaves the dimensions as stored
        QCOMPARE(rows.front().label, QStringLiteral("File Size"));
        QVERIFY(rows.front().value.endsWith(QLatin1String("kB")));

        // No TIFF, Exif or GPS dictionary: at most the first four rows. A one-bit grey PNG (from
        // PngSuite) says "1 bits". (Each format's depth and colour model: test_corpus.)
        const FilePath bilevel = filePathFromText(test::testDataPath("pngsuite/png/basn0g01.png"));
        QCOMPARE(labels(extractMetadata(bilevel)),
                 (QStringList{"File Size", "Dimensions", "Bit Depth", "Color Model"}));
        QCOMPARE(valueOf(extractMetadata(bilevel), "Bit Depth"), "1 bits");
    }

    void missingAndNonImageFiles() {
        QTemporaryDir dir;
        QVERIFY(extractMetadata(filePathFromText(dir.filePath("absent.jpg"))).isEmpty());
        QVERIFY(extractMetadata(filePathFromText(dir.path())).isEmpty());

        const QString text = dir.filePath(QStringLiteral("notes.jpg"));
        QVERIFY(test::writeFile(text, "not a picture at all\n"));
        const QList<MetadataEntry> rows = extractMetadata(filePathFromText(text));
        QCOMPARE(labels(rows), QStringList{"File Size"});
        QCOMPARE(rows.front().value, QStringLiteral("21 bytes"));
        // (Files cut inside their tags: the format runner's and the corpus test's cut files.)
    }

    // An empty list says so. The label's right edge closes its 90-point column, level with the
    // value's first line; a long value wraps inside the card, which stays 280 wide and grows
    // taller instead.
    void emptyThenRowsWrapWithinTheCard() {
        MetadataPanel panel;
        panel.setEntries({});
        panel.show();
        QVERIFY(labelWithText(panel, QStringLiteral("Metadata"))->isVisible());
        QVERIFY(labelWithText(panel, QStringLiteral("No metadata available"))->isVisible());
        QCOMPARE(panel.findChildren<QLabel*>().size(), 2);
        panel.setEntries({{QStringLiteral("File Size"), QStringLiteral("2.4 MB")}});
        panel.resize(panel.fittedSize());
        const int shortHeight = panel.fittedSize().height();
        QLabel* label = labelWithText(panel, QStringLiteral("File Size"));
        QLabel* value = panel.valueLabel(QStringLiteral("File Size"));
        QCOMPARE(label->width(), 90);
        QVERIFY(label->alignment() & Qt::AlignRight);
        QCOMPARE(label->y(), value->y());

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

    // The rows of real camera and phone files against exiftool, an independent reader of the
    // same tags: make, model, date, focal length, f-number, exposure, ISO, lens and signed GPS.
    void agreesWithExiftool_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonObject>("tags");
        const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
        if (exiftool.isEmpty())
            QSKIP("exiftool is not installed (scripts/setup installs it)");

        KIVO_REQUIRE_CORPUS(QStringLiteral("exif-samples"));
        const QString root = test::corpusPath(QStringLiteral("exif-samples"));
        QStringList files;
        QDirIterator it(root, {"*.jpg", "*.jpeg", "*.JPG", "*.HEIC", "*.heic", "*.heif"},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        QVERIFY2(files.size() > 50, "the exif-samples corpus is missing");

        // Group-qualified tags, so exiftool reports the EXIF fields themselves and not a maker
        // note's value of the same name; the composite GPS position carries the sign.
        QProcess process;
        process.start(exiftool,
                      QStringList{"-j", "-n", "-q", "-q", "-EXIF:Make", "-EXIF:Model",
                                  "-EXIF:DateTimeOriginal", "-EXIF:FocalLength", "-EXIF:FNumber",
                                  "-EXIF:ExposureTime", "-EXIF:ISO", "-EXIF:LensModel",
                                  "-Composite:GPSLatitude", "-Composite:GPSLongitude"} +
                          files);
        QVERIFY(process.waitForFinished(120'000));
        const QJsonArray reports = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
        QCOMPARE(reports.size(), files.size());
        for (const QJsonValue& report : reports) {
            const QJsonObject tags = report.toObject();
            const QString path = tags.value("SourceFile").toString();
            QTest::newRow(qPrintable(QDir(root).relativeFilePath(path))) << path << tags;
        }
    }

    void agreesWithExiftool() {
        QFETCH(QString, path);
        QFETCH(QJsonObject, tags);
        if (!ImageSource::open(filePathFromText(path)))
            QSKIP("this build's image service does not recognise the file's format");
        QCOMPARE(comparedRows(extractMetadata(filePathFromText(path))), expectedRows(tags));
    }
};

QTEST_MAIN(TestMetadata)
#include "test_metadata.moc"
