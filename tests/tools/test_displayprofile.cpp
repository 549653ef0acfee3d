// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool decode --display-profile against lcms2's own calculator (transicc): pictures of known
// colours converted for an Adobe RGB screen, and display profiles that must be refused.
#include "imaging/clutprofile.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <lcms2.h>

namespace {

const QString kAdobe = QStringLiteral("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
const QString kCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
const QString kGray = QStringLiteral("/usr/share/color/icc/Gray.icc");

struct Decoded {
    QColor colour;
    QString log;
};

Decoded decode(const QString& picture, const QString& profile, const QString& out) {
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_LOGGING_RULES", "kivo.imaging.info=true");
    process.setProcessEnvironment(env);
    process.start(KIVO_TOOL_PATH, {"decode", picture, "-o", out, "--display-profile", profile});
    process.waitForFinished(60000);
    const QImage image(out);
    return {process.exitCode() == 0 && !image.isNull() ? image.pixelColor(2, 2) : QColor(),
            QString::fromUtf8(process.readAllStandardError())};
}

// What lcms2's calculator says `colour` in `from` becomes on a screen with `profile`: relative
// colorimetric with black-point compensation.
QColor transicc(const QColor& colour, const QString& profile, const QString& from = "*sRGB") {
    QProcess process;
    process.start("transicc", {"-t1", "-b", "-n", "-i", from, "-o", profile});
    process.write(QStringLiteral("%1 %2 %3\n")
                      .arg(colour.red())
                      .arg(colour.green())
                      .arg(colour.blue())
                      .toLatin1());
    process.closeWriteChannel();
    process.waitForFinished(10000);
    static const QRegularExpression numbers(R"(([\d.]+)\s+([\d.]+)\s+([\d.]+)\s*$)");
    const auto match =
        numbers.match(QString::fromLatin1(process.readAllStandardOutput()).trimmed());
    if (!match.hasMatch())
        return {};
    return QColor(qRound(match.captured(1).toDouble()), qRound(match.captured(2).toDouble()),
                  qRound(match.captured(3).toDouble()));
}

// A well-formed monitor profile whose curves run backwards: lcms2 opens it without complaint.
QByteArray invertedCurvesProfile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    const cmsUInt16Number backwards[2] = {0xffff, 0};
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 2, backwards);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

// Adobe RGB to Lab as a table: a profile Qt cannot read, so lcms2 converts from it.
QByteArray adobeAsTable() {
    cmsHPROFILE adobe = cmsOpenProfileFromFile(qPrintable(kAdobe), "r");
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(adobe, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    const QByteArray bytes = kivo::test::clutProfile(
        3, 17,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* transform) -> cmsInt32Number {
            cmsDoTransform(transform, in, out, 1);
            return 1;
        },
        toLab);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(adobe);
    return bytes;
}

} // namespace

class TestDisplayProfile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
                   ? file.fileName()
                   : QString();
    }

private Q_SLOTS:
    void initTestCase() {
        if (!QFile::exists(kAdobe) || QStandardPaths::findExecutable("transicc").isEmpty())
            QSKIP("icc-profiles-free or liblcms2-utils is not installed");
    }

    // Untagged, 16-bit and tagged pictures for an Adobe RGB screen: what transicc says, and a
    // picture already in Adobe RGB keeps its values.
    void convertsAsLcmsSays_data() {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QColor>("expected");
        const QColor green(0, 200, 0), orange(230, 120, 20);
        QImage plain(8, 8, QImage::Format_RGB32);
        plain.fill(green);
        QImage deep(8, 8, QImage::Format_RGBX64);
        deep.fill(orange);
        QFile adobe(kAdobe);
        QVERIFY(adobe.open(QIODevice::ReadOnly));
        QImage tagged = plain.copy();
        tagged.setColorSpace(QColorSpace::fromIccProfile(adobe.readAll()));
        QVERIFY(plain.save(dir_.filePath("green.png")));
        QVERIFY(deep.save(dir_.filePath("orange16.png")));
        QVERIFY(tagged.save(dir_.filePath("adobe.png")));
        QTest::newRow("untagged sRGB") << dir_.filePath("green.png") << transicc(green, kAdobe);
        QTest::newRow("16-bit sRGB") << dir_.filePath("orange16.png") << transicc(orange, kAdobe);
        QTest::newRow("already Adobe RGB") << dir_.filePath("adobe.png") << green;
        // Embedded by ImageMagick, which keeps the pixels as they are.
        const QString table = write("table.icc", adobeAsTable());
        QProcess::execute(
            "convert", {dir_.filePath("green.png"), "-profile", table, dir_.filePath("table.png")});
        QTest::newRow("table-based source")
            << dir_.filePath("table.png") << transicc(green, kAdobe, table);
    }
    void convertsAsLcmsSays() {
        QFETCH(QString, picture);
        QFETCH(QColor, expected);
        QVERIFY(expected.isValid());
        const Decoded shown = decode(picture, kAdobe, dir_.filePath("out.png"));
        QVERIFY2(kivo::test::colourDistance(shown.colour, expected) <= 2,
                 qPrintable(shown.colour.name() + " instead of " + expected.name()));
    }

    // A profile that must not be used leaves the picture in sRGB, and the log says why.
    void refusesProfilesNoScreenHas_data() {
        QTest::addColumn<QString>("profile");
        QFile adobe(kAdobe);
        QVERIFY(adobe.open(QIODevice::ReadOnly));
        QTest::newRow("truncated") << write("truncated.icc", adobe.read(300));
        QTest::newRow("garbage") << write("garbage.icc", QByteArray(4000, '\x5a'));
        QTest::newRow("printer") << kCmyk;
        QTest::newRow("grey") << kGray;
        QTest::newRow("curves backwards") << write("inverted.icc", invertedCurvesProfile());
    }
    void refusesProfilesNoScreenHas() {
        QFETCH(QString, profile);
        QImage plain(8, 8, QImage::Format_RGB32);
        plain.fill(QColor(0, 200, 0));
        QVERIFY(plain.save(dir_.filePath("plain.png")));
        const Decoded shown = decode(dir_.filePath("plain.png"), profile, dir_.filePath("o.png"));
        QCOMPARE(shown.colour, QColor(0, 200, 0));
        QVERIFY2(shown.log.contains("ignoring the display profile"), qPrintable(shown.log));
    }
};

QTEST_GUILESS_MAIN(TestDisplayProfile)
#include "test_displayprofile.moc"
