// The metadata rows of real camera and phone files against exiftool, an independent reader of
// the same tags: make, model, date, focal length, f-number, exposure, ISO, lens and signed GPS.

#include "imaging/source.h"
#include "panels/metadata.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <cmath>

using namespace kivo;

namespace {

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

class TestMetadataExiftool : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(TestMetadataExiftool)
#include "test_metadata_exiftool.moc"
