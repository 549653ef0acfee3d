#include "imaging/source.h"
#include "support/testsupport.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

std::optional<QVariantMap> propertiesOf(const QString& path) {
    const auto source = ImageSource::open(filePathFromText(path));
    if (!source)
        return std::nullopt;
    return source->properties();
}

QVariantMap sub(const QVariantMap& map, const QString& key) {
    return map.value(key).toMap();
}

} // namespace

class TestProperties : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exifFieldsWithTheirTypes();
    void layoutOfEachFormat_data();
    void layoutOfEachFormat();
    void jpegColourModels();
    void heifFromPhones();
    void hostileFilesDegradeQuietly();
    void concurrentReadsOfXmpFiles();
};

void TestProperties::exifFieldsWithTheirTypes() {
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("tagged.jpg"));
    QVERIFY(test::writeImage(test::quadrantImage(320, 200), photo, "jpeg"));
    QVERIFY(test::setExifTags(photo, {{"Exif.Image.Make", "NIKON CORPORATION   "},
                                      {"Exif.Image.Model", "NIKON D70"},
                                      {"Exif.Image.Orientation", "8"},
                                      {"Exif.Photo.DateTimeOriginal", "2008:10:22 16:28:39"},
                                      {"Exif.Photo.FocalLength", "50/1"},
                                      {"Exif.Photo.FNumber", "71/10"},
                                      {"Exif.Photo.ExposureTime", "1/180"},
                                      {"Exif.Photo.ISOSpeedRatings", "400"},
                                      {"Exif.Photo.LensModel", "18-70mm"},
                                      {"Exif.GPSInfo.GPSLatitudeRef", "N"},
                                      {"Exif.GPSInfo.GPSLatitude", "43/1 28/1 281/100"},
                                      {"Exif.GPSInfo.GPSLongitudeRef", "E"},
                                      {"Exif.GPSInfo.GPSLongitude", "11/1 53/1 0/0"},
                                      {"Xmp.dc.title", "a title to make exiv2 parse XMP"}}));
    const auto properties = propertiesOf(photo);
    QVERIFY(properties);
    const QVariantMap& top = *properties;
    QCOMPARE(top.value(prop::PixelWidth), QVariant(320));
    QCOMPARE(top.value(prop::PixelHeight), QVariant(200));
    QCOMPARE(top.value(prop::Depth), QVariant(8));
    QCOMPARE(top.value(prop::ColorModel), QVariant(QStringLiteral("RGB")));
    QCOMPARE(top.value(prop::HasAlpha), QVariant(false));
    QCOMPARE(top.value(prop::Orientation), QVariant(8));

    const QVariantMap tiff = sub(top, prop::TIFF);
    QCOMPARE(tiff.value(prop::Make), QVariant(QStringLiteral("NIKON CORPORATION"))); // unpadded
    QCOMPARE(tiff.value(prop::Model), QVariant(QStringLiteral("NIKON D70")));
    const QVariantMap exif = sub(top, prop::Exif);
    QCOMPARE(exif.value(prop::DateTimeOriginal).typeId(), QMetaType::QString);
    QCOMPARE(exif.value(prop::FocalLength), QVariant(50.0));
    QCOMPARE(exif.value(prop::FNumber), QVariant(7.1));
    // Exactly 1/180 as a double, so its reciprocal truncates to 180, not 179.
    QCOMPARE(exif.value(prop::ExposureTime), QVariant(1.0 / 180.0));
    QCOMPARE(exif.value(prop::ISOSpeedRatings), QVariant(QVariantList{400}));
    QCOMPARE(exif.value(prop::LensModel), QVariant(QStringLiteral("18-70mm")));
    const QVariantMap gps = sub(top, prop::GPS);
    QCOMPARE(gps.value(prop::Latitude).typeId(), QMetaType::Double);
    QVERIFY(qAbs(gps.value(prop::Latitude).toDouble() - (43 + 28 / 60.0 + 2.81 / 3600)) < 1e-12);
    QCOMPARE(gps.value(prop::LatitudeRef), QVariant(QStringLiteral("N")));
    QVERIFY(!gps.contains(prop::Longitude)); // a zero denominator has no value
    QVERIFY(!top.contains(prop::ProfileName));

    const auto profiled = propertiesOf(test::corpusPath("exif-samples/jpg/Nikon_D70.jpg"));
    QVERIFY(profiled);
    QCOMPARE(profiled->value(prop::ProfileName), QVariant(QStringLiteral("sRGB IEC61966-2.1")));
}

void TestProperties::layoutOfEachFormat_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("colorModel");
    QTest::addColumn<bool>("hasAlpha");
    const auto png = [](const char* name) {
        return test::corpusPath(QStringLiteral("pngsuite/png/") + name);
    };
    QTest::newRow("png 1-bit grey") << png("basn0g01.png") << QSize(32, 32) << 1 << "Gray" << false;
    QTest::newRow("png 16-bit rgba") << png("basn6a16.png") << QSize(32, 32) << 16 << "RGB" << true;
    QTest::newRow("png palette") << png("basn3p08.png") << QSize(32, 32) << 8 << "RGB" << false;
    QTest::newRow("png grey+alpha") << png("basn4a08.png") << QSize(32, 32) << 8 << "Gray" << true;
    QTest::newRow("tiff with associated alpha")
        << test::corpusPath(QStringLiteral("exif-samples/tiff/Arbitro.tiff")) << QSize(174, 38) << 8
        << "RGB" << true;
    QTest::newRow("tiff without alpha")
        << test::corpusPath(QStringLiteral("exif-samples/tiff/Picoawards.tiff")) << QSize(436, 547)
        << 8 << "RGB" << false;
}

