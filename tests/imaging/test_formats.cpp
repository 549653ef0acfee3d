// SPDX-License-Identifier: GPL-3.0-or-later
// The format runner: a folder per format (named by its MIME type) of small files written once by
// real encoders, each with the picture a viewer must show beside it (<name>.expected.png) and the
// folder's tolerance (the mean difference per channel, 0 to 255, that its codec may add). One
// test reads every file the way the viewer does and checks what each caller relies on, then
// reads them all again from several threads at once, and reads copies cut short. Content types
// come from the bytes, never the file name (except to tell TIFF-based raws apart); the orientation
// transforms move every pixel where Qt's own transforms put it; the byte-reading layer stops
// inside cut and lying containers; and pictures with an embedded profile come out in sRGB,
// whichever library has to read it (Qt for matrix profiles, lcms2 for LUT-based ones and CMYK).
#include "clutprofile.h"
#include "dngwriter.h"
#include "heifwriter.h"
#include "imaging/bytes/bytereader.h"
#include "imaging/bytes/contenttype.h"
#include "imaging/decode.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/source.h"
#include "psdwriter.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QColorTransform>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <lcms2.h>
#include <thread>
#include <vector>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

const QSize kScene(96, 64);

// Compared premultiplied, so the colour under a transparent pixel does not count.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage sa = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage sb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int y = 0; y < sa.height(); ++y)
        for (int x = 0; x < sa.width(); ++x) {
            const QRgb p = sa.pixel(x, y), q = sb.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * sa.width() * sa.height());
}

// The quadrants with the top half clear, then half transparent.
QImage translucentImage() {
    QImage picture =
        test::quadrantImage(kScene.width(), kScene.height()).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < kScene.height() / 2; ++y)
        for (int x = 0; x < kScene.width(); ++x)
            picture.setPixel(x, y,
                             (picture.pixel(x, y) & 0xffffff) |
                                 (y < kScene.height() / 4 ? 0u : 0x80000000u));
    return picture;
}

QByteArray psdOf(const QImage& picture) {
    test::PsdDocument psd;
    psd.width = picture.width();
    psd.height = picture.height();
    psd.rle = true;
    psd.planes.assign(3, std::vector<quint16>());
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c) // red, green, blue
                psd.planes[c].push_back(quint16((picture.pixel(x, y) >> (16 - 8 * c)) & 0xff));
    return psd.bytes();
}

bool cjxl(const QString& input, const QString& output, const QStringList& options) {
    QProcess encoder;
    encoder.start("cjxl", QStringList{input, output} << options);
    return encoder.waitForFinished() && encoder.exitCode() == 0;
}

// Writes the fixture folders under `root`.
class FixtureWriter {
public:
    explicit FixtureWriter(const QString& root)
        : root_(root) {}

    // A picture shown upright by the orientation tag `orientation` (1: none), written by Qt's
    // encoder.
    void tagged(const char* qtFormat, const QString& mime, const QString& extension,
                int orientation, int tolerance) {
        const QImage upright = test::quadrantImage(kScene.width(), kScene.height());
        const QImage stored = upright.transformed(test::shownForOrientation(orientation).inverted())
                                  .convertToFormat(QImage::Format_RGB32);
        const QString path =
            file(mime, QStringLiteral("tag%1").arg(orientation), extension, upright, tolerance);
        ok_ = ok_ && test::writeImage(stored, path, qtFormat, 100);
        if (orientation != 1)
            ok_ = ok_ && test::setExifTags(
                             path, {{"Exif.Image.Orientation", QString::number(orientation)}});
    }

    // A colour far enough inside the gamut to convert visibly, in a wide colour space: shown in
    // sRGB.
    void profiled(const char* qtFormat, const QString& mime, const QString& extension,
                  QColorSpace::NamedColorSpace space, int tolerance) {
        QImage picture(kScene, QImage::Format_RGB32);
        picture.fill(QColor(200, 90, 40));
        picture.setColorSpace(space);
        const QString path = file(mime, QStringLiteral("space%1").arg(int(space)), extension,
                                  picture.convertedToColorSpace(QColorSpace::SRgb), tolerance);
        ok_ = ok_ && test::writeImage(picture, path, qtFormat, 100);
    }

