// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the sample folder the viewer opens when it is started without a file: a few pictures
// drawn here, saved in several formats, the JPEGs carrying real EXIF fields.
#include <QColorSpace>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <exiv2/exiv2.hpp>

namespace {

QImage drawLandscape(int width, int height, QColor sky, QColor sun, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0.0, sky.darker(160));
    gradient.setColorAt(0.6, sky);
    gradient.setColorAt(1.0, sky.lighter(150));
    p.fillRect(image.rect(), gradient);
    QRadialGradient glow(width * 0.7, height * 0.35, height * 0.25);
    glow.setColorAt(0.0, sun);
    glow.setColorAt(0.4, sun.darker(110));
    glow.setColorAt(1.0, Qt::transparent);
    p.fillRect(image.rect(), glow);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hills;
        hills.moveTo(0, height);
        for (int x = 0; x <= width; x += 8) {
            const double y =
                height * (0.62 + 0.1 * layer) +
                height * 0.06 * std::sin((x + seed * 97 + layer * 211) / (60.0 + 25 * layer));
            hills.lineTo(x, y);
        }
        hills.lineTo(width, height);
        hills.closeSubpath();
        p.fillPath(hills,
                   QColor::fromHsv((120 + seed * 40 + layer * 15) % 360, 120, 110 - layer * 30));
    }
    // An arrow in the top-left corner shows which way is up.
    p.setPen(QPen(Qt::white, std::max(2, width / 200)));
    p.drawLine(width / 20, height / 5, width / 20, height / 20);
    p.drawLine(width / 20, height / 20, width / 40, height / 10);
    p.drawLine(width / 20, height / 20, width * 3 / 40, height / 10);
    return image;
}

bool setExif(const QString& path, const char* make, const char* model, const char* date,
             bool withGps) {
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Image.Make"] = make;
        exif["Exif.Image.Model"] = model;
        exif["Exif.Image.Orientation"] = uint16_t(1);
        exif["Exif.Photo.DateTimeOriginal"] = date;
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
        exif["Exif.Photo.LensModel"] = "Kivo Sample 35mm f/2.8";
        if (withGps) {
            exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
            exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 3024/100";
            exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
            exif["Exif.GPSInfo.GPSLongitude"] = "2/1 17/1 4020/100";
        }
        image->writeMetadata();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    if (app.arguments().size() != 2) {
        QTextStream(stderr) << "usage: kivo-make-samples OUTPUT_FOLDER\n";
        return 2;
    }
    QDir out(app.arguments().at(1));
    if (!out.mkpath(QStringLiteral(".")))
        return 1;

    struct Sample {
        const char* name;
        const char* format;
        int width, height;
        QColor sky, sun;
    };
    const Sample samples[] = {
        {"01 Morning.jpg", "jpeg", 3000, 2000, QColor(90, 140, 210), QColor(255, 230, 150)},
        {"02 Dusk.jpg", "jpeg", 2000, 3000, QColor(150, 80, 120), QColor(255, 150, 80)},
        {"03 Meadow.png", "png", 1600, 1000, QColor(110, 170, 230), QColor(255, 255, 200)},
        {"04 Lake.webp", "webp", 1800, 1200, QColor(60, 110, 170), QColor(240, 240, 255)},
        {"05 Night.tiff", "tiff", 1200, 800, QColor(20, 30, 70), QColor(220, 220, 255)},
        {"06 Icon.bmp", "bmp", 400, 400, QColor(200, 90, 60), QColor(255, 220, 120)},
        {"07 Badge.ico", "ico", 256, 256, QColor(90, 200, 160), QColor(255, 255, 255)},
        {"10 Noon.jpg", "jpeg", 1200, 1200, QColor(120, 180, 240), QColor(255, 255, 230)},
    };
    int seed = 0;
    for (const Sample& s : samples) {
        QImage image = drawLandscape(s.width, s.height, s.sky, s.sun, seed++);
        image.setColorSpace(QColorSpace::SRgb);
        const QString path = out.filePath(QString::fromUtf8(s.name));
        if (!image.save(path, s.format, 90)) {
            QTextStream(stderr) << "kivo-make-samples: cannot write " << path << '\n';
            return 1;
        }
        if (qstrcmp(s.format, "jpeg") == 0)
            setExif(path, "Kivo", "Sample Camera", "2026:06:21 07:30:00", seed == 1);
    }
    return 0;
}