void TestProperties::layoutOfEachFormat() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(int, depth);
    QFETCH(QString, colorModel);
    QFETCH(bool, hasAlpha);
    const auto properties = propertiesOf(path);
    QVERIFY(properties);
    QCOMPARE(properties->value(prop::PixelWidth), QVariant(size.width()));
    QCOMPARE(properties->value(prop::PixelHeight), QVariant(size.height()));
    QCOMPARE(properties->value(prop::Depth), QVariant(depth));
    QCOMPARE(properties->value(prop::ColorModel), QVariant(colorModel));
    QCOMPARE(properties->value(prop::HasAlpha, false), QVariant(hasAlpha));
}

void TestProperties::jpegColourModels() {
    // Qt's JPEG writer makes only RGB and grey files; ImageMagick writes the CMYK one.
    QTemporaryDir dir;
    const QString grey = dir.filePath(QStringLiteral("grey.jpg"));
    QVERIFY(test::writeImage(test::quadrantImage(40, 30).convertToFormat(QImage::Format_Grayscale8),
                             grey, "jpeg"));
    QCOMPARE(propertiesOf(grey)->value(prop::ColorModel), QVariant(QStringLiteral("Gray")));

    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        QSKIP("ImageMagick is not installed (scripts/setup installs it)");
    const QString cmyk = dir.filePath(QStringLiteral("cmyk.jpg"));
    QVERIFY(QProcess::execute(convert, {grey, "-colorspace", "CMYK", cmyk}) == 0);
    const auto properties = propertiesOf(cmyk);
    QVERIFY(properties);
    QCOMPARE(properties->value(prop::ColorModel), QVariant(QStringLiteral("CMYK")));
    QCOMPARE(properties->value(prop::PixelWidth), QVariant(40));
}

void TestProperties::heifFromPhones() {
    const QString path = test::corpusPath(QStringLiteral("exif-samples/heic/IMG_5195.HEIC"));
    if (!ImageSource::open(filePathFromText(path)))
        QSKIP("this build's image service does not recognise HEIF yet");
    const auto properties = propertiesOf(path);
    QVERIFY(properties);
    // The primary image is an edited crop: its own size, not the camera's EXIF dimensions.
    QCOMPARE(properties->value(prop::PixelWidth), QVariant(2566));
    QCOMPARE(properties->value(prop::PixelHeight), QVariant(3313));
    QCOMPARE(sub(*properties, prop::TIFF).value(prop::Make), QVariant(QStringLiteral("Apple")));
    QCOMPARE(sub(*properties, prop::Exif).value(prop::ISOSpeedRatings), QVariant(QVariantList{32}));
    QCOMPARE(sub(*properties, prop::GPS).value(prop::LongitudeRef), QVariant(QStringLiteral("W")));
}

void TestProperties::hostileFilesDegradeQuietly() {
    // Truncated blocks, wrong types, huge counts: each file gives some answer, none throws.
    QStringList files;
    for (const char* folder : {"exif-samples/jpg/invalid", "exif-samples/jpg/tests"}) {
        QDirIterator it(test::corpusPath(QString::fromLatin1(folder)), {"*.jpg", "*.jpeg"},
                        QDir::Files);
        while (it.hasNext())
            files.append(it.next());
    }
    files.append(test::corpusPath(QStringLiteral("exif-samples/jpg/corrupted.jpg")));
    QDirIterator broken(test::corpusPath(QStringLiteral("pngsuite/png")), {"x*.png"}, QDir::Files);
    while (broken.hasNext())
        files.append(broken.next());
    QVERIFY(files.size() > 20);
    for (const QString& file : files)
        propertiesOf(file);

    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("cut.jpg"));
    QVERIFY(QFile::copy(test::corpusPath(QStringLiteral("exif-samples/jpg/Canon_40D.jpg")), cut));
    QFile file(cut);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(600));
    file.close();
    propertiesOf(cut);
}

void TestProperties::concurrentReadsOfXmpFiles() {
    // exiv2's XMP toolkit keeps process-wide tables; reads from several threads must not race.
    const QStringList files{
        test::corpusPath(QStringLiteral("exif-samples/jpg/xmp/BlueSquare.jpg")),
        test::corpusPath(QStringLiteral("exif-samples/jpg/xmp/no_exif.jpg")),
        test::corpusPath(QStringLiteral("exif-samples/jpg/Canon_40D_photoshop_import.jpg")),
        test::corpusPath(QStringLiteral("exif-samples/jpg/long_description.jpg"))};
    QList<std::optional<QVariantMap>> once;
    for (const QString& file : files)
        once.append(propertiesOf(file));
    QList<std::optional<QVariantMap>> parallel(4 * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (qsizetype i = t; i < parallel.size(); i += 4)
                parallel[i] = propertiesOf(files[i % files.size()]);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (qsizetype i = 0; i < parallel.size(); ++i)
        QCOMPARE(parallel[i], once[i % files.size()]);
}

QTEST_MAIN(TestProperties)
#include "test_properties.moc"