    void translucent(const char* qtFormat, const QString& mime, const QString& extension,
                     int tolerance) {
        const QImage picture = translucentImage();
        test::HeifFixture avif;
        avif.format = heif_compression_AV1;
        const QString path = file(mime, "translucent", extension, picture, tolerance);
        ok_ = ok_ && (qtFormat ? test::writeImage(picture, path, qtFormat, 100)
                               : test::writeHeif(picture, path, avif));
    }

    // HEIF turns by container transforms ('irot', 'imir') instead of a tag. One file holds a
    // thumbnail item, which may be stale after an edit: thumbnails come from the primary image.
    void heif(heif_compression_format compression, const QString& mime, const QString& extension,
              int orientation) {
        const QImage upright = test::quadrantImage(kScene.width(), kScene.height());
        test::HeifFixture fixture;
        fixture.format = compression;
        fixture.orientation = heif_orientation(orientation);
        fixture.thumbnailSize = orientation == 6 ? 32 : 0; // an item thumbnails must not take
        const QString name = QStringLiteral("tag%1").arg(orientation);
        ok_ = ok_ && test::writeHeif(
                         upright.transformed(test::shownForOrientation(orientation).inverted()),
                         file(mime, name, extension, upright, 12), fixture);
    }

    // A camera raw at full resolution: the demosaic of its Bayer mosaic, whether or not it
    // carries a preview.
    void dng(bool withPreview) {
        test::DngContent dng;
        dng.picture = test::quadrantImage(kScene.width() * 2, kScene.height() * 2);
        if (withPreview)
            dng.preview = dng.picture;
        ok_ = ok_ && test::writeFile(file("image/x-adobe-dng", withPreview ? "preview" : "mosaic",
                                          "dng", dng.picture, 40),
                                     test::makeDng(dng));
    }

    void psd() {
        const QImage picture = test::quadrantImage(kScene.width(), kScene.height());
        ok_ = ok_ && test::writeFile(file("image/vnd.adobe.photoshop", "merged", "psd", picture, 0),
                                     psdOf(picture));
    }

    // SVG as text: a picture of the quadrants, its size given by `root`'s attributes, with
    // `extra` drawn over it. Written gzip-compressed by the gzip tool as .svgz.
    void svg(const QString& name, const QByteArray& root, QSize shown, const QByteArray& extra = {},
             bool compressed = false) {
        const QByteArray text =
            "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- drawn by hand -->\n<!DOCTYPE svg PUBLIC "
            "\"-//W3C//DTD SVG 1.1//EN\" \"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" " +
            root +
            "><rect width=\"48\" height=\"32\" fill=\"#f00\"/><rect x=\"48\" width=\"48\" "
            "height=\"32\" fill=\"#0f0\"/><rect y=\"32\" width=\"48\" height=\"32\" "
            "fill=\"#00f\"/><rect x=\"48\" y=\"32\" width=\"48\" height=\"32\" fill=\"#fff\"/>" +
            extra + "</svg>";
        const QString mime = compressed ? "image/svg+xml-compressed" : "image/svg+xml";
        const QString path = file(mime, name, compressed ? "svgz" : "svg",
                                  test::quadrantImage(shown.width(), shown.height()), 3);
        if (!compressed) {
            ok_ = ok_ && test::writeFile(path, text);
            return;
        }
        QProcess gzip;
        gzip.start("gzip", {"-c"});
        gzip.write(text);
        gzip.closeWriteChannel();
        ok_ = ok_ && gzip.waitForFinished() && test::writeFile(path, gzip.readAllStandardOutput());
    }

