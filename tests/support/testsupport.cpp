#include "testsupport.h"

#include <QImageWriter>
#include <QPainter>
#include <exiv2/exiv2.hpp>

namespace kivo::test {

PrivateSettings::PrivateSettings()
    : settings_(std::make_unique<QSettings>(dir_.filePath(QStringLiteral("settings.ini")),
                                            QSettings::IniFormat)) {}

QString corpusPath(const QString& relative) {
    return QStringLiteral(KIVO_CORPUS_DIR "/") + relative;
}

bool writeImage(const QImage& image, const QString& path, const char* format, int quality) {
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    return writer.write(image);
}

QImage quadrantImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    const int hw = width / 2, hh = height / 2;
    p.fillRect(0, 0, hw, hh, Qt::red);
    p.fillRect(hw, 0, width - hw, hh, Qt::green);
    p.fillRect(0, hh, hw, height - hh, Qt::blue);
    p.fillRect(hw, hh, width - hw, height - hh, Qt::white);
    return image;
}

bool setExifTags(const QString& path, const QList<QPair<QString, QString>>& tags) {
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        for (const auto& [key, value] : tags) {
            const std::string k = key.toStdString();
            if (key.startsWith(QLatin1String("Xmp.")))
                image->xmpData()[k] = value.toStdString();
            else
                image->exifData()[k] = value.toStdString();
        }
        image->writeMetadata();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kivo::test
