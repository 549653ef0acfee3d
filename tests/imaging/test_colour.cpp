// Pictures with an embedded profile come out in sRGB, whichever library has to read the
// profile: Qt for matrix profiles, lcms2 for LUT-based ones and CMYK. (Each format's matrix
// profiles, and alpha, are read by the format runner, test_formats.)
#include "clutprofile.h"
#include "imaging/colour.h"
#include "imaging/decode.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QColorTransform>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <lcms2.h>

using namespace kivo;

namespace {

const QColor kSample(200, 90, 40); // far enough from the gamut edge to convert visibly
const QColorSpace kP3(QColorSpace::DisplayP3);

QImage filled(QImage::Format format, QColor colour, const QColorSpace& space) {
    QImage image(32, 24, format);
    image.fill(colour);
    image.setColorSpace(space);
    return image;
}

// What the sample becomes in sRGB, computed in floating point by Qt.
QColor inSrgb(const QColorSpace& space) {
    return space.transformationToColorSpace(QColorSpace::SRgb).map(kSample);
}

// Display P3 as a 33-point CLUT from RGB to Lab: QColorSpace cannot read such a profile, lcms2
// can. (Profiles split over several APP2 chunks: the byte-reader cases of test_formats.)
QByteArray lutBasedDisplayP3() {
    const QByteArray matrix = kP3.iccProfile();
    cmsHPROFILE p3 = cmsOpenProfileFromMem(matrix.constData(), cmsUInt32Number(matrix.size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(p3, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    const QByteArray bytes = test::clutProfile(
        3, 33,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
            cmsDoTransform(cargo, in, out, 1);
            return 1;
        },
        toLab);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(p3);
    return bytes;
}

ImagePtr decodeFile(const QString& path) {
    auto image = decodeImage(filePathFromText(path));
    return image ? *image : nullptr;
}

} // namespace

class TestColour : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A 16-bit PNG is converted at 16 bits: the result is the float reference rounded once.
    void sixteenBitPngKeepsPrecision() {
        QImage deep(256, 1, QImage::Format_RGBX64);
        for (int x = 0; x < 256; ++x)
            deep.setPixelColor(x, 0, QColor::fromRgba64(quint16(x * 257 + 128), 30000, 5000));
        deep.setColorSpace(kP3);
        QTemporaryDir dir;
        const QString path = dir.filePath("deep.png");
        QVERIFY(test::writeImage(deep, path, "png"));
        const ImagePtr image = decodeFile(path);
        QVERIFY(image);
        const QColorTransform toSrgb = kP3.transformationToColorSpace(QColorSpace::SRgb);
        for (int x = 0; x < 256; x += 17)
            QCOMPARE_LE(test::colourDistance(image->bitmap().pixel(x, 0),
                                             toSrgb.map(deep.pixelColor(x, 0)).toRgb()),
                        1);
    }

    // The HEIF and raw decoders hand over pixels tagged with their colour space (an iPhone's
    // 10-bit Display P3 arrives as 16-bit) or with a raw ICC profile; both come out as sRGB.
    void codecPixelsConvertByTagOrProfile() {
        const QColor expected = inSrgb(kP3);
        QCOMPARE_GT(test::colourDistance(kSample.rgb(), expected), 6); // the conversion is visible
        const QImage fromTag = toDisplaySrgb(filled(QImage::Format_RGBX64, kSample, kP3));
        QCOMPARE(fromTag.format(), QImage::Format_RGB32);
        QCOMPARE_LE(test::colourDistance(fromTag.pixel(3, 3), expected), 1);
        const QImage plain = filled(QImage::Format_RGB32, kSample, {});
        QCOMPARE_LE(
            test::colourDistance(toDisplaySrgb(plain, kP3.iccProfile()).pixel(3, 3), expected), 1);
        // A large picture is converted to its last row.
        QImage large(2100, 2000, QImage::Format_RGB32);
        large.fill(kSample);
        const QByteArray lut = lutBasedDisplayP3();
        QVERIFY(!QColorSpace::fromIccProfile(lut).isValid()); // really beyond QColorSpace: lcms2
        for (const QByteArray& icc : {kP3.iccProfile(), lut}) {
            const QImage converted = toDisplaySrgb(large, icc);
            for (int y : {0, 999, 1000, 1999})
                QCOMPARE_LE(test::colourDistance(converted.pixel(2099, y), expected), 2);
        }
        // A profile nobody can read leaves the pixels alone rather than failing the picture.
        QCOMPARE(toDisplaySrgb(plain, QByteArray(200, 'x')).pixelColor(3, 3), kSample);
    }

    // CMYK JPEGs as Photoshop and ImageMagick write them: inverted ink with an Adobe marker.
    void cmykJpegShowsItsColours() {
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed (scripts/setup installs it)");
        QTemporaryDir dir;
        const QString path = dir.filePath("cmyk.jpg");
        QCOMPARE(QProcess::execute(convert, {"-size", "32x24", "xc:rgb(200,90,40)", "-colorspace",
                                             "CMYK", "-quality", "100", path}),
                 0);
        const ImagePtr image = decodeFile(path);
        QVERIFY(image);
        QCOMPARE_LE(test::colourDistance(image->bitmap().pixel(16, 12), kSample), 6);
    }
};

QTEST_GUILESS_MAIN(TestColour)
#include "test_colour.moc"