    // JPEG XL by cjxl from a file Qt or ImageMagick writes: `source` is stored as `sourceType`
    // and shown as `expected`. A JPEG source is recompressed losslessly and its Exif orientation
    // moves into the codestream header.
    void jxl(const QString& name, const QImage& source, const char* sourceType,
             const QImage& expected, const QStringList& options, int orientation = 1) {
        const QString path = file("image/jxl", name, "jxl", expected, 3);
        const QString input = path + "." + sourceType;
        ok_ = ok_ && test::writeImage(source, input, sourceType, 100);
        if (orientation != 1)
            ok_ = ok_ && test::setExifTags(
                             input, {{"Exif.Image.Orientation", QString::number(orientation)}});
        encodeJxl(input, path, options);
    }

    // Three frames of plain red, green and blue, 200 ms each, through a GIF.
    void animatedJxl() {
        QStringList frames{"-delay", "20"};
        for (const QColor colour : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
            QImage frame(kScene, QImage::Format_RGB32);
            frame.fill(colour);
            frames << root_ + "/" + colour.name().mid(1) + ".png";
            ok_ = ok_ && frame.save(frames.last());
            if (colour == Qt::red)
                file("image/jxl", "animated", "jxl", frame, 3);
        }
        const QString gif = root_ + "/animated.gif";
        ok_ = ok_ && QProcess::execute("convert", frames << "-loop"
                                                         << "0" << gif) == 0;
        encodeJxl(gif, root_ + "/image_jxl/animated.jxl", {"-d", "0"});
    }

    bool ok() const { return ok_; }

private:
    void encodeJxl(const QString& input, const QString& output, const QStringList& options) {
        ok_ = ok_ && cjxl(input, output, options);
        QFile::remove(input);
    }

    QString file(const QString& mime, const QString& name, const QString& extension,
                 const QImage& expected, int tolerance) {
        QDir folder(root_);
        const QString sub = QString(mime).replace('/', '_');
        folder.mkpath(sub);
        folder.cd(sub);
        ok_ = ok_ && expected.save(folder.filePath(name + ".expected.png"));
        ok_ = ok_ && test::writeFile(folder.filePath("tolerance"), QByteArray::number(tolerance));
        return folder.filePath(name + "." + extension);
    }

    QString root_;
    bool ok_ = true;
};

// Bytes of a literal, its embedded zeros included.
template <std::size_t N> QByteArray b(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// A little-endian TIFF header whose IFD0 holds `entries`.
QByteArray tiffWith(std::vector<test::tiff::Entry> entries) {
    QByteArray file("II*\0\0\0\0\0", 8);
    const std::uint32_t ifd0 = test::tiff::appendIfd(file, std::move(entries));
    return test::tiff::withFirstIfd(file, ifd0);
}

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
// can. (Profiles split over several APP2 chunks: the byte-reader cases below.)
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

class TestFormats : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QStringList inputs_;
    QList<QImage> decoded_;

private Q_SLOTS:
    void initTestCase() {
        FixtureWriter w(root_.path());
        const struct {
            const char *qt, *mime, *extension;
            int tolerance;
        } written[] = {{"jpeg", "image/jpeg", "jpg", 4},
                       {"png", "image/png", "png", 1},
                       {"tiff", "image/tiff", "tif", 1},
                       {"webp", "image/webp", "webp", 2}};
        for (const auto& f : written) {
            for (int orientation = 1; orientation <= 8; ++orientation)
                w.tagged(f.qt, f.mime, f.extension, orientation, f.tolerance);
            for (const auto space : {QColorSpace::DisplayP3, QColorSpace::AdobeRgb})
                w.profiled(f.qt, f.mime, f.extension, space, f.tolerance);
        }
        w.translucent("png", "image/png", "png", 1);
        w.translucent("webp", "image/webp", "webp", 2);
        w.translucent(nullptr, "image/avif", "avif", 12);
        w.tagged("bmp", "image/bmp", "bmp", 1, 0);
        w.tagged("ico", "image/vnd.microsoft.icon", "ico", 1, 0);
        for (int orientation : {1, 5, 6, 7, 8}) // the turns by a quarter swap the sides
            w.heif(heif_compression_HEVC, "image/heic", "heic", orientation);
        w.heif(heif_compression_AV1, "image/avif", "avif", 3);
        w.dng(false);
        w.dng(true);
        w.psd();
        w.svg("sized", "width=\"96\" height=\"64\"", kScene);
        w.svg("viewbox", "viewBox=\"0 0 96 64\"", {1024, 683});        // 1024 on the long side
        w.svg("text", "width=\"25.4mm\" height=\"16.9333mm\"", kScene, // 96 pixels an inch
              "<text x=\"50\" y=\"60\" font-size=\"6\" fill=\"#000\">Kivo</text>");
        w.svg("animatedFirstFrame", "width=\"96px\" height=\"64px\"", kScene,
              "<rect width=\"4\" height=\"4\" fill=\"#f00\"><animate attributeName=\"fill\" "
              "from=\"#f00\" to=\"#00f\" dur=\"1s\" repeatCount=\"indefinite\"/></rect>");
        w.svg("compressed", "width=\"96\" height=\"64\"", kScene, {}, true);
        QVERIFY(w.ok());
        const QImage scene = test::quadrantImage(kScene.width(), kScene.height());
        w.jxl("still", scene, "png", scene, {"-d", "1"});
        w.jxl("progressive", scene, "png", scene, {"-d", "1", "-p"});
        QImage p3(kScene, QImage::Format_RGB32);
        p3.fill(QColor(200, 90, 40));
        p3.setColorSpace(QColorSpace::DisplayP3);
        const QImage p3Shown = p3.convertedToColorSpace(QColorSpace::SRgb);
        w.jxl("iccLossless", p3, "png", p3Shown, {"-d", "0"}); // the profile's own pixels
        w.jxl("iccXyb", p3, "png", p3Shown, {"-d", "1"});      // XYB, shown through sRGB
        for (int orientation : {3, 6})
            w.jxl(QStringLiteral("oriented%1").arg(orientation),
                  scene.transformed(test::shownForOrientation(orientation).inverted()), "jpg",
                  scene, {}, orientation);
        w.animatedJxl();
        QVERIFY2(w.ok(), "cjxl and ImageMagick's convert write the JPEG XL fixtures "
                         "(scripts/setup installs them)");
    }

    void everyFixtureReadsAsExpected() {
        for (const QFileInfo& folder :
             QDir(root_.path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString mime = folder.fileName().replace('_', '/');
            const double tolerance = test::readFile(folder.filePath() + "/tolerance").toDouble();
            for (const QFileInfo& input : QDir(folder.filePath()).entryInfoList(QDir::Files)) {
                if (input.fileName() == "tolerance" || input.fileName().endsWith(".expected.png"))
                    continue;
                inputs_ << input.filePath();
                const QString what = mime + " " + input.fileName();
                const FilePath path = filePathFromText(input.filePath());
                const QImage expected(input.path() + "/" + input.completeBaseName() +
                                      ".expected.png");

                const auto format = sniffFormat(path);
                QVERIFY2(format && (*format)->mimeType == mime, qPrintable(what));

                const auto image = decodeImage(path);
                QVERIFY2(image, qPrintable(what));
                QCOMPARE((*image)->size(), expected.size());
                QVERIFY2(meanDifference((*image)->bitmap(), expected) <= tolerance,
                         qPrintable(what));
                // An animated SVG is drawn as a still; the animated JPEG XL plays its frames.
                const bool frames = input.baseName() == "animated" && mime == "image/jxl";
                QCOMPARE((*image)->frameCount(), frames ? 3 : 1);
                decoded_ << (*image)->bitmap();

                const auto source = ImageSource::open(path);
                QVERIFY2(source, qPrintable(what));
                const auto thumbnail = source->thumbnail(48);
                QVERIFY2(thumbnail, qPrintable(what));
                QCOMPARE(thumbnail->size(), expected.size().scaled(48, 48, Qt::KeepAspectRatio));
                QVERIFY2(meanDifference(*thumbnail, expected.scaled(thumbnail->size())) <=
                             tolerance + 12,
                         qPrintable(what));
                // The properties describe the stored pixels, before any turn (a raw's, its sensor).
                const auto properties = source->properties();
                const auto stored = source->storedImage();
                QVERIFY2(properties && stored, qPrintable(what));
                if (!mime.startsWith("image/x-"))
                    QCOMPARE(QSize(properties->value(prop::PixelWidth).toInt(),
                                   properties->value(prop::PixelHeight).toInt()),
                             stored->size());

                // Over the memory budget every decoder refuses before allocating the picture.
                setDecodeBudgetBytes(1024);
                const auto refused = decodeImage(path);
                setDecodeBudgetBytes(0);
                QVERIFY2(!refused && refused.reason() == FailureReason::tooLarge, qPrintable(what));
            }
        }
        QCOMPARE(inputs_.size(), 4 * 10 + 14 + 5 + 7);
    }

    // Every decoder may run on several threads at once.
    void severalThreadsDecodeAtOnce() {
        QCOMPARE(decoded_.size(), inputs_.size());
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (qsizetype i = t; i < inputs_.size(); i += 2) {
                    const auto image = decodeImage(filePathFromText(inputs_[i]));
                    failures += !image || (*image)->bitmap() != decoded_[i];
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
    }

    // A file cut short shows what arrived at its full size or is refused; it never crashes. Like
    // every other viewer, a JPEG whose scan was cut short is shown, grey below.
    void filesCutShortDegradeQuietly() {
        QTemporaryDir dir;
        for (qsizetype i = 0; i < inputs_.size(); ++i) {
            const QByteArray bytes = test::readFile(inputs_[i]);
            for (const qsizetype length : {qsizetype(12), bytes.size() / 2, bytes.size() - 10}) {
                const QString cut =
                    dir.filePath(QStringLiteral("cut.") + QFileInfo(inputs_[i]).suffix());
                QVERIFY(test::writeFile(cut, bytes.first(length)));
                const auto image = decodeImage(filePathFromText(cut));
                const bool shown = image && (*image)->size() == decoded_[i].size();
                QVERIFY2(shown || (!image && !(cut.endsWith(".jpg") && length > bytes.size() / 2)),
                         qPrintable(inputs_[i] + " cut to " + QString::number(length)));
                if (const auto source = ImageSource::open(filePathFromText(cut))) {
                    source->thumbnail(48);
                    source->properties(); // the tag readers too
                }
            }
        }
    }

    // A JPEG XL animation's frames in any order, and a header declaring a trillion pixels,
    // refused before any allocation.
    void jpegXlFramesAndHostileHeaders() {
        // An animation's frames come in any order: an earlier one restarts the decoder.
        const ImagePtr animation = decodeFile(root_.filePath("image_jxl/animated.jxl"));
        QVERIFY(animation);
        QCOMPARE(animation->frameDelayMs(1), 200);
        QCOMPARE_LE(test::colourDistance(animation->frame(2).pixel(5, 5), QColor(Qt::blue)), 2);
        QCOMPARE_LE(test::colourDistance(animation->frame(1).pixel(5, 5), QColor(Qt::green)), 2);

        QTemporaryDir dir;
        const QString huge = dir.filePath("huge.jxl");
        QVERIFY(test::writeFile(huge, b("\xFF\x0A\xFE\xFF\x7F\x00\xF0\xFF\xFF\x03\x10")));
        const auto refused = decodeImage(filePathFromText(huge));
        QVERIFY(!refused && refused.reason() == FailureReason::tooLarge);
        const auto properties = ImageSource::open(filePathFromText(huge))->properties();
        QCOMPARE(properties->value(prop::PixelWidth).toInt(), 1 << 20);
        // Sides near 2^31 at eight bytes a pixel (a frame header of this size reached the
        // budget check): its arithmetic must not overflow.
        QVERIFY(!fitsDecodeBudget(QSize(INT_MAX, INT_MAX), 8));
        // A container whose codestream box claims 2 GB of a 44-byte file.
        QVERIFY(
            test::writeFile(huge, QByteArray::fromHex("0000000c4a584c200d0a870a00000014667479706a"
                                                      "786c20000000006a786c207fffffff6a786c63ff0a"
                                                      "fa01")));
        QVERIFY(!decodeImage(filePathFromText(huge)));
    }

    // Formats the runner has no fixtures for, the TIFF-based raws told apart by their tags or
    // (only there) by the file name, and bytes that are no image.
    void headersOfTheOtherFormats() {
        const QList<std::tuple<QByteArray, QString, QString>> cases{
            {b("\0\0\0\030ftypabcd\0\0\0\0mif1xxxx"), {}, u"image/heif"_s}, // by compatible brand
            {b("\0\0\0\030ftypcrx \0\0\0\1crx isom"), {}, u"image/x-canon-cr3"_s},
            {b("II*\0\x10\0\0\0CR\x02\0"), "tif", u"image/x-canon-cr2"_s},
            {tiffWith({test::tiff::entry(0xC612, 1, {1, 4, 0, 0})}), "tif",
             u"image/x-adobe-dng"_s}, // DNGVersion
            {tiffWith({}), "NEF", u"image/x-nikon-nef"_s},
            {tiffWith({}), "arw", u"image/x-sony-arw"_s},
            // A NEF renamed to .tif, and a scanner's TIFF that only shares the maker.
            {tiffWith({test::tiff::ascii(0x010F, "NIKON CORPORATION"),
                       test::tiff::entry(0x014A, 4, {0})}),
             "tif", u"image/x-nikon-nef"_s},
            {tiffWith({test::tiff::ascii(0x010F, "Nikon")}), "tif", u"image/tiff"_s},
            // A directory offset past the end is still a TIFF header.
            {b("II*\0\xff\xff\xff\xff"), {}, u"image/tiff"_s},
            {b("MM\0+\0\x08\0\0\0\0\0\0\0\0\0\x10"), {}, u"image/tiff"_s}, // BigTIFF
            // Not images, whatever their names say (a type of "-").
            {{}, "jpg", u"-"_s},
            {"hello, world", "png", u"-"_s},
            {b("\xFF\xD8"), {}, u"-"_s}, // cut short
            {b("\0\0\x01\0\0\0"), {}, u"-"_s},
            {"<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\"/>", {}, u"image/svg+xml"_s},
            {"<?xml version=\"1.0\"?><html><svg/></html>", "svg", u"-"_s},
            {"<!DOCTYPE svg [ <!ENTITY a \"<svg>\"> ]", "svg", u"-"_s}}; // cut in the DTD
        for (const auto& [head, extension, type] : cases) {
            const FormatInfo* format = sniffFormat(head, extension);
            QVERIFY2(format ? format->mimeType == type : type == u"-",
                     qPrintable(type + " " + extension));
        }
    }

    // What a hostile SVG could make a renderer do is refused before Qt SVG parses it: load a
    // file or URL, expand entities or <use> chains a billion-fold, recurse past the stack.
    void hostileSvgIsRefused_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("reason");
        const auto svg = [](const QByteArray& body, const QByteArray& dtd = {}) {
            return dtd +
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" "
                   "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"8\" height=\"8\">" +
                   body + "</svg>";
        };
        const int unsupported = int(FailureReason::unsupported);
        QTest::newRow("image from a file")
            << svg("<image xlink:href=\"/etc/hostname\" width=\"8\" height=\"8\"/>") << unsupported;
        QTest::newRow("image from a URL")
            << svg("<image href=\" https://example.org/a.png\" width=\"8\" height=\"8\"/>")
            << unsupported;
        QTest::newRow("use of another file")
            << svg("<use xlink:href=\"other.svg#a\"/>") << unsupported;
        QTest::newRow("external entity")
            << svg("<text>&x;</text>", "<!DOCTYPE svg [<!ENTITY x SYSTEM \"/etc/hostname\">]>")
            << unsupported;
        QByteArray laughs = "<!DOCTYPE svg [<!ENTITY a0 \"lol\">";
        for (int i = 1; i < 10; ++i)
            laughs += QStringLiteral("<!ENTITY a%1 \"%2\">")
                          .arg(i)
                          .arg(QStringLiteral("&a%1;").arg(i - 1).repeated(10))
                          .toUtf8();
        QTest::newRow("billion laughs")
            << svg("<text>&a9;</text>", laughs + "]>") << int(FailureReason::damaged);
        QTest::newRow("many entity references")
            << svg("<text>" + QByteArray("&a;").repeated(20000) + "</text>",
                   "<!DOCTYPE svg [<!ENTITY a \"" + QByteArray(4000, 'a') + "\">]>")
            << int(FailureReason::tooLarge);
        QTest::newRow("nested too deeply")
            << svg(QByteArray("<g>").repeated(100000) + QByteArray("</g>").repeated(100000))
            << unsupported;
        QByteArray fanOut = "<defs><rect id=\"l0\" width=\"1\" height=\"1\"/>";
        for (int i = 1; i < 10; ++i)
            fanOut += QStringLiteral("<g id=\"l%1\">%2</g>")
                          .arg(i)
                          .arg(QStringLiteral("<use xlink:href=\"#l%1\"/>").arg(i - 1).repeated(10))
                          .toUtf8();
        QTest::newRow("use fan-out")
            << svg(fanOut + "</defs><use xlink:href=\"#l9\"/>") << unsupported;
        QTest::newRow("use cycle")
            << svg("<g id=\"a\"><g><use xlink:href=\"#a\"/></g></g>") << unsupported;
        QTest::newRow("a size beyond reason")
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1e9\" height=\"1\"/>")
            << int(FailureReason::tooLarge);
    }
    void hostileSvgIsRefused() {
        QFETCH(QByteArray, content);
        QFETCH(int, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("hostile.svg");
        QVERIFY(test::writeFile(path, content));
        const auto image = decodeImage(filePathFromText(path));
        QVERIFY(!image);
        QCOMPARE(int(image.reason()), reason);
        // A hyperlink is only followed by a click: it does not stop the picture.
        QVERIFY(test::writeFile(path, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" "
                                      "height=\"8\"><a href=\"https://example.org\"><rect "
                                      "width=\"8\" height=\"8\"/></a></svg>"));
        QVERIFY(decodeImage(filePathFromText(path)));
    }

    // Every pixel lands where Qt's own transforms put it, for every pixel size the orienting
    // loops are instantiated for. 67x45 is not a multiple of the 4x4 blocks the 32-bit path
    // uses, so their edges are covered too.
    void applyOrientationMovesEveryPixel() {
        QImage source(67, 45, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const int v = (x * 7 + y * 131) & 0xff;
                source.setPixel(x, y, qRgb(v, v, v));
            }
        for (QImage::Format format :
             {QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB888,
              QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA64,
              QImage::Format_RGBA32FPx4}) {
            const QImage typed = source.convertToFormat(format);
            for (int o = 1; o <= 8; ++o)
                QVERIFY2(applyOrientation(typed.transformed(test::shownForOrientation(o).inverted())
                                              .convertToFormat(format),
                                          o) == typed,
                         qPrintable(QString::asprintf("format %d, orientation %d", format, o)));
        }
    }

    // The byte-reading layer on cut and lying containers: every walk stops inside the data.
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

    // Beyond each format's matrix profiles: LUT-based profiles through lcms2, 16-bit precision and
    // CMYK all come out in sRGB.
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

// Qt SVG draws text with the GUI's fonts.
QTEST_MAIN(TestFormats)
#include "test_formats.moc"
